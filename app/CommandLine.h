#pragma once
// The viewer's command line. Parsed before any window or display exists, so
// --help and --version work on a machine without one. Pure: no Qt.

#include <optional>
#include <string>
#include <vector>

#include "settings/WallView.h"

namespace kavrel {

struct CommandLine {
    enum class Action {
        Run,          // start the viewer with the options below
        ShowHelp,     // print the usage to stdout, exit 0
        ShowVersion,  // print the version to stdout, exit 0
        BadUsage,     // print `error` and the usage to stderr, exit 2
    };
    Action action = Action::Run;
    std::optional<int> channel;  // 0-based; --channel takes it 1-based, as the buttons
    bool play = false;           // press Play once the window is up
    bool fullScreen = false;     // enter full screen with the first picture
    // Full screen from the start, and no click, double-click or Escape leaves
    // it (a monitor in a public place); Ctrl+Q still asks to leave.
    bool kiosk = false;
    // --view N: start on the wall view saved in slot N (1 to kNamedViews),
    // full screen when it was saved so. Not with --channel.
    std::optional<int> view;
    // --screen N: the window (and its full screen) on monitor N, 1-based in
    // the order the desktop numbers them (QGuiApplication::screens()). Any
    // whole number from 1 is taken: whether monitor N is there is known only
    // once a display is, and one beyond them means the first.
    std::optional<int> screen;
    // RTSP URLs to play at once, as given (1 to kMaxWallTiles; checked by
    // ParseStreamUrl). Not with --view or --channel. See UrlWallView.
    std::vector<std::u16string> urls;
    std::string error;  // for BadUsage: what was wrong
};

// `arguments` excludes the program name. Options may come in any order;
// "--channel=N" and "--channel N" are both taken. Qt's own options
// (-platform, -style ...) are not accepted: the viewer has none to pass on.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The view the command line's URLs make: one URL the single view, more a
// wall of the smallest grid that holds them (2x2, 3x3, 4x4), tile i playing
// URL i and the rest empty. `urls` holds 1 to kMaxWallTiles.
WallView UrlWallView(const std::vector<std::u16string>& urls);

// The text --help prints; `program` names the executable.
std::string UsageText(const std::string& program);

// "kavrel <version>", what --version prints.
std::string VersionText();

}  // namespace kavrel
