// History entries and recent-value lists: parsing, display text, and format
// then parse back. Arbitrary text must never crash or read out of bounds;
// fields without the terminators round-trip exactly.

#include <cstdint>
#include <string>
#include <vector>

#include "config/StreamUrl.h"
#include "platform/TextCodec.h"
#include "settings/HistoryEntry.h"

namespace {

std::vector<std::u16string> SplitOnNul(const std::u16string& text) {
    std::vector<std::u16string> parts(1);
    for (char16_t c : text) {
        if (c == 0) {
            parts.emplace_back();
        } else {
            parts.back().push_back(c);
        }
    }
    return parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::u16string text =
        kavrel::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));

    // Whole input as a stored entry and as a stored list.
    const auto fields = kavrel::ParseHistoryEntry(text);
    const std::u16string display = kavrel::HistoryDisplayText(text);
    if (!fields[0].has_value() && !display.empty())
        __builtin_trap();
    if (fields[0].has_value()) {
        // An RTSP URL is shown without its password, and without the port field.
        const bool shown = kavrel::IsStreamUrl(*fields[0])
                               ? display == kavrel::RedactedUrl(*fields[0])
                               : display.rfind(*fields[0] + u":", 0) == 0;
        if (!shown)
            __builtin_trap();
    }
    (void)kavrel::SplitRecentValues(text);
    (void)kavrel::MaskHistoryPassword(text);

    // Pieces as five fields: format, parse back, display.
    std::vector<std::u16string> pieces = SplitOnNul(text);
    pieces.resize(5);
    bool plain = true;
    for (const auto& p : pieces)
        plain = plain && p.find(u'!') == std::u16string::npos;
    const std::u16string entry =
        kavrel::FormatHistoryEntry(pieces[0], pieces[1], pieces[2], pieces[3], pieces[4]);
    const auto back = kavrel::ParseHistoryEntry(entry);
    for (int i = 0; i < 5; ++i) {
        if (!back[i].has_value())
            __builtin_trap();  // five terminators are always there
        if (plain && *back[i] != pieces[i])
            __builtin_trap();
    }
    if (plain &&
        kavrel::HistoryDisplayText(entry) != kavrel::ServerDisplayText(pieces[0], pieces[1])) {
        __builtin_trap();
    }
    // The debug line never shows a password that stands in no other field.
    const std::u16string masked = kavrel::MaskHistoryPassword(entry);
    bool passwordElsewhere = std::u16string(u"!.!***").find(pieces[3]) != std::u16string::npos ||
                             kavrel::RedactedUrl(pieces[0]).find(pieces[3]) != std::u16string::npos;
    for (int i = 0; i < 5; ++i) {
        if (i != 3 && pieces[i].find(pieces[3]) != std::u16string::npos)
            passwordElsewhere = true;
    }
    if (plain && !passwordElsewhere && masked.find(pieces[3]) != std::u16string::npos) {
        __builtin_trap();
    }

    // Pieces as a recent-value list.
    bool noAt = true;
    std::u16string list;
    for (const auto& p : pieces) {
        noAt = noAt && p.find(u'@') == std::u16string::npos;
        list += p + u"@.@";
    }
    const auto values = kavrel::SplitRecentValues(list);
    if (noAt && values != pieces)
        __builtin_trap();
    return 0;
}
