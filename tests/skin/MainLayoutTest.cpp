// The main window's geometry against the worked results of the design, and
// its shape at other sizes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "skin/ControlIds.h"
#include "skin/MainLayout.h"

namespace kavrel {
namespace {

using R = LayoutRect;

// Which rectangle of the layout a row of the worked table names.
enum class Place { ById, Channel, Status, Video, Title };

struct WorkedRow {
    std::string name;
    Place place;
    int key;  // control id for ById, place index (0 to 3) for Channel
    R at240x320;
    R at480x640;
    R at320x240;
};

const std::vector<WorkedRow>& WorkedTable() {
    using namespace control;
    static const std::vector<WorkedRow> rows = {
        {"title label 202", Place::Title, 0, {0, 0, 221, 20}, {0, 0, 441, 40}, {0, 0, 294, 15}},
        {"title exit 201",
         Place::ById,
         kTitleExit,
         {221, 0, 240, 20},
         {441, 0, 480, 40},
         {294, 0, 320, 15}},
        {"Play 203", Place::ById, kPlay, {0, 280, 39, 320}, {0, 560, 79, 640}, {0, 186, 53, 240}},
        {"Capture 204",
         Place::ById,
         kCapture,
         {39, 280, 79, 320},
         {79, 560, 159, 640},
         {53, 186, 106, 240}},
        {"Fullscreen 205",
         Place::ById,
         kFullScreen,
         {79, 280, 119, 320},
         {159, 560, 239, 640},
         {106, 186, 159, 240}},
        {"Switch 206",
         Place::ById,
         kSwitch,
         {119, 280, 159, 320},
         {239, 560, 319, 640},
         {159, 186, 213, 240}},
        {"Set 207",
         Place::ById,
         kSet,
         {159, 280, 199, 320},
         {319, 560, 399, 640},
         {213, 186, 266, 240}},
        {"exit 208",
         Place::ById,
         kExit,
         {199, 280, 239, 320},
         {399, 560, 479, 640},
         {266, 186, 319, 240}},
        {"up 211", Place::ById, kPtzUp, {3, 214, 33, 244}, {6, 428, 66, 488}, {4, 98, 44, 138}},
        {"down 212",
         Place::ById,
         kPtzDown,
         {3, 247, 33, 277},
         {6, 494, 66, 554},
         {4, 142, 44, 182}},
        {"left 209",
         Place::ById,
         kPtzLeft,
         {36, 214, 66, 244},
         {72, 428, 132, 488},
         {48, 98, 88, 138}},
        {"right 210",
         Place::ById,
         kPtzRight,
         {36, 247, 66, 277},
         {72, 494, 132, 554},
         {48, 142, 88, 182}},
        {"zoom in 213",
         Place::ById,
         kPtzZoomIn,
         {72, 214, 102, 244},
         {144, 428, 204, 488},
         {96, 98, 136, 138}},
        {"zoom out 214",
         Place::ById,
         kPtzZoomOut,
         {72, 247, 102, 277},
         {144, 494, 204, 554},
         {96, 142, 136, 182}},
        {"focus add 217",
         Place::ById,
         kPtzFocusAdd,
         {105, 214, 135, 244},
         {210, 428, 270, 488},
         {140, 98, 180, 138}},
        {"focus sub 218",
         Place::ById,
         kPtzFocusSub,
         {105, 247, 135, 277},
         {210, 494, 270, 554},
         {140, 142, 180, 182}},
        {"iris add 215",
         Place::ById,
         kPtzIrisAdd,
         {138, 214, 168, 244},
         {276, 428, 336, 488},
         {184, 98, 224, 138}},
        {"iris sub 216",
         Place::ById,
         kPtzIrisSub,
         {138, 247, 168, 277},
         {276, 494, 336, 554},
         {184, 142, 224, 182}},
        {"channel n",
         Place::Channel,
         0,
         {174, 214, 204, 244},
         {348, 428, 408, 488},
         {232, 98, 272, 138}},
        {"channel n+1",
         Place::Channel,
         1,
         {207, 214, 237, 244},
         {414, 428, 474, 488},
         {276, 98, 316, 138}},
        {"channel n+2",
         Place::Channel,
         2,
         {174, 247, 204, 277},
         {348, 494, 408, 554},
         {232, 142, 272, 182}},
        {"channel n+3",
         Place::Channel,
         3,
         {207, 247, 237, 277},
         {414, 494, 474, 554},
         {276, 142, 316, 182}},
        {"status line 235",
         Place::Status,
         0,
         {0, 191, 240, 211},
         {0, 382, 480, 422},
         {0, 79, 320, 94}},
        {"video window 236",
         Place::Video,
         0,
         {0, 20, 240, 191},
         {0, 40, 480, 382},
         {0, 15, 320, 79}},
    };
    return rows;
}

R Pick(const MainLayout& layout, const WorkedRow& row) {
    switch (row.place) {
        case Place::ById:
            return layout.ButtonById(row.key);
        case Place::Channel:
            return layout.channelPlaces[size_t(row.key)];
        case Place::Status:
            return layout.statusLine;
        case Place::Video:
            return layout.video;
        case Place::Title:
            return layout.titleLabel;
    }
    return R{};
}

std::string Show(const R& r) {
    return std::to_string(r.left) + ", " + std::to_string(r.top) + ", " + std::to_string(r.right) +
           ", " + std::to_string(r.bottom);
}

TEST(MainLayoutTest, MatchesEveryWorkedResult) {
    const MainLayout portraitSmall = ComputeMainLayout(240, 320);
    const MainLayout portraitLarge = ComputeMainLayout(480, 640);
    const MainLayout landscape = ComputeMainLayout(320, 240);
    for (const WorkedRow& row : WorkedTable()) {
        EXPECT_EQ(Show(Pick(portraitSmall, row)), Show(row.at240x320)) << row.name << " 240x320";
        EXPECT_EQ(Show(Pick(portraitLarge, row)), Show(row.at480x640)) << row.name << " 480x640";
        EXPECT_EQ(Show(Pick(landscape, row)), Show(row.at320x240)) << row.name << " 320x240";
    }
}

TEST(MainLayoutTest, TallClientKeepsTheVideoSquareWithAFreeBandAboveTheStatusLine) {
    const MainLayout layout = ComputeMainLayout(1000, 3000);
    EXPECT_EQ(Show(layout.video), Show(R{0, 187, 1000, 1187}));
    EXPECT_EQ(layout.video.Width(), 1000);
    EXPECT_EQ(layout.video.Height(), 1000);
    EXPECT_EQ(Show(layout.titleLabel), Show(R{0, 0, 917, 187}));
    // The status line stays right above the button rows, far below the video.
    EXPECT_EQ(Show(layout.statusLine), Show(R{0, 2358, 1000, 2545}));
    EXPECT_GT(layout.statusLine.top - layout.video.bottom, 1000);
}

TEST(MainLayoutTest, EveryChannelPageLiesOnTheFirstPagesPlaces) {
    const MainLayout layout = ComputeMainLayout(480, 640);
    for (int index = 0; index < control::kChannelButtons; ++index) {
        EXPECT_EQ(layout.ChannelButton(index), layout.channelPlaces[size_t(index % 4)])
            << "channel index " << index;
    }
}

TEST(MainLayoutTest, RowsStackFromTheBottomWithoutOverlap) {
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{
             {240, 320}, {480, 640}, {320, 240}, {481, 799}, {1000, 3000}}) {
        const MainLayout layout = ComputeMainLayout(w, h);
        const R play = layout.ButtonById(control::kPlay);
        const R down = layout.ButtonById(control::kPtzDown);
        const R up = layout.ButtonById(control::kPtzUp);
        EXPECT_EQ(play.bottom, h) << w << "x" << h;
        EXPECT_LE(down.bottom, play.top) << w << "x" << h;
        EXPECT_LE(up.bottom, down.top) << w << "x" << h;
        EXPECT_LE(layout.statusLine.bottom, up.top) << w << "x" << h;
        EXPECT_LE(layout.video.bottom, layout.statusLine.top) << w << "x" << h;
        EXPECT_EQ(layout.video.top, layout.titleLabel.bottom) << w << "x" << h;
        EXPECT_EQ(layout.titleExit.right, w) << w << "x" << h;
    }
}

TEST(MainLayoutTest, DegenerateSizesGiveRectanglesWithoutFailing) {
    for (const auto& [w, h] :
         std::vector<std::pair<int, int>>{{0, 0}, {1, 1}, {-5, 10}, {2147483647, 2147483647}}) {
        const MainLayout layout = ComputeMainLayout(w, h);
        EXPECT_EQ(layout.titleExit.right, w);
        EXPECT_EQ(layout.ButtonById(control::kExit).bottom, h);
    }
    EXPECT_EQ(ComputeMainLayout(480, 640).ButtonById(control::kTitleLabel), R{});
}

}  // namespace
}  // namespace kavrel
