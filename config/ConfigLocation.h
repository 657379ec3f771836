#pragma once
// Where "config.txt" lives.
//
// A build tree uses the config.txt beside the executable: the build puts the
// delivered file beside each binary it makes, together with a marker file
// (kBuildTreeMarker, written by res/PlaceConfig.cmake) that says "this folder
// is a build tree". The marker, not the generic name config.txt, decides: a
// kavrel copied into a shared bin/ beside another program's config.txt must
// neither read its texts nor write the server password into it. Any other
// program is installed, and then each user has a copy of their own,
// $XDG_CONFIG_HOME/orvane/config.txt (~/.config/orvane/ by default, the folder
// that holds settings.ini), made on first start from the installed default.
// Whether the executable's folder is writable decides nothing: root can write
// into /usr/bin, and an installed program must still not keep its server there.
//
// The installed default is found from where the executable itself lies
// (../share/kavrel/config.txt), else under the user's and the system's data
// folders ($XDG_DATA_HOME, then each of $XDG_DATA_DIRS, which is
// /usr/local/share:/usr/share when unset), never by a path fixed when the
// program was built: an install under another prefix, or one unpacked into a
// scratch folder, works alike. The installed default is only ever read.
//
// Thread: any. These functions read the environment and the disk.

#include <string>
#include <string_view>

namespace kavrel {

// The file the build writes beside each binary of a build tree. Its content
// does not matter; installing never copies it.
inline constexpr std::string_view kBuildTreeMarker = "kavrel-build-tree";

// True when `executableDirectory` holds the build-tree marker (a regular file).
bool IsBuildTree(std::u16string_view executableDirectory);

// The config.txt that a program whose executable lies in `executableDirectory`
// reads and writes: the one beside it in a build tree (also before the build
// placed one: a save then creates it), else UserConfigFile().
std::u16string ConfigFileFor(std::u16string_view executableDirectory);

// The user's own copy: $XDG_CONFIG_HOME/orvane/config.txt, or
// ~/.config/orvane/config.txt.
std::u16string UserConfigFile();

// The installed default for a program in `executableDirectory`: the first
// regular file of ../share/kavrel/config.txt and <each data folder>/kavrel/
// config.txt; empty when there is none.
std::u16string FindInstalledConfigFile(std::u16string_view executableDirectory);

// First start of an installed program: outside a build tree, when the user's
// copy does not exist yet, copies the installed default
// there, creating missing folders with mode 0700 and the file with mode 0600.
// An existing copy is never touched. Without an installed default nothing is
// made (the built-in texts stand in; the first save creates the file).
// Returns false only when a copy was due and could not be made.
bool MakeUserConfigFile(std::u16string_view executableDirectory);

// Creates `directory` (UTF-8) and any missing parents with mode 0700; folders
// that exist keep their mode. True when the folder exists afterwards.
bool MakePrivateDirectories(const std::string& directory);

}  // namespace kavrel
