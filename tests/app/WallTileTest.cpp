// What a tile says over its picture: why it shows none (in its corner), and
// that no text over a picture covers another or is cut off, in any layout,
// window size and language.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QTest>
#include <cstring>

#include "app/CameraWall.h"
#include "app/WallTile.h"
#include "config/Localisation.h"
#include "protocol/WireFormat.h"
#include "skin/MainLayout.h"
#include "tests/app/LoopbackServer.h"
#include "video/OverlayLayout.h"

namespace kavrel {
namespace {

QString Text(int language, std::u16string_view key) {
    return QString::fromStdU16String(LoadText(language, key));
}

// The connection whose (Current dialect) login asked for `channel`; -1 if none.
int ConnectionOf(const test::LoopbackServer& server, int channel) {
    for (int index = 0; index < server.Connections(); ++index) {
        const auto packets = server.Packets(index);
        uint32_t mask = 0;
        if (!packets.empty() && packets[0].size() == 88)
            std::memcpy(&mask, packets[0].data() + 80, sizeof mask);
        if (mask == (1u << channel))
            return index;
    }
    return -1;
}

TEST(WallTileState, ARefusedLoginALackingChannelAndConnectingEachSaySo) {
    test::LoopbackServer server;
    ASSERT_NE(server.Port(), 0);
    QTemporaryDir snapshots;
    QWidget owner;
    owner.resize(640, 480);
    auto* wall = new CameraWall(&owner);
    wall->setGeometry(owner.rect());
    wall->show();
    CameraWall::Setup setup;
    setup.snapshotFolder = snapshots.path().toStdString();
    const ServerSettings camera{u"127.0.0.1", QString::number(server.Port()).toStdU16String(),
                                u"admin", u"admin", 0};
    wall->ShowPage(WallLayout::Grid2, TileSource{camera, ProtocolVariant::Current, 0}, 0, setup);
    const auto tile = [&](int index) { return static_cast<WallTile*>(wall->Tile(index)); };
    const auto corner = [&](int index) { return tile(index)->Overlays().state.text; };

    ASSERT_TRUE(QTest::qWaitFor([&] { return ConnectionOf(server, 0) >= 0; }));
    EXPECT_EQ(corner(0), Text(0, u"tile_connecting"));
    // The server turns out to have two channels.
    wall->LimitChannels(camera, 2);
    for (int index : {2, 3})
        EXPECT_EQ(corner(index), Text(0, u"tile_no_channel")) << index;

    const std::vector<uint8_t> version{5, 0, 0, 0}, refused{0, 0, 0, 0};
    wire::PacketBuilder refusal(0);
    refusal.Add(wire::kVersionInfo, version).Add(wire::kLoginAnswer, refused);
    ASSERT_TRUE(server.Send(ConnectionOf(server, 0), refusal.Bytes()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !wall->Session(0)->Watching(); }));
    EXPECT_EQ(corner(0), Text(0, u"login_fail"));
    // Play again: connecting once more, the refusal forgotten.
    wall->StartAll();
    ASSERT_TRUE(QTest::qWaitFor([&] { return wall->Session(0)->Watching(); }));
    EXPECT_EQ(corner(0), Text(0, u"tile_connecting"));
    wall->Clear();
}

// Every box inside `area` and apart from every other.
void ExpectApart(const std::vector<QRect>& boxes, const QRect& area, const std::string& where) {
    for (size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_TRUE(area.contains(boxes[i])) << where << " box " << i;
        for (size_t j = 0; j < i; ++j)
            EXPECT_FALSE(boxes[i].intersects(boxes[j])) << where << " boxes " << j << ", " << i;
    }
}

TEST(OverlayLayout, NoTextOverlapsOrIsCutAtAnyLayoutWindowSizeOrLanguage) {
    const WallTile probe(nullptr);
    const QFontMetrics font = probe.fontMetrics();
    const QSize windows[] = {{480, 640}, {1280, 720}, {1920, 1080}};
    const WallLayout layouts[] = {WallLayout::Single, WallLayout::Grid2, WallLayout::Grid3,
                                  WallLayout::Grid4, WallLayout::OnePlusFive};
    for (int language = 0; language < 3; ++language) {
        // The widest of the corner's states.
        QString state;
        for (std::u16string_view key : {u"login_fail", u"tile_no_channel", u"tile_cannot_decode",
                                        u"tile_too_large", u"tile_connecting"}) {
            if (font.horizontalAdvance(Text(language, key)) > font.horizontalAdvance(state))
                state = Text(language, key);
        }
        StatisticsPanel panel;
        const std::pair<std::u16string_view, const char*> rows[] = {
            {u"stats_codec", "H.265"},        {u"stats_size", "1920 \u00d7 1080"},
            {u"stats_fps", "25.0 / 25.0"},    {u"stats_dropped", "1,234"},
            {u"stats_decode", "12.3 / 45.6"}, {u"stats_latency", "123.4 / 567.8"},
            {u"stats_bitrate", "4,096"},
        };
        for (const auto& [key, value] : rows) {
            panel.rows.emplace_back(Text(language, key), QString::fromUtf8(value));
            panel.shortLabels.push_back(Text(language, std::u16string(key) + u"_short"));
        }
        panel.graphTitle = Text(language, u"stats_graph");
        panel.latencyLabel = Text(language, u"stats_graph_latency");
        panel.bitRateLabel = Text(language, u"stats_graph_bitrate");
        OverlayTexts texts{state, QStringLiteral("1:23:45"), QStringLiteral("2.5x"),
                           Text(language, u"tile_key_frames_only"), &panel};

        for (const QSize& window : windows) {
            const QRect video =
                ComputeWindowLayout(window.width(), window.height()).video.ToQRect();
            for (WallLayout layout : layouts) {
                const bool single = layout == WallLayout::Single;
                for (int index = 0; index < (single ? 1 : TileCount(layout)); ++index) {
                    // Inside the wall's outer line, then inside the tile's border.
                    const QSize tile =
                        single ? video.size()
                               : WallTileRect(QRect(QPoint(), video.size()).adjusted(1, 1, -1, -1),
                                              layout, index)
                                     .size();
                    const QRect area(1, 1, tile.width() - 2, tile.height() - 2);
                    const std::string where = "language " + std::to_string(language) + ", " +
                                              std::to_string(window.width()) + "x" +
                                              std::to_string(window.height()) + ", layout " +
                                              std::to_string(int(layout)) + ", tile " +
                                              std::to_string(index);
                    const OverlayLayout placed = LayOutOverlays(font, area, texts);
                    std::vector<QRect> boxes;
                    for (const OverlayBadge* badge :
                         {&placed.state, &placed.record, &placed.zoom, &placed.keyFramesOnly}) {
                        if (badge->box.isEmpty())
                            continue;
                        boxes.push_back(badge->box);
                        EXPECT_TRUE(badge->box.contains(badge->textBox)) << where;
                        EXPECT_LE(font.horizontalAdvance(badge->text), badge->textBox.width())
                            << where;
                    }
                    const StatisticsLayout& statistics = placed.statistics;
                    if (!statistics.box.isEmpty())
                        boxes.push_back(statistics.box);
                    ExpectApart(boxes, area, where);
                    std::vector<QRect> inside;
                    for (const PanelText& text : statistics.texts) {
                        inside.push_back(text.box);
                        EXPECT_LE(font.horizontalAdvance(text.text), text.box.width()) << where;
                    }
                    if (!statistics.graph.isEmpty())
                        inside.push_back(statistics.graph);
                    ExpectApart(inside, statistics.box, where + " panel");
                    // The single view has room for everything, whole.
                    if (single) {
                        EXPECT_EQ(placed.state.text, state) << where;
                        EXPECT_FALSE(placed.record.box.isEmpty()) << where;
                        EXPECT_FALSE(placed.zoom.box.isEmpty()) << where;
                        EXPECT_FALSE(statistics.graph.isEmpty()) << where;
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace kavrel
