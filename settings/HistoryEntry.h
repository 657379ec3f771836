#pragma once
// The text forms of the server history and of the recent-value lists.
//
// A history entry holds the five fields of a server, each followed by "!.!":
//   address "!.!" port "!.!" userName "!.!" password "!.!" channelText "!.!"
// where the channel text is the channel counted from 1 ("1" to "32") or empty.
// There is no escaping: a field holding "!.!" cannot be told from a terminator.
//
// A recent-value list holds values each followed by "@.@", in the order they
// were first confirmed: "10.0.0.5@.@10.0.0.7@.@".
//
// Pure functions on text; callable from any thread.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavrel {

inline constexpr std::u16string_view kHistoryTerminator = u"!.!";
inline constexpr std::u16string_view kRecentTerminator = u"@.@";

// The entry text of one server.
std::u16string FormatHistoryEntry(std::u16string_view address, std::u16string_view port,
                                  std::u16string_view userName, std::u16string_view password,
                                  std::u16string_view channelText);

// The five fields in order. A field is present when its terminator was found;
// once one is missing, it and all later fields are absent. Text after the
// fifth terminator is ignored.
std::array<std::optional<std::u16string>, 5> ParseHistoryEntry(std::u16string_view entry);

// What the history drop-down shows: the first field, ":", and the second
// field when it is terminated ("10.0.0.5:9000"). Empty for an entry without
// any "!.!". An RTSP URL shows as RedactedUrl, without its port field.
std::u16string HistoryDisplayText(std::u16string_view entry);

// The display text of a server that is about to be added: address ":" port,
// or an RTSP URL's RedactedUrl (shown wherever a server is named).
std::u16string ServerDisplayText(std::u16string_view address, std::u16string_view port);

// The duplicate rule: a server is already in the history when its display
// text equals one of the drop-down texts exactly (with case). User name,
// password and channel take no part.
bool HistoryHoldsServer(const std::vector<std::u16string>& displayTexts,
                        std::u16string_view address, std::u16string_view port);

// The entry with its password field replaced by "***", for debug lines. The
// password is whatever stands between the third terminator and the one before
// the channel field, so a password holding "!.!" is masked whole too. An RTSP
// URL in the address field loses its password as RedactedUrl does.
std::u16string MaskHistoryPassword(std::u16string_view entry);

// The values of a recent-value list in order (possibly empty ones); text after
// the last "@.@" is ignored.
std::vector<std::u16string> SplitRecentValues(std::u16string_view text);

}  // namespace kavrel
