#pragma once
// Reading and writing "config.txt", the program's one text file (localised
// texts and the current server).
//
// The texts (the "lan" sections) are read once: PrepareConfigFile() loads
// them at start and every successful write keeps those it wrote, so a lookup
// (FindLoadedText) never touches the disk. Single values of other sections are
// read from the file when asked for (ReadConfigValue: the server, at start).
//
// Writes load the file, change entries and save it once, atomically (a
// temporary file in the same folder renamed over it; see ProfileFile), then
// read it back. They report whether the values are now in the file:
//   - false, leaving the file as it was, when it exists but cannot be read
//     whole (it would otherwise be replaced by what was written), when it is
//     read-only or cannot be replaced, or when a value holds a line break;
//   - a write into a missing file creates it from the installed default (or
//     the copy built into the program) plus the values written, so a file the
//     program makes always holds the delivered texts.
// Text is UTF-16 here and UTF-8 in the file.
//
// A file that holds a password (a non-empty server_password in section
// "server", or a server_address URL with one) is written with mode 0600; a write that creates the
// file creates its missing folders with mode 0700.
//
// Thread: the user-interface thread (the path settings and the loaded texts
// are locked).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavrel {

// The path set with SetConfigFilePath(), else the config.txt that belongs to
// the executable's folder: beside it in a build tree, the user's own copy for
// an installed program (see ConfigLocation.h).
std::u16string ConfigFilePath();

// Points the store at another file (tests, tools); empty restores the default.
// The texts loaded from the old one are dropped (also by SetProgramDirectory).
void SetConfigFilePath(std::u16string path);

// Makes the store act as if the executable lay in `directory` (tests of an
// installed layout); empty restores the real folder.
void SetProgramDirectory(std::u16string directory);

// Called once at start, before the first read: an installed program's first
// start copies the installed default to the user's own copy (not for a path
// set with SetConfigFilePath() or a build tree); then LoadConfigTexts().
void PrepareConfigFile();

// Reads the file's texts into memory, replacing those loaded before. A missing
// or unreadable file gives none (LoadText then shows the built-in ones).
void LoadConfigTexts();

// The loaded text of (section, key); nothing when the file had no such entry.
// Reads the file only when no texts were loaded since the path was last set
// (tools and tests that skip PrepareConfigFile()).
std::optional<std::u16string> FindLoadedText(std::u16string_view section, std::u16string_view key);

// Value of the first (section, key) entry; empty when absent.
std::u16string ReadConfigValue(std::u16string_view section, std::u16string_view key);
// The same, but nothing when the file has no such entry.
std::optional<std::u16string> FindConfigValue(std::u16string_view section, std::u16string_view key);

// Changes the last (section, key) entry, or adds the key after the section's
// last line, or appends a new section at the end; then rewrites the file.
// True when the value is in the file afterwards.
bool WriteConfigValue(std::u16string_view section, std::u16string_view key,
                      std::u16string_view value);

struct ConfigValue {
    std::u16string_view key;
    std::u16string value;
};
// Every value of `values` into `section` as WriteConfigValue() does, in one
// save: all of them reach the file or none. True when all are in the file.
bool WriteConfigValues(std::u16string_view section, const std::vector<ConfigValue>& values);

}  // namespace kavrel
