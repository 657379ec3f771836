#pragma once
// The in-memory image of "config.txt": an ordered list of (section, key, value)
// byte strings, loaded from and saved to one file.
//
// File format (UTF-8 stands for the handheld's ANSI code page; nothing is
// converted inside this class):
//   - "[name]" on a line of its own starts section `name`. Only one final "]"
//     is dropped and no white space is trimmed: "[lan0] " names "lan0] ", and
//     " [lan0]" is no header. Headers are not entries; a section exists only
//     through its entries.
//   - A line with "=" is a key line: key = text before the first "=" without
//     its trailing blanks (leading white space stays part of the key), value =
//     text after it without leading white space (further "=" belong to it).
//   - Any other line is a plain line: key "##", value = the line without its
//     leading white space (an empty value is a blank line). Plain lines before
//     the first header belong to the pseudo-section "###".
//   - Key lines before the first header or under "[]" have no section to live
//     in; they are kept as plain lines (section "###") so a rewrite keeps them.
//   - LF and CR LF line ends read alike; lines of any length are read whole.
//     Names are compared byte for byte (case-sensitive). Duplicates are kept.
//   - There is no comment syntax and no byte-order mark handling: a mark is
//     just bytes of the first line.
//
// Saving writes every entry back in order, a key line as key "=" value (no
// blanks around "="), a plain line as its value, and a "[section]" header
// whenever the section changes (never for "###"). It replaces the file
// atomically: a temporary file in the same folder is written, flushed and
// renamed over the old one, which keeps the old file's permission bits (or,
// for a file that holds a secret, makes it the owner's alone). A failed save
// leaves the old file as it was.
//
// Not thread-safe; one object serves one read or one write of a value.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kavrel {

struct ProfileEntry {
    std::string section;
    std::string key;
    std::string value;

    bool operator==(const ProfileEntry&) const = default;
};

// Who may read the saved file.
enum class ProfileAccess {
    KeepMode,   // an existing file keeps its permission bits; a new one gets
                // 0666 less the umask
    OwnerOnly,  // mode 0600 whatever it was: the file holds a secret. The
                // temporary is created 0600, so no one else can open it
                // while it is written.
};

enum class ProfileLoadResult {
    Loaded,   // the file was read (it may have been empty)
    Missing,  // there is no file: entries are empty, a save will create it
    Failed,   // the file exists but could not be read whole (permissions, an
              // I/O error, larger than kMaxFileBytes): entries are empty and
              // the file must not be replaced by a save built on them
};

class ProfileFile {
  public:
    // Key of plain lines (no "=").
    static constexpr std::string_view kPlainKey = "##";
    // Section of the plain lines that stand before the first header.
    static constexpr std::string_view kLeadingSection = "###";
    // A larger file is treated as unreadable rather than loaded into memory.
    static constexpr std::size_t kMaxFileBytes = 4 * 1024 * 1024;

    explicit ProfileFile(std::string path);

    // Reads and parses the whole file, replacing the entries. The file is
    // opened for reading only, so a read-only file still gives its texts.
    ProfileLoadResult Load();

    // Writes the entries to the file as described above. Returns false when
    // nothing was replaced: the target exists but is not a writable regular
    // file, or the temporary file could not be created, written, flushed or
    // renamed (it is removed again in that case).
    bool Save(ProfileAccess access = ProfileAccess::KeepMode) const;

    // Value of the first entry with this section and key; empty when none.
    std::string Get(std::string_view section, std::string_view key) const;
    // The same, but null when there is no such entry (an empty value is not null).
    const std::string* Find(std::string_view section, std::string_view key) const;

    // Changes the last entry with this section and key in place; when the key
    // is new, inserts it after the section's last entry, or appends it at the
    // end when the section is new. Then saves, also when nothing changed, and
    // returns the result of Save().
    bool Set(std::string_view section, std::string_view key, std::string_view value);

    // The in-memory half of Set(), without saving and without its check:
    // callers check the entry with CanStore() first.
    void SetEntry(std::string_view section, std::string_view key, std::string_view value);

    // False for an entry Set() refuses: a line break in any part or "=" in
    // the key would change the file's lines or split point on the next load.
    static bool CanStore(std::string_view section, std::string_view key, std::string_view value);

    // Makes `entries` the file's image (a default the file starts from).
    void ReplaceEntries(std::vector<ProfileEntry> entries) { m_entries = std::move(entries); }

    // Parses file content into the entries (what Load() does after reading).
    void Parse(std::string_view content);
    // The file content Save() writes for the current entries (LF line ends).
    std::string Serialize() const;

    const std::vector<ProfileEntry>& Entries() const { return m_entries; }
    const std::string& Path() const { return m_path; }

  private:
    void ParseLine(std::string_view line, std::string& currentSection);

    std::vector<ProfileEntry> m_entries;  // in file order
    std::string m_path;                   // UTF-8 file path
};

}  // namespace kavrel
