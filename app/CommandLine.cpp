#include "app/CommandLine.h"

#include <charconv>

#include "config/StreamUrl.h"
#include "platform/TextCodec.h"
#include "settings/WallView.h"
#include "skin/ControlIds.h"

namespace kavrel {
namespace {

constexpr const char* kVersion = KAVREL_VERSION;
// No desktop has this many monitors; the bound only keeps the number an int.
constexpr int kMaxScreenNumber = 999;

CommandLine Bad(std::string error) {
    CommandLine line;
    line.action = CommandLine::Action::BadUsage;
    line.error = std::move(error);
    return line;
}

// A whole number from 1 to `last`, nothing else in the text.
std::optional<int> ParseNumber(const std::string& text, int last) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < 1 || value > last)
        return std::nullopt;
    return value;
}

// "--name value" or "--name=value": true when `argument` is that option,
// with `value` taken (and `i` moved past it) or `error` set.
bool TakeValue(const std::vector<std::string>& arguments, size_t& i, const std::string& name,
               std::string& value, std::string& error) {
    const std::string& argument = arguments[i];
    if (argument == name) {
        if (i + 1 >= arguments.size()) {
            error = name + " needs a number";
            return true;
        }
        value = arguments[++i];
        return true;
    }
    if (argument.rfind(name + "=", 0) == 0) {
        value = argument.substr(name.size() + 1);
        return true;
    }
    return false;
}

// An argument that is no option: an RTSP URL to play. False (and `error`
// set, naming the URL without its password) when it is not one.
bool TakeUrl(const std::string& argument, CommandLine& line, std::string& error) {
    std::u16string url = FromUtf8(argument);
    if (!ParseStreamUrl(url)) {
        error = "\"" + ToUtf8(RedactedUrl(url)) +
                "\" is not an RTSP URL (rtsp://[user:password@]host[:port]/path[#udp])";
        return false;
    }
    if (line.urls.size() >= size_t(kMaxWallTiles)) {
        error = "at most " + std::to_string(kMaxWallTiles) + " URLs fit a wall";
        return false;
    }
    line.urls.push_back(std::move(url));
    return true;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        std::string value;
        std::string error;
        if (argument == "--help" || argument == "-h") {
            line.action = CommandLine::Action::ShowHelp;
            return line;
        }
        if (argument == "--version") {
            line.action = CommandLine::Action::ShowVersion;
            return line;
        }
        if (argument == "--play") {
            line.play = true;
        } else if (argument == "--fullscreen") {
            line.fullScreen = true;
        } else if (argument == "--kiosk") {
            line.kiosk = true;
        } else if (TakeValue(arguments, i, "--channel", value, error)) {
            if (!error.empty())
                return Bad(error);
            const std::optional<int> channel = ParseNumber(value, control::kChannelButtons);
            if (!channel)
                return Bad("--channel takes a channel number from 1 to 32, not \"" + value + "\"");
            line.channel = *channel - 1;
        } else if (TakeValue(arguments, i, "--view", value, error)) {
            if (!error.empty())
                return Bad(error);
            line.view = ParseNumber(value, kNamedViews);
            if (!line.view)
                return Bad("--view takes a saved view's number from 1 to " +
                           std::to_string(kNamedViews) + ", not \"" + value + "\"");
        } else if (TakeValue(arguments, i, "--screen", value, error)) {
            if (!error.empty())
                return Bad(error);
            line.screen = ParseNumber(value, kMaxScreenNumber);
            if (!line.screen)
                return Bad("--screen takes a monitor's number from 1, not \"" + value + "\"");
        } else if (!argument.empty() && argument[0] != '-') {
            if (!TakeUrl(argument, line, error))
                return Bad(error);
        } else {
            return Bad("unknown option \"" + argument + "\"");
        }
    }
    // The URLs name the cameras and a stream has no channels.
    if (!line.urls.empty() && (line.view || line.channel))
        return Bad("URLs cannot be given with --view or --channel");
    // A saved view names its own cameras and channels: which would win is
    // anybody's guess, so the pair is refused rather than one quietly ignored.
    if (line.view && line.channel)
        return Bad("--view and --channel cannot be given together");
    return line;
}

WallView UrlWallView(const std::vector<std::u16string>& urls) {
    WallView view;
    view.layout = urls.size() <= 1   ? WallLayout::Single
                  : urls.size() <= 4 ? WallLayout::Grid2
                  : urls.size() <= 9 ? WallLayout::Grid3
                                     : WallLayout::Grid4;
    view.tiles.resize(size_t(TileCount(view.layout)));
    for (size_t index = 0; index < urls.size() && index < view.tiles.size(); ++index)
        view.tiles[index].server.address = urls[index];
    return view;
}

std::string UsageText(const std::string& program) {
    return "Usage: " + program +
           " [options] [URL...]\n"
           "Live-video viewer for camera servers. The server is set in the program\n"
           "(the Set button) and kept in config.txt.\n"
           "\n"
           "URL: an RTSP camera, rtsp://[user:password@]host[:port]/path (rtsps:// for\n"
           "TLS; #udp at the end for RTP over UDP), played at once: one URL in the\n"
           "single view, 2 to 16 on a wall of the smallest grid that holds them (2x2,\n"
           "3x3, 4x4). Not with --view or --channel. With Kavrel running, the URLs go\n"
           "to its window (or the one on --screen N) like the other options.\n"
           "\n"
           "Options:\n"
           "  --channel N   watch channel N (1 to 32) instead of the saved one\n"
           "  --play        press Play as soon as the window is up\n"
           "  --fullscreen  go full screen with the first picture\n"
           "  --kiosk       start full screen and stay there: clicks and Escape do not\n"
           "                leave it (Ctrl+Q still asks to quit)\n"
           "  --view N      start on the wall view saved as N (1 to 9; Ctrl+N saves one),\n"
           "                full screen if it was saved so\n"
           "  --screen N    open the window, and its full screen, on monitor N (1 = the\n"
           "                first, in the order the desktop numbers them; a number beyond\n"
           "                the monitors present means the first). With Kavrel running,\n"
           "                opens another window there (or gives the one there these options)\n"
           "  --version     print the version and exit\n"
           "  --help        print this text and exit\n";
}

std::string VersionText() {
    return std::string("kavrel ") + kVersion;
}

}  // namespace kavrel
