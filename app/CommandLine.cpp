#include "app/CommandLine.h"

#include <charconv>

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
        } else {
            return Bad("unknown option \"" + argument + "\"");
        }
    }
    // A saved view names its own cameras and channels: which would win is
    // anybody's guess, so the pair is refused rather than one quietly ignored.
    if (line.view && line.channel)
        return Bad("--view and --channel cannot be given together");
    return line;
}

std::string UsageText(const std::string& program) {
    return "Usage: " + program +
           " [options]\n"
           "Live-video viewer for camera servers. The server is set in the program\n"
           "(the Set button) and kept in config.txt.\n"
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
