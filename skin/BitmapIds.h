#pragma once
// Resource ids of the skin bitmaps and the application icon, with their roles.
// Header-only so that the artwork generator can share the table.

namespace kavrel {

namespace bitmap {
constexpr int kTitleBackground = 129;  // 33 x 20: title label, status line, dialog titles
constexpr int kTitleExit = 131;        // 23 x 22: exit cross in a title bar
constexpr int kPlay = 134;             // 80 x 80 command buttons ...
constexpr int kExit = 135;
constexpr int kCapture = 136;
constexpr int kFullScreen = 137;
constexpr int kSwitch = 138;
constexpr int kSet = 139;
constexpr int kPlayActive = 169;  // Play while a session runs (the stop face)
constexpr int kUp = 141;          // 54 x 54 camera buttons ...
constexpr int kDown = 142;
constexpr int kRight = 143;
constexpr int kLeft = 144;
constexpr int kZoomIn = 145;
constexpr int kZoomOut = 146;
constexpr int kFocusAdd = 147;
constexpr int kFocusSub = 148;
constexpr int kIrisSub = 149;
constexpr int kIrisAdd = 150;
constexpr int kSettingsLabel = 170;  // 152 x 99: labels of the settings dialog
constexpr int kLogo = 167;           // 128 x 128: not used by the main window
constexpr int kAppIcon = 128;        // the application icon

constexpr int kChannelCount = 32;

// Bitmap of the channel button for `channel` (1 to 32); 0 outside that range.
constexpr int ChannelBitmapId(int channel) {
    if (channel >= 1 && channel <= 7)
        return 150 + channel;
    if (channel == 8)
        return 8;
    if (channel >= 9 && channel <= 15)
        return 150 + channel;
    if (channel == 16)
        return 140;
    if (channel >= 17 && channel <= 32)
        return 300 + channel;
    return 0;
}
}  // namespace bitmap

}  // namespace kavrel
