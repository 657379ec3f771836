#include "onvif/Replies.h"

#include <QTimeZone>
#include <QXmlStreamReader>
#include <memory>

namespace kavrel::onvif {

namespace {

// The whole reply read into a small tree first, with every bound checked
// while reading, so that the parsers below need not guard against anything.
constexpr int kMaxNodes = 65536;
constexpr int kMaxAttributes = 16;

struct Node {
    QString name;  // local name
    QString text;  // character data directly inside, trimmed
    std::vector<std::pair<QString, QString>> attributes;
    std::vector<std::unique_ptr<Node>> children;

    const Node* Child(QStringView local) const {
        for (const auto& c : children) {
            if (c->name == local) {
                return c.get();
            }
        }
        return nullptr;
    }
    // The first descendant (depth first) with this local name.
    const Node* Find(QStringView local) const {
        for (const auto& c : children) {
            if (c->name == local) {
                return c.get();
            }
            if (const Node* n = c->Find(local)) {
                return n;
            }
        }
        return nullptr;
    }
    // Every descendant with this local name, not descending into matches.
    void FindAll(QStringView local, std::vector<const Node*>& out) const {
        for (const auto& c : children) {
            if (c->name == local) {
                out.push_back(c.get());
            } else {
                c->FindAll(local, out);
            }
        }
    }
    QString Attribute(QStringView local) const {
        for (const auto& [k, v] : attributes) {
            if (k == local) {
                return v;
            }
        }
        return {};
    }
    QString TextOf(QStringView local) const {
        const Node* n = Find(local);
        return n != nullptr ? n->text : QString();
    }
};

std::unique_ptr<Node> ReadTree(const QByteArray& body) {
    if (body.size() > kMaxReplyBytes) {
        return nullptr;
    }
    QXmlStreamReader reader(body);
    auto root = std::make_unique<Node>();
    std::vector<Node*> stack{root.get()};
    int nodes = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
            case QXmlStreamReader::StartElement: {
                if (static_cast<int>(stack.size()) > kMaxDepth || ++nodes > kMaxNodes) {
                    return nullptr;
                }
                auto node = std::make_unique<Node>();
                node->name = reader.name().toString();
                const auto attributes = reader.attributes();
                if (attributes.size() > kMaxAttributes) {
                    return nullptr;
                }
                for (const auto& a : attributes) {
                    if (a.value().size() > kMaxTextChars) {
                        return nullptr;
                    }
                    node->attributes.emplace_back(a.name().toString(), a.value().toString());
                }
                Node* raw = node.get();
                stack.back()->children.push_back(std::move(node));
                stack.push_back(raw);
                break;
            }
            case QXmlStreamReader::EndElement:
                stack.back()->text = stack.back()->text.trimmed();
                stack.pop_back();
                break;
            case QXmlStreamReader::Characters:
                if (stack.back()->text.size() + reader.text().size() > kMaxTextChars) {
                    return nullptr;
                }
                stack.back()->text += reader.text();
                break;
            default:
                break;
        }
    }
    if (reader.hasError() || root->children.empty()) {
        return nullptr;
    }
    return root;
}

// The camera gives addresses as it will (another host, or a path relative to
// its device service for the caller to resolve); we take only the schemes we speak.
QUrl ServiceUrl(const QString& text, bool relativeAllowed = true) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (relativeAllowed && url.isValid() && url.isRelative() && !url.path().isEmpty()) {
        return url;
    }
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != "http" && scheme != "https") || url.host().isEmpty()) {
        return {};
    }
    return url;
}

int ToInt(const QString& text) {
    bool ok = false;
    const int v = text.toInt(&ok);
    return ok && v > 0 && v <= 1 << 16 ? v : 0;
}

// A SOAP code's value is a QName; only its local part says anything.
QString LocalPart(const QString& qname) {
    const qsizetype colon = qname.lastIndexOf(u':');
    return colon < 0 ? qname : qname.mid(colon + 1);
}

}  // namespace

