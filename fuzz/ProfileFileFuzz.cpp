// "config.txt" parsing and rewriting. The input is a file image followed by a
// write request (section, key, value, separated by NUL bytes). A first rewrite
// may lose what the format cannot keep (blanks around "=", leading blanks of
// plain lines, empty headers); from then on a write must change exactly the
// value asked for, add exactly one entry when the key is new, and keep every
// other entry as it was.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/ProfileFile.h"

namespace {

using kavrel::ProfileEntry;
using kavrel::ProfileFile;

// The file text after rewrites have dropped what the format cannot keep.
std::string Normalise(std::string_view content) {
    std::string text(content);
    // Three rounds reach the fixed point: the first drops what the format
    // cannot keep, the next settle plain lines that became headers.
    for (int round = 0; round < 3; ++round) {
        ProfileFile file("");
        file.Parse(text);
        text = file.Serialize();
    }
    return text;
}

bool Printable(std::string_view s) {
    for (char c : s) {
        if (c == '\n' || c == '\r' || c == '\0')
            return false;
    }
    return true;
}

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // file image \0 section \0 key \0 value
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        const size_t nul = input.find('\0', start);
        if (nul == std::string_view::npos)
            break;
        parts.push_back(input.substr(start, nul - start));
        start = nul + 1;
    }
    parts.push_back(input.substr(start));
    if (parts.size() != 4) {
        ProfileFile file("");
        file.Parse(input);  // parsing alone must be safe on anything
        (void)file.Serialize();
        return 0;
    }
    const std::string_view content = parts[0];
    const std::string section(parts[1]);
    const std::string key(parts[2]);
    const std::string value(parts[3]);

    // Only writes the file can hold as one key line are checked.
    if (section.empty() || section == ProfileFile::kLeadingSection || !Printable(section))
        return 0;
    if (key.empty() || key == ProfileFile::kPlainKey || !Printable(key) ||
        key.find('=') != std::string::npos || key.front() == '[' || key.back() == ' ') {
        return 0;
    }
    if (!Printable(value) || (!value.empty() && IsSpace(value.front())))
        return 0;

    const std::string normal = Normalise(content);
    // Reading strips at most two line-end characters, so a value that ends in
    // more carriage returns loses one per rewrite by design; leave those out.
    if (normal.find("\r\n") != std::string::npos)
        return 0;
    ProfileFile file("");
    file.Parse(normal);
    const std::vector<ProfileEntry> before = file.Entries();
    {
        ProfileFile again("");
        again.Parse(file.Serialize());
        if (again.Entries() != before)
            __builtin_trap();  // the fixed point holds
    }
    file.SetEntry(section, key, value);
    ProfileFile after("");
    after.Parse(file.Serialize());
    const auto& got = after.Entries();

    // Locate the entry the write changed: the last with that section and key.
    size_t changed = got.size();
    for (size_t i = got.size(); i-- > 0;) {
        if (got[i].section == section && got[i].key == key) {
            changed = i;
            break;
        }
    }
    if (changed == got.size() || got[changed].value != value)
        __builtin_trap();
    std::vector<ProfileEntry> rest = got;
    rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(changed));
    if (got.size() == before.size()) {
        // Replaced in place: everything else identical and in place.
        std::vector<ProfileEntry> expected = before;
        expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(changed));
        if (rest != expected)
            __builtin_trap();
    } else if (got.size() == before.size() + 1) {
        if (rest != before)
            __builtin_trap();  // inserted: the others unchanged, in order
    } else {
        __builtin_trap();
    }
    // A read gives the first entry with that section and key.
    std::string expectedRead;
    for (const auto& e : got) {
        if (e.section == section && e.key == key) {
            expectedRead = e.value;
            break;
        }
    }
    if (after.Get(section, key) != expectedRead)
        __builtin_trap();
    return 0;
}
