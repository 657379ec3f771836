#pragma once
// Where clips go and what their names begin with.
//
// Qt Core only (the videos folder); no disk access: any thread.

#include <filesystem>
#include <string>
#include <string_view>

namespace kavrel::record {

// The user's videos folder (QStandardPaths::MoviesLocation, ~/Videos unless
// the XDG user folders say otherwise). The recorder makes it when missing.
std::filesystem::path DefaultClipFolder();

// "ADDRESS_chN" for `channel` (0-based, shown from 1), with every character
// of the address that is not a letter, digit, dot or hyphen replaced by "_",
// so that no address names a path. An RTSP URL gives its host and path
// (StreamFileNamePrefix: never its user or password) and no channel, which
// means nothing to such a camera.
std::string ClipNamePrefix(std::u16string_view address, int channel);

}  // namespace kavrel::record