std::optional<Fault> ParseFault(const QByteArray& body) {
    const auto tree = ReadTree(body);
    const Node* fault = tree ? tree->Find(u"Fault") : nullptr;
    if (fault == nullptr) {
        return std::nullopt;
    }
    Fault f;
    if (const Node* code = fault->Child(u"Code")) {
        f.code = LocalPart(code->TextOf(u"Value"));
        // Subcodes nest; the innermost with a value says most (an empty
        // nested one must not hide a NotAuthorized around it).
        for (const Node* sub = code->Find(u"Subcode"); sub != nullptr;
             sub = sub->Child(u"Subcode")) {
            if (const QString value = LocalPart(sub->TextOf(u"Value")); !value.isEmpty()) {
                f.subcode = value;
            }
        }
    }
    if (const Node* reason = fault->Child(u"Reason")) {
        f.reason = reason->TextOf(u"Text");
    }
    return f;
}

std::optional<QDateTime> ParseSystemDateAndTime(const QByteArray& body) {
    const auto tree = ReadTree(body);
    const Node* utc = tree ? tree->Find(u"UTCDateTime") : nullptr;
    if (utc == nullptr) {
        return std::nullopt;
    }
    const Node* date = utc->Child(u"Date");
    const Node* time = utc->Child(u"Time");
    if (date == nullptr || time == nullptr) {
        return std::nullopt;
    }
    const QDate d(date->TextOf(u"Year").toInt(), date->TextOf(u"Month").toInt(),
                  date->TextOf(u"Day").toInt());
    const QTime t(time->TextOf(u"Hour").toInt(), time->TextOf(u"Minute").toInt(),
                  time->TextOf(u"Second").toInt());
    if (!d.isValid() || !t.isValid()) {
        return std::nullopt;
    }
    return QDateTime(d, t, QTimeZone::utc());
}

std::optional<ServiceAddresses> ParseServices(const QByteArray& body) {
    const auto tree = ReadTree(body);
    if (!tree) {
        return std::nullopt;
    }
    ServiceAddresses out;
    if (const Node* caps = tree->Find(u"Capabilities")) {
        if (const Node* m = caps->Child(u"Media")) {
            out.media = ServiceUrl(m->TextOf(u"XAddr"));
        }
        if (const Node* p = caps->Child(u"PTZ")) {
            out.ptz = ServiceUrl(p->TextOf(u"XAddr"));
        }
        if (const Node* i = caps->Child(u"Imaging")) {
            out.imaging = ServiceUrl(i->TextOf(u"XAddr"));
        }
        return out;
    }
    std::vector<const Node*> services;
    tree->FindAll(u"Service", services);
    if (services.empty()) {
        return std::nullopt;
    }
    for (const Node* s : services) {
        const QString ns = s->TextOf(u"Namespace");
        const QUrl url = ServiceUrl(s->TextOf(u"XAddr"));
        if (ns == "http://www.onvif.org/ver10/media/wsdl") {
            out.media = url;
        } else if (ns == "http://www.onvif.org/ver20/ptz/wsdl") {
            out.ptz = url;
        } else if (ns == "http://www.onvif.org/ver20/imaging/wsdl") {
            out.imaging = url;
        }
    }
    return out;
}

std::optional<std::vector<Profile>> ParseProfiles(const QByteArray& body) {
    const auto tree = ReadTree(body);
    const Node* response = tree ? tree->Find(u"GetProfilesResponse") : nullptr;
    if (response == nullptr) {
        return std::nullopt;
    }
    std::vector<const Node*> nodes;
    response->FindAll(u"Profiles", nodes);
    if (static_cast<int>(nodes.size()) > kMaxProfiles) {
        return std::nullopt;
    }
    std::vector<Profile> out;
    for (const Node* n : nodes) {
        Profile p;
        p.token = n->Attribute(u"token");
        if (p.token.isEmpty()) {
            return std::nullopt;
        }
        if (const Node* name = n->Child(u"Name")) {
            p.name = name->text;
        }
        if (const Node* source = n->Child(u"VideoSourceConfiguration")) {
            p.videoSourceToken = source->TextOf(u"SourceToken");
        }
        if (const Node* encoder = n->Child(u"VideoEncoderConfiguration")) {
            p.encoding = encoder->TextOf(u"Encoding");
            if (const Node* resolution = encoder->Find(u"Resolution")) {
                p.width = ToInt(resolution->TextOf(u"Width"));
                p.height = ToInt(resolution->TextOf(u"Height"));
            }
        }
        p.hasPtz = n->Child(u"PTZConfiguration") != nullptr;
        out.push_back(std::move(p));
    }
    return out;
}

