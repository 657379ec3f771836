#pragma once
// Where "config.txt" lives.
//
// A program with a config.txt beside its executable uses that one: the build
// puts the delivered file beside each binary it makes, so a build tree runs
// as it always did. Any other program is installed, and then each user has a
// copy of their own, $XDG_CONFIG_HOME/orvane/config.txt (~/.config/orvane/
// by default, the folder that holds settings.ini), made on first start from
// the installed default. Whether the executable's folder is writable
// decides nothing: root can write into /usr/bin, and an installed program must
// still not keep its server there.
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

// The config.txt that a program whose executable lies in `executableDirectory`
// reads and writes: the one beside it if there is one, else UserConfigFile().
std::u16string ConfigFileFor(std::u16string_view executableDirectory);

// The user's own copy: $XDG_CONFIG_HOME/orvane/config.txt, or
// ~/.config/orvane/config.txt.
std::u16string UserConfigFile();

// The installed default for a program in `executableDirectory`: the first
// regular file of ../share/kavrel/config.txt and <each data folder>/kavrel/
// config.txt; empty when there is none.
std::u16string FindInstalledConfigFile(std::u16string_view executableDirectory);

// First start of an installed program: when ConfigFileFor(executableDirectory)
// is the user's copy and it does not exist yet, copies the installed default
// there, creating missing folders with mode 0700 and the file with mode 0600.
// An existing copy is never touched. Without an installed default nothing is
// made (the built-in texts stand in; the first save creates the file).
// Returns false only when a copy was due and could not be made.
bool MakeUserConfigFile(std::u16string_view executableDirectory);

// Creates `directory` (UTF-8) and any missing parents with mode 0700; folders
// that exist keep their mode. True when the folder exists afterwards.
bool MakePrivateDirectories(const std::string& directory);

}  // namespace kavrel
