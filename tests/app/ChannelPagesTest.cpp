// Switch (206) turns the pages of channel buttons, within the server's
// channel count.

#include "platform/DebugSink.h"
#include "skin/CSkinButton.h"
#include "tests/app/MainWindowFixture.h"
#include "tests/support/DebugCapture.h"

namespace kavrel {
namespace {

using ChannelPagesTest = test::MainWindowFixture;

// The 1-based numbers of the channel buttons that show.
std::vector<int> VisibleChannels(const COrvaneDlg& window) {
    std::vector<int> channels;
    for (int index = 0; index < 32; ++index) {
        if (window.ChannelButton(index)->isVisibleTo(&window))
            channels.push_back(index + 1);
    }
    return channels;
}

std::vector<int> Page(int first, int last) {
    std::vector<int> channels;
    for (int channel = first; channel <= last; ++channel)
        channels.push_back(channel);
    return channels;
}

struct PagingCase {
    int channelCount;
    std::vector<std::vector<int>> afterEachSwitch;
};

TEST_F(ChannelPagesTest, SwitchStepsThroughThePagesAndWrapsRound) {
    std::vector<std::vector<int>> allPages;
    for (int first = 5; first <= 29; first += 4)
        allPages.push_back(Page(first, first + 3));
    allPages.push_back(Page(1, 4));
    allPages.push_back(Page(5, 8));

    const std::vector<PagingCase> cases = {
        {32, allPages},
        {6, {Page(5, 6), Page(1, 4), Page(5, 6), Page(1, 4)}},
        {4, {Page(1, 4), Page(1, 4)}},
        {1, {Page(1, 4), Page(1, 4)}},  // the one page there is shows again
        {40, allPages},                 // more than there are buttons: the 32 still wrap
    };
    WriteConfig();
    for (const PagingCase& c : cases) {
        SCOPED_TRACE("channel count " + std::to_string(c.channelCount));
        COrvaneDlg& window = MakeWindow();
        window.SetChannelCount(c.channelCount);
        ASSERT_EQ(VisibleChannels(window), Page(1, 4));
        for (size_t press = 0; press < c.afterEachSwitch.size(); ++press) {
            window.OnCommand(control::kSwitch);
            EXPECT_EQ(VisibleChannels(window), c.afterEachSwitch[press]) << "press " << press + 1;
        }
    }
}

TEST_F(ChannelPagesTest, SwitchWritesItsDebugLineEvenWhenNothingChanges) {
    WriteConfig();
    COrvaneDlg& window = MakeWindow();
    test::DebugCapture capture;
    for (int index = 0; index < 32; ++index)
        window.ChannelButton(index)->hide();
    window.OnCommand(control::kSwitch);
    EXPECT_EQ(capture.Lines(), std::vector<std::string>{"Switch\n"});
    EXPECT_TRUE(VisibleChannels(window).empty());
}

TEST_F(ChannelPagesTest, ClickingTheSwitchButtonTurnsThePage) {
    WriteConfig();
    COrvaneDlg& window = MakeWindow();
    window.Button(control::kSwitch)->click();
    EXPECT_EQ(VisibleChannels(window), Page(5, 8));
}

TEST_F(ChannelPagesTest, TheFirstVisiblePageDecidesWhenSeveralShow) {
    WriteConfig();
    COrvaneDlg& window = MakeWindow();
    window.ChannelButton(8)->show();  // channel 9 of the third page as well
    window.OnCommand(control::kSwitch);
    EXPECT_EQ(VisibleChannels(window), (std::vector<int>{5, 6, 7, 8, 9}));
}

}  // namespace
}  // namespace kavrel
