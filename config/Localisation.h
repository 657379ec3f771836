#pragma once
// Localised texts and the current server, both kept in "config.txt".
//
// Texts live in sections "lan0" (English), "lan1" (Simplified Chinese) and
// "lan2" (Traditional Chinese), chosen by a language index, and are looked up
// in the texts loaded at start (ConfigStore.h): LoadText never reads the disk.
// A text the file lacks is the text of the config.txt built into the program,
// in the same language: a config.txt of an earlier version, or one the first
// start could not copy, never leaves a label, question or status line blank.
// There is no fallback to another language or to the key itself.
// The current server lives in section "server".
//
// Thread: the user-interface thread.

#include <QLocale>
#include <QString>
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/ServerSettings.h"

namespace kavrel {

// Windows language identifiers that select a text language.
inline constexpr uint16_t kLangIdChinesePrc = 0x0804;
inline constexpr uint16_t kLangIdChineseHongKong = 0x0C04;
inline constexpr uint16_t kLangIdChineseTaiwan = 0x0404;
inline constexpr uint16_t kLangIdEnglishUs = 0x0409;
inline constexpr uint16_t kLangIdNeutral = 0x0000;

// Keys this program added to the design's texts.
inline constexpr auto kAddedTextKeys = std::to_array<std::u16string_view>({
    u"capture_failed",
    u"reconnect_in",
    u"cmd_play",
    u"cmd_capture",
    u"cmd_fullscreen",
    u"cmd_switch",
    u"cmd_previous",
    u"cmd_set",
    u"cmd_exit",
    u"cmd_keep_aspect",
    u"cmd_channel",
    u"cmd_quad_view",
    u"tile_connecting",
    u"tile_retry_in",
    u"tile_key_frames_only",
    u"save_failed",
    u"cmd_record",
    u"cmd_record_all",
    u"record_started",
    u"record_saved",
    u"record_dropped",
    u"record_folder_failed",
    u"record_disk_full",
    u"record_write_failed",
    u"cmd_reset_zoom",
    u"cmd_capture_view",
    u"tour_running",
    u"tour_paused",
    u"tour_stopped",
    u"cmd_tour",
    u"cmd_save_view",
    u"cmd_recall_view",
    u"view_saved",
    u"view_empty",
    u"saved_views",
    u"view_name",
    u"cmd_statistics",
    u"stats_codec",
    u"stats_size",
    u"stats_fps",
    u"stats_dropped",
    u"stats_decode",
    u"stats_latency",
    u"stats_bitrate",
    u"stats_graph",
    u"stats_graph_latency",
    u"stats_graph_bitrate",
    u"cmd_layout",
    u"layout_single",
    u"show_here",
    u"fill_with_server",
    u"empty_tile",
    u"empty_tile_hint",
    u"tile_no_channel",
    u"tile_cannot_decode",
    u"tile_too_large",
    u"stream_not_found",
    u"stream_unsupported",
    u"stats_codec_short",
    u"stats_size_short",
    u"stats_fps_short",
    u"stats_dropped_short",
    u"stats_decode_short",
    u"stats_latency_short",
    u"stats_bitrate_short",
    u"offscreen_mark",
    u"offscreen_recordings",
    u"offscreen_stop",
    u"idle_play",
    u"idle_no_server",
    u"set_invalid_url",
    u"idle_play_url",
    u"stream_main",
    u"stream_sub",
    u"preset_goto",
    u"preset_stored",
    u"preset_none",
    u"preset_name",
    u"menu_presets",
    u"menu_preset_store",
    u"set_find_cameras",
    u"set_finding",
    u"set_found_none",
    u"set_found",
});

// The design's own keys.
inline constexpr std::array<std::u16string_view, 36> kDesignTextKeys = {
    u"set_title",
    u"set_history",
    u"set_server",
    u"set_port",
    u"set_user",
    u"set_password",
    u"set_default",
    u"set_ok",
    u"set_add",
    u"set_delete",
    u"set_delete_no_select",
    u"set_record_exist",
    u"set_record_succeed",
    u"set_invalid_address",
    u"set_invalid_port",
    u"leave_alert",
    u"leave_text",
    u"capture_succeed",
    u"ptz_left",
    u"ptz_right",
    u"ptz_up",
    u"ptz_down",
    u"ptz_zoom_in",
    u"ptz_zoom_out",
    u"ptz_iris_add",
    u"ptz_iris_sub",
    u"ptz_focus_add",
    u"ptz_focus_sub",
    u"connect_begin",
    u"login_server",
    u"connect_failed",
    u"connect_break",
    u"login_succeed",
    u"login_fail",
    u"change_channel",
    u"connect_timeout",
};

// Every key the program passes to LoadText; each lan section of the delivered
// "config.txt" holds all of them.
inline constexpr auto kTextKeys = [] {
    std::array<std::u16string_view, kDesignTextKeys.size() + kAddedTextKeys.size()> all{};
    auto end = std::copy(kDesignTextKeys.begin(), kDesignTextKeys.end(), all.begin());
    std::copy(kAddedTextKeys.begin(), kAddedTextKeys.end(), end);
    return all;
}();

// The keys shown in the main window's status line (they must fit one line).
inline constexpr auto kStatusTextKeys = std::to_array<std::u16string_view>({
    u"capture_succeed",
    u"capture_failed",
    u"ptz_left",
    u"ptz_right",
    u"ptz_up",
    u"ptz_down",
    u"ptz_zoom_in",
    u"ptz_zoom_out",
    u"ptz_iris_add",
    u"ptz_iris_sub",
    u"ptz_focus_add",
    u"ptz_focus_sub",
    u"connect_begin",
    u"login_server",
    u"connect_failed",
    u"connect_break",
    u"login_succeed",
    u"login_fail",
    u"change_channel",
    u"connect_timeout",
    u"reconnect_in",
    u"record_started",
    u"record_saved",
    u"record_dropped",
    u"record_folder_failed",
    u"record_disk_full",
    u"record_write_failed",
    u"tour_running",
    u"tour_paused",
    u"tour_stopped",
    u"view_saved",
    u"view_empty",
    u"preset_goto",
    u"preset_stored",
    u"preset_none",
});

// The system language's index: LanguageIndexFromId(LanguageIdFromLocale(QLocale::system())).
int DetectLanguage();

// Chinese in Simplified Han for China or Singapore: 0x0804; Chinese for Hong
// Kong or Macau: 0x0C04; Chinese for Taiwan: 0x0404; other English: 0x0409;
// anything else: 0x0000. Only the three Chinese identifiers select a language.
uint16_t LanguageIdFromLocale(const QLocale& locale);

// 0x0804 gives 1, 0x0C04 and 0x0404 give 2, any other identifier 0.
int LanguageIndexFromId(uint16_t langId);

// Section "lan" + languageIndex in decimal, value of `key` as loaded; when
// the file has no such entry, the built-in text (empty for an unknown key).
// An entry that is present but empty is the user's choice and stays empty.
std::u16string LoadText(int languageIndex, std::u16string_view key);

// A text with every "%d" replaced by `number` ("view_saved" names its slot
// twice: "View 3 saved (Alt+3 shows it)"; "cmd_channel", "tile_retry_in").
// Any other "%" stays: the texts come from a file the user may edit, so they
// never reach a printf-style formatter.
QString FillNumber(const QString& text, int number);

// The settings dialog's caption and labels, loaded once at start.
struct SettingsLabels {
    static constexpr std::array<std::u16string_view, 10> kKeys = {
        u"set_title",    u"set_history", u"set_server", u"set_port", u"set_user",
        u"set_password", u"set_default", u"set_ok",     u"set_add",  u"set_delete",
    };

    std::array<std::u16string, 10> texts;  // in the order of kKeys

    const std::u16string& title() const { return texts[0]; }
    const std::u16string& history() const { return texts[1]; }
    const std::u16string& server() const { return texts[2]; }
    const std::u16string& port() const { return texts[3]; }
    const std::u16string& user() const { return texts[4]; }
    const std::u16string& password() const { return texts[5]; }
    const std::u16string& channel() const { return texts[6]; }
    const std::u16string& ok() const { return texts[7]; }
    const std::u16string& add() const { return texts[8]; }
    const std::u16string& remove() const { return texts[9]; }
};

SettingsLabels LoadSettingsLabels(int languageIndex);

// Five reads of section "server" (from the file); the channel is the decimal value of its text
// (empty, absent or not a number: 0). Absent texts are empty.
ServerSettings LoadCurrentServer();

// Section "server" in the order address, port, user name, password, channel
// (written as "%d", a negative one with its sign), in one save: a crash or a
// full disk leaves the old record or the new one, never a mix. True when the
// whole record is in the file.
bool SaveCurrentServer(const ServerSettings& settings);

}  // namespace kavrel