std::optional<QUrl> ParseStreamUri(const QByteArray& body) {
    const auto tree = ReadTree(body);
    const Node* media = tree ? tree->Find(u"MediaUri") : nullptr;
    if (media == nullptr) {
        return std::nullopt;
    }
    const QUrl url(media->TextOf(u"Uri"), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != "rtsp" && scheme != "rtsps") || url.host().isEmpty()) {
        return std::nullopt;
    }
    return url;
}

std::optional<std::vector<Preset>> ParsePresets(const QByteArray& body) {
    const auto tree = ReadTree(body);
    const Node* response = tree ? tree->Find(u"GetPresetsResponse") : nullptr;
    if (response == nullptr) {
        return std::nullopt;
    }
    std::vector<const Node*> nodes;
    response->FindAll(u"Preset", nodes);
    if (static_cast<int>(nodes.size()) > kMaxPresets) {
        return std::nullopt;
    }
    std::vector<Preset> out;
    for (const Node* n : nodes) {
        Preset p{n->Attribute(u"token"), n->TextOf(u"Name")};
        if (p.token.isEmpty()) {
            return std::nullopt;
        }
        out.push_back(std::move(p));
    }
    return out;
}

bool ParseImagingOptions(const QByteArray& body, ImagingOptions& options) {
    const auto tree = ReadTree(body);
    if (!tree || tree->Find(u"Body") == nullptr) {
        return false;
    }
    if (const Node* continuous = tree->Find(u"Continuous")) {
        options.focusContinuous = continuous->Find(u"Speed") != nullptr;
    }
    if (const Node* exposure = tree->Find(u"Exposure")) {
        if (const Node* iris = exposure->Child(u"Iris")) {
            bool minOk = false, maxOk = false;
            const double lo = iris->TextOf(u"Min").toDouble(&minOk);
            const double hi = iris->TextOf(u"Max").toDouble(&maxOk);
            if (minOk && maxOk && lo < hi) {
                options.hasIris = true;
                options.irisMin = lo;
                options.irisMax = hi;
            }
        }
    }
    return true;
}

std::optional<double> ParseIris(const QByteArray& body) {
    const auto tree = ReadTree(body);
    const Node* exposure = tree ? tree->Find(u"Exposure") : nullptr;
    const Node* iris = exposure ? exposure->Child(u"Iris") : nullptr;
    bool ok = false;
    const double v = iris ? iris->text.toDouble(&ok) : 0;
    return ok ? std::optional<double>(v) : std::nullopt;
}

std::optional<std::vector<ProbeMatch>> ParseProbeMatches(const QByteArray& body) {
    const auto tree = ReadTree(body);
    const Node* matches = tree ? tree->Find(u"ProbeMatches") : nullptr;
    if (matches == nullptr) {
        return std::nullopt;
    }
    std::vector<const Node*> nodes;
    matches->FindAll(u"ProbeMatch", nodes);
    if (static_cast<int>(nodes.size()) > kMaxProfiles) {
        return std::nullopt;
    }
    std::vector<ProbeMatch> out;
    for (const Node* n : nodes) {
        ProbeMatch m;
        m.endpoint = n->TextOf(u"Address");
        for (const QString& x : n->TextOf(u"XAddrs").split(u' ', Qt::SkipEmptyParts)) {
            if (QUrl url = ServiceUrl(x, false); !url.isEmpty()) {
                m.xaddrs.push_back(url);
            }
        }
        m.scopes = n->TextOf(u"Scopes").split(u' ', Qt::SkipEmptyParts);
        out.push_back(std::move(m));
    }
    return out;
}

}  // namespace kavrel::onvif
