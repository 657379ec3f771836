#pragma once
// The settings dialog's persistent store: the server history (history0 ...
// history99) and the recent-value lists "server", "port" and "userid".
//
// It stands for the handheld's registry key software\orvane\settings: a
// QSettings INI file in user scope, organisation "orvane", application
// "settings", that is ~/.config/orvane/settings.ini. The file holds passwords
// in the clear, so it is created with mode 0600 and kept at it. Every read and
// every write opens the store afresh (like opening the registry key); each
// write, or batch of writes (the whole history), is followed by one sync(),
// and the write's result is sync()'s status.
// Values of any length read back whole.
//
// Test hook: SetSettingsStoreFile() points the store at another INI file
// (for instance one in a temporary folder) before the first use.
//
// Thread: the user-interface thread (the path setting alone is locked).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "settings/HistoryEntry.h"

namespace kavrel {

using ServerHistory = std::vector<std::u16string>;

// Only this many history elements are stored: history0 ... history99.
inline constexpr size_t kStoredHistorySize = 100;

// Names of the recent-value lists.
inline constexpr std::u16string_view kRecentAddressesName = u"server";
inline constexpr std::u16string_view kRecentPortsName = u"port";
inline constexpr std::u16string_view kRecentUserNamesName = u"userid";

// The INI file in use; SetSettingsStoreFile({}) restores the default.
std::u16string SettingsStoreFile();
void SetSettingsStoreFile(std::u16string path);

// Clears `out`, then reads the value. False when the store cannot be read or
// has no such value (`out` stays empty). Creates the store file (mode 0600)
// when it is missing, as opening the registry key for reading did.
bool ReadRegistryString(std::u16string_view name, std::u16string& out);

// Stores the value and syncs. False when the store could not be written (for
// instance an unwritable folder, or a file that is not valid INI, which is
// then left as it is).
bool WriteRegistryString(std::u16string_view name, std::u16string_view text);

// Stores every value as one batch with one sync; the result as above.
struct RegistryValue {
    std::u16string_view name;
    std::u16string text;
};
bool WriteRegistryStrings(const std::vector<RegistryValue>& values);

// Appends the non-empty values history0 ... history99 to `history` (gaps do
// not end the scan) and returns the drop-down texts, element i for element i
// of `history`. Entries without any "!.!" have no display text and are left
// out, so the two lists stay in step.
std::vector<std::u16string> LoadHistory(ServerHistory& history);

// Writes element i to history<i> for i below 100 and the empty text to the
// remaining slots, so the stored history is packed from history0; elements
// after the hundredth are not stored. Writes one debug line per stored entry,
// its password masked. All slots are one batch with one sync; false when the
// store could not be written.
bool SaveHistory(const ServerHistory& history);

// Appends `value` + "@.@" to the named list unless the value is empty or
// already occurs anywhere in the list text (even as part of a longer value:
// 10.0.0.1 is not added when 10.0.0.12 is stored). The list is written back
// in every case.
void AddRecentValue(std::u16string_view name, std::u16string_view value);

}  // namespace kavrel
