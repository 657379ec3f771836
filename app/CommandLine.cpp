#include "app/CommandLine.h"

#include <charconv>

#include "skin/ControlIds.h"

namespace kavrel {
namespace {

constexpr const char* kVersion = KAVREL_VERSION;

CommandLine Bad(std::string error) {
    CommandLine line;
    line.action = CommandLine::Action::BadUsage;
    line.error = std::move(error);
    return line;
}

// A channel number as the buttons count them: 1 to 32.
std::optional<int> ParseChannel(const std::string& text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < 1 || value > control::kChannelButtons)
        return std::nullopt;
    return value - 1;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
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
        } else if (argument == "--channel" || argument.rfind("--channel=", 0) == 0) {
            std::string value;
            if (argument == "--channel") {
                if (i + 1 >= arguments.size())
                    return Bad("--channel needs a channel number");
                value = arguments[++i];
            } else {
                value = argument.substr(std::string("--channel=").size());
            }
            line.channel = ParseChannel(value);
            if (!line.channel)
                return Bad("--channel takes a channel number from 1 to 32, not \"" + value + "\"");
        } else {
            return Bad("unknown option \"" + argument + "\"");
        }
    }
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
           "  --version     print the version and exit\n"
           "  --help        print this text and exit\n";
}

std::string VersionText() {
    return std::string("kavrel ") + kVersion;
}

}  // namespace kavrel
