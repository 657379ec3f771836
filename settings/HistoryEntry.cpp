#include "settings/HistoryEntry.h"

#include <algorithm>

#include "config/StreamUrl.h"

namespace kavrel {
namespace {

constexpr std::u16string_view kMask = u"***";
constexpr size_t kPasswordField = 3;  // counted from 0: address, port, user, password

// Start positions of every terminator in `entry`.
std::vector<size_t> TerminatorPositions(std::u16string_view entry) {
    std::vector<size_t> positions;
    for (size_t p = entry.find(kHistoryTerminator); p != std::u16string_view::npos;
         p = entry.find(kHistoryTerminator, p + kHistoryTerminator.size())) {
        positions.push_back(p);
    }
    return positions;
}

}  // namespace

std::u16string FormatHistoryEntry(std::u16string_view address, std::u16string_view port,
                                  std::u16string_view userName, std::u16string_view password,
                                  std::u16string_view channelText) {
    std::u16string entry;
    for (std::u16string_view field : {address, port, userName, password, channelText}) {
        entry += field;
        entry += kHistoryTerminator;
    }
    return entry;
}

std::array<std::optional<std::u16string>, 5> ParseHistoryEntry(std::u16string_view entry) {
    std::array<std::optional<std::u16string>, 5> fields;
    size_t p = 0;
    for (std::optional<std::u16string>& field : fields) {
        const size_t q = entry.find(kHistoryTerminator, p);
        if (q == std::u16string_view::npos)
            break;
        field.emplace(entry.substr(p, q - p));
        p = q + kHistoryTerminator.size();
    }
    return fields;
}

std::u16string HistoryDisplayText(std::u16string_view entry) {
    const size_t first = entry.find(kHistoryTerminator);
    if (first == std::u16string_view::npos)
        return {};
    if (IsStreamUrl(entry.substr(0, first)))
        return RedactedUrl(entry.substr(0, first));
    std::u16string display(entry.substr(0, first));
    display += u':';
    const size_t start = first + kHistoryTerminator.size();
    const size_t second = entry.find(kHistoryTerminator, start);
    if (second != std::u16string_view::npos)
        display += entry.substr(start, second - start);
    return display;
}

std::u16string ServerDisplayText(std::u16string_view address, std::u16string_view port) {
    if (IsStreamUrl(address))
        return RedactedUrl(address);
    std::u16string display(address);
    display += u':';
    display += port;
    return display;
}

bool HistoryHoldsServer(const std::vector<std::u16string>& displayTexts,
                        std::u16string_view address, std::u16string_view port) {
    const std::u16string display = ServerDisplayText(address, port);
    return std::find(displayTexts.begin(), displayTexts.end(), display) != displayTexts.end();
}

std::u16string MaskHistoryPassword(std::u16string_view entry) {
    const std::vector<size_t> terminators = TerminatorPositions(entry);
    const size_t count = terminators.size();
    // A URL's own password goes too.
    const std::u16string_view address = entry.substr(0, count > 0 ? terminators[0] : entry.size());
    std::u16string masked = RedactedUrl(address);
    if (count < kPasswordField) {
        masked += entry.substr(address.size());  // no password field at all
        return masked;
    }
    const size_t start = terminators[kPasswordField - 1] + kHistoryTerminator.size();
    // The password ends at the fourth terminator; when more follow (a field
    // held "!.!"), at the one before the channel's, since the channel text
    // never holds one. Without a fourth terminator it runs to the end.
    size_t end = entry.size();
    if (count == kPasswordField + 1) {
        end = terminators[kPasswordField];
    } else if (count > kPasswordField + 1) {
        end = terminators[count - 2];
    }
    masked += entry.substr(address.size(), start - address.size());
    masked += kMask;
    masked += entry.substr(end);
    return masked;
}

std::vector<std::u16string> SplitRecentValues(std::u16string_view text) {
    std::vector<std::u16string> values;
    size_t p = 0;
    for (size_t q = text.find(kRecentTerminator, p); q != std::u16string_view::npos;
         q = text.find(kRecentTerminator, p)) {
        values.emplace_back(text.substr(p, q - p));
        p = q + kRecentTerminator.size();
    }
    return values;
}

}  // namespace kavrel
