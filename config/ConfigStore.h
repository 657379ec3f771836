#pragma once
// Reading and writing single values of "config.txt", the program's one text
// file (localised texts and the current server).
//
// Nothing is cached: every read loads and parses the whole file, every write
// loads it, changes one entry and saves it again (see ProfileFile for the
// format and the atomic save). Neither operation reports an error:
//   - a missing or unreadable file reads as empty texts;
//   - a write into a missing file creates it with one header and one key line;
//   - a write is dropped, leaving the file as it was, when the file exists but
//     cannot be read whole (it would otherwise be replaced by one line), when it
//     is read-only or cannot be replaced, or when the value holds a line break.
// Text is UTF-16 here and UTF-8 in the file.
//
// A file that holds a password (a non-empty server_password in section
// "server") is written with mode 0600; a write that creates the file creates
// its missing folders with mode 0700.
//
// Thread: the user-interface thread (the path settings alone are locked).

#include <optional>
#include <string>
#include <string_view>

namespace kavrel {

// The path set with SetConfigFilePath(), else the config.txt that belongs to
// the executable's folder: beside it in a build tree, the user's own copy for
// an installed program (see ConfigLocation.h).
std::u16string ConfigFilePath();

// Points the store at another file (tests, tools); empty restores the default.
void SetConfigFilePath(std::u16string path);

// Makes the store act as if the executable lay in `directory` (tests of an
// installed layout); empty restores the real folder.
void SetProgramDirectory(std::u16string directory);

// Called once at start, before the first read: an installed program's first
// start copies the installed default to the user's own copy. Nothing happens
// for a path set with SetConfigFilePath() or a config.txt beside the executable.
void PrepareConfigFile();

// Value of the first (section, key) entry; empty when absent.
std::u16string ReadConfigValue(std::u16string_view section, std::u16string_view key);
// The same, but nothing when the file has no such entry.
std::optional<std::u16string> FindConfigValue(std::u16string_view section, std::u16string_view key);

// Changes the last (section, key) entry, or adds the key after the section's
// last line, or appends a new section at the end; then rewrites the file.
void WriteConfigValue(std::u16string_view section, std::u16string_view key,
                      std::u16string_view value);

}  // namespace kavrel
