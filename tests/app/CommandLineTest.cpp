// The viewer's command line: what each option sets and what it refuses.

#include <gtest/gtest.h>

#include "app/CommandLine.h"

namespace kavrel {
namespace {

using Action = CommandLine::Action;

TEST(CommandLineTest, OptionsSetWhatTheyNameAndBadOnesAreRefused) {
    const CommandLine none = ParseCommandLine({});
    EXPECT_EQ(none.action, Action::Run);
    EXPECT_FALSE(none.channel || none.play || none.fullScreen || none.view || none.kiosk);
    EXPECT_TRUE(ParseCommandLine({"--play", "--kiosk"}).kiosk);

    const CommandLine all = ParseCommandLine({"--fullscreen", "--channel", "32", "--play"});
    EXPECT_EQ(all.action, Action::Run);
    EXPECT_EQ(all.channel, 31);  // 1-based on the command line, as the buttons
    EXPECT_TRUE(all.play && all.fullScreen);
    EXPECT_EQ(ParseCommandLine({"--channel=1"}).channel, 0);

    // A monitor that must come back by itself: a saved view, as saved.
    const CommandLine wall = ParseCommandLine({"--view", "9", "--play"});
    EXPECT_EQ(wall.action, Action::Run);
    EXPECT_EQ(wall.view, 9);  // the slot itself, as Ctrl+9 saved it
    EXPECT_FALSE(wall.channel);
    EXPECT_EQ(ParseCommandLine({"--fullscreen", "--view=1"}).view, 1);
    // A monitor by its number from 1; whether it is there is known only later.
    EXPECT_EQ(ParseCommandLine({"--view", "2", "--screen", "2"}).screen, 2);
    EXPECT_EQ(ParseCommandLine({"--screen=7"}).screen, 7);
    for (const char* bad : {"0", "-1", "two", "2x", ""})
        EXPECT_EQ(ParseCommandLine({"--screen", bad}).action, Action::BadUsage) << bad;
    EXPECT_NE(UsageText("kavrel").find("--screen N"), std::string::npos);

    EXPECT_EQ(ParseCommandLine({"--play", "--help"}).action, Action::ShowHelp);
    EXPECT_EQ(ParseCommandLine({"-h"}).action, Action::ShowHelp);
    EXPECT_EQ(ParseCommandLine({"--version"}).action, Action::ShowVersion);
    EXPECT_EQ(VersionText().rfind("kavrel 1.", 0), 0u);

    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"--channel"},
                                               {"--channel", "0"},
                                               {"--channel", "33"},
                                               {"--channel=4x"},
                                               {"--channel", "-1"},
                                               {"--channel", "99999999999"},
                                               {"--view"},
                                               {"--view", "0"},
                                               {"--view", "10"},
                                               {"--view=3x"},
                                               {"--view="},
                                               {"--view", "--play"},
                                               {"--view", "2", "--channel", "3"},
                                               {"--channel=3", "--view=2"},
                                               {"--fullscreen", "--bogus"},
                                               {"-platform"},
                                               {"camera.example"}}) {
        const CommandLine line = ParseCommandLine(bad);
        EXPECT_EQ(line.action, Action::BadUsage) << bad.back();
        EXPECT_FALSE(line.error.empty());
    }
    EXPECT_NE(UsageText("kavrel").find("--channel N"), std::string::npos);
    EXPECT_NE(UsageText("kavrel").find("--view N"), std::string::npos);
    EXPECT_NE(UsageText("kavrel").find("--kiosk"), std::string::npos);
}

}  // namespace
}  // namespace kavrel
