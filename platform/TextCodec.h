#pragma once
// UTF-16 (the user interface's text) to and from UTF-8 (the wire and
// "config.txt"; it stands for the handheld's ANSI code page). Ill-formed input
// becomes U+FFFD, the converter's default character, in both directions.

#include <string>
#include <string_view>

namespace kavrel {

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view bytes);

}  // namespace kavrel
