#include "skin/SkinBitmap.h"

#include <QDir>
#include <QPaintEngine>
#include <QPainter>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <algorithm>
#include <compare>
#include <cstddef>
#include <deque>
#include <map>
#include <utility>

#include "skin/artwork/ArtworkCatalogue.h"

// The resource initialiser lives in this static library; referencing it here
// keeps the linker from dropping it.
static void InitialiseSkinResources() {
    Q_INIT_RESOURCE(bitmaps);
}

namespace kavrel {
namespace {

// Enough for every control of the main window and a dialog at a few sizes
// each, while a window is dragged through many sizes.
constexpr std::size_t kPictureCacheEntries = 256;

struct ResourceBitmap {
    QString path;
    bool decoded = false;
    QImage image;
};

// Every bitmap resource by id, decoded when first asked for. Listing them
// up front keeps the map as small as the resources, whatever ids are asked.
std::map<int, ResourceBitmap>& ResourceBitmaps() {
    static std::map<int, ResourceBitmap> bitmaps = [] {
        InitialiseSkinResources();
        std::map<int, ResourceBitmap> found;
        const QDir folder(QStringLiteral(":/bitmaps"));
        const QStringList names = folder.entryList({QStringLiteral("*.bmp")}, QDir::Files);
        for (const QString& name : names) {
            bool isNumber = false;
            const int id = name.chopped(4).toInt(&isNumber);
            // "<id>.bmp" exactly: what LoadSkinBitmap has always opened.
            if (isNumber && name == QStringLiteral("%1.bmp").arg(id))
                found.emplace(id, ResourceBitmap{folder.filePath(name), false, QImage()});
        }
        return found;
    }();
    return bitmaps;
}

const std::map<int, artwork::ArtworkEntry>& Drawings() {
    static const std::map<int, artwork::ArtworkEntry> drawings = [] {
        std::map<int, artwork::ArtworkEntry> byId;
        for (artwork::ArtworkEntry& entry : artwork::Catalogue())
            byId.emplace(entry.id, std::move(entry));
        return byId;
    }();
    return drawings;
}

// The ratio is part of the key only so that a picture is never handed out
// with another screen's ratio; controls of one size on one screen share.
struct PictureKey {
    int id = 0;
    int width = 0;
    int height = 0;
    qreal ratio = 1;
    auto operator<=>(const PictureKey&) const = default;
};

class PictureCache {
  public:
    const QImage* Find(const PictureKey& key) const {
        const auto it = m_pictures.find(key);
        return it == m_pictures.end() ? nullptr : &it->second;
    }

    void Insert(const PictureKey& key, const QImage& picture) {
        if (!m_pictures.emplace(key, picture).second)
            return;
        m_order.push_back(key);
        if (m_order.size() > kPictureCacheEntries) {
            m_pictures.erase(m_order.front());
            m_order.pop_front();
        }
    }

  private:
    std::map<PictureKey, QImage> m_pictures;
    std::deque<PictureKey> m_order;  // oldest first
};

PictureCache& Pictures() {
    static PictureCache cache;
    return cache;
}

}  // namespace

QImage LoadSkinBitmap(int id) {
    std::map<int, ResourceBitmap>& bitmaps = ResourceBitmaps();
    const auto it = bitmaps.find(id);
    if (it == bitmaps.end())
        return QImage();
    ResourceBitmap& bitmap = it->second;
    if (!bitmap.decoded) {
        bitmap.image = QImage(bitmap.path);
        bitmap.decoded = true;
    }
    return bitmap.image;
}

QImage SkinPicture(int id, QSize logicalSize, qreal devicePixelRatio) {
    if (logicalSize.isEmpty() || !(devicePixelRatio > 0))
        return QImage();
    const QSize pixels(std::max(1, qRound(logicalSize.width() * devicePixelRatio)),
                       std::max(1, qRound(logicalSize.height() * devicePixelRatio)));
    const PictureKey key{id, pixels.width(), pixels.height(), devicePixelRatio};
    PictureCache& cache = Pictures();
    if (const QImage* cached = cache.Find(key))
        return *cached;

    QImage picture;
    const std::map<int, artwork::ArtworkEntry>& drawings = Drawings();
    if (const auto drawing = drawings.find(id); drawing != drawings.end()) {
        picture = artwork::Render(drawing->second, pixels);
    } else {
        const QImage bitmap = LoadSkinBitmap(id);
        if (bitmap.isNull())
            return QImage();
        picture = bitmap.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    picture.setDevicePixelRatio(devicePixelRatio);
    cache.Insert(key, picture);
    return picture;
}

bool HasSkinPicture(int id) {
    return Drawings().contains(id) || !LoadSkinBitmap(id).isNull();
}

void DrawSkinPicture(QPainter& painter, const QRect& target, int id) {
    if (target.isEmpty())
        return;
    // The painter's device is the widget even while it paints into another
    // device (QWidget::render); the engine knows the real one.
    const QPaintEngine* engine = painter.paintEngine();
    const QPaintDevice* device =
        engine && engine->paintDevice() ? engine->paintDevice() : painter.device();
    const QImage picture = SkinPicture(id, target.size(), device->devicePixelRatioF());
    if (!picture.isNull())
        painter.drawImage(target, picture);
}

QFont SkinFont(QSize windowSize) {
    // The handheld's screen, where 10 points was chosen.
    constexpr qreal kBaseWidth = 480;
    constexpr qreal kBaseHeight = 640;
    const qreal scale = std::max<qreal>(
        1, std::min(windowSize.width() / kBaseWidth, windowSize.height() / kBaseHeight));
    QFont font(QStringLiteral("Liberation Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(10 * scale);
    return font;
}

QFont SkinFont(const QWidget& widget) {
    return SkinFont(widget.window()->size());
}

int ScreenHeightOf(const QWidget& widget) {
    return widget.window()->height();
}

}  // namespace kavrel
