#include "platform/TextCodec.h"

namespace kavrel {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

void AppendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}

}  // namespace

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                const char32_t c = 0x10000 + ((char32_t(unit) - 0xD800) << 10) +
                                   (char32_t(text[i + 1]) - 0xDC00);
                AppendUtf8(out, c);
                ++i;
            } else {
                AppendUtf8(out, kReplacement);
            }
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

std::u16string FromUtf8(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        const unsigned char lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        int extra = 0;
        char32_t c = 0;
        char32_t minimum = 0;
        if ((lead & 0xE0) == 0xC0) {
            extra = 1, c = lead & 0x1F, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, c = lead & 0x0F, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, c = lead & 0x07, minimum = 0x10000;
        } else {
            out.push_back(static_cast<char16_t>(kReplacement));
            ++i;
            continue;
        }
        size_t j = 1;
        bool ok = true;
        for (; j <= static_cast<size_t>(extra); ++j) {
            if (i + j >= bytes.size()) {
                ok = false;
                break;
            }
            const unsigned char next = static_cast<unsigned char>(bytes[i + j]);
            if ((next & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            c = (c << 6) | (next & 0x3F);
        }
        if (!ok || c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            // One replacement for the maximal ill-formed prefix, then resync.
            out.push_back(static_cast<char16_t>(kReplacement));
            i += (j == 0 ? 1 : j);
            continue;
        }
        AppendUtf16(out, c);
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

}  // namespace kavrel
