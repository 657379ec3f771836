// The statistics of the real main window against kavrel-sim: the session
// counts every frame the pipeline received, decoded and showed, with a
// latency from arrival to paint; key I lays the panel over the picture (and
// only there) with the session's own numbers, and I or the menu takes it
// away again, leaving the picture as it was.

#include <QCoreApplication>
#include <QImage>
#include <QMenu>
#include <QTest>
#include <algorithm>
#include <memory>

#include "app/StreamMonitor.h"
#include "tests/app/SessionFixture.h"
#include "tests/support/SimulatorProcess.h"
#include "video/CVideoAtom.h"

namespace kavrel {
namespace {

QAction* MenuEntry(QMenu& menu, const QString& text) {
    const QList<QAction*> actions = menu.actions();
    const auto entry = std::find_if(actions.begin(), actions.end(),
                                    [&](QAction* action) { return action->text() == text; });
    return entry == actions.end() ? nullptr : *entry;
}

// Pixels of `a` and `b` that differ inside `area`, and outside it.
struct Differences {
    int inside = 0;
    int outside = 0;
};
Differences Compare(const QImage& a, const QImage& b, const QRect& area) {
    Differences found;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y))
                ++(area.contains(x, y) ? found.inside : found.outside);
        }
    }
    return found;
}

class StatisticsSimulatorTest : public test::SessionFixture {
  protected:
    test::SimulatorProcess m_sim{[] { QCoreApplication::processEvents(); }};
};

TEST_F(StatisticsSimulatorTest, PanelShowsTheSessionsNumbersOverThePictureAndHides) {
    ASSERT_TRUE(m_sim.Start({})) << m_sim.Log();
    MakeSessionWindow(m_sim.Port(), 0);
    m_window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->OnCommand(control::kPlay);
    CVideoAtom* video = m_window->VideoWindow();
    StreamMonitor* monitor = m_window->Session().Monitor();
    ASSERT_NE(monitor, nullptr);
    ASSERT_TRUE(WaitFor([&] { return monitor->Summary().shown >= 20; })) << m_sim.Log();

    // Stopped, the last picture stays and nothing new is counted: the
    // numbers and the screen hold still for the comparison.
    m_window->OnCommand(control::kPlay);
    ASSERT_FALSE(m_window->PlayFaceActive());
    // The stop ends the connection, not the decoding of the frames already
    // queued: those end too, and a picture handed over before is painted
    // now, so that no sample comes in after the numbers are taken.
    video->StopDecoding();
    QCoreApplication::sendPostedEvents();
    const QImage without = video->grab().toImage();
    QCoreApplication::sendPostedEvents();
    const PipelineCounters counters = video->Pipeline().Counters();
    const FrameTimelineSummary summary = monitor->Summary();
    EXPECT_EQ(summary.received, counters.framesAdded + counters.framesRefused);
    EXPECT_EQ(summary.decoded, counters.framesDecoded);
    EXPECT_EQ(summary.dropped, counters.framesDropped);
    EXPECT_LE(summary.shown, summary.decoded);
    EXPECT_GT(summary.bytes, 0u);
    EXPECT_GT(summary.decodeMeanMs, 0);
    EXPECT_GE(summary.decodeMaxMs, summary.decodeMeanMs);
    // Latency covers at least the decoding, and a loopback stream is not late
    // by seconds.
    EXPECT_GT(summary.latencyMedianMs, 0);
    EXPECT_GE(summary.latencyP95Ms, summary.latencyMedianMs);
    EXPECT_LT(summary.latencyP95Ms, 5000);

    ASSERT_FALSE(video->StatisticsShown());
    EXPECT_TRUE(video->StatisticsPanelArea().isEmpty());

    QTest::keyClick(m_window.get(), Qt::Key_I);
    ASSERT_TRUE(video->StatisticsShown());
    ASSERT_TRUE(WaitFor([&] { return !video->CurrentStatisticsPanel().rows.empty(); }));
    const StatisticsPanel& panel = video->CurrentStatisticsPanel();
    ASSERT_EQ(panel.rows.size(), 7u);
    EXPECT_EQ(panel.rows[0].first, Text(u"stats_codec"));
    EXPECT_EQ(panel.rows[0].second, QStringLiteral("H.264"));
    const QSize size = video->LatestPictureSource();
    EXPECT_TRUE(panel.rows[1].second.contains(QString::number(size.width())));
    EXPECT_EQ(panel.rows[3].first, Text(u"stats_dropped"));
    EXPECT_EQ(panel.rows[3].second, QString::number(summary.dropped));
    EXPECT_EQ(panel.rows[4].second, StreamMonitor::Milliseconds(summary.decodeMeanMs) +
                                        QStringLiteral(" / ") +
                                        StreamMonitor::Milliseconds(summary.decodeMaxMs));
    EXPECT_EQ(panel.rows[5].first, Text(u"stats_latency"));
    EXPECT_EQ(panel.rows[5].second, StreamMonitor::Milliseconds(summary.latencyMedianMs) +
                                        QStringLiteral(" / ") +
                                        StreamMonitor::Milliseconds(summary.latencyP95Ms));
    ASSERT_EQ(panel.latencyMs.size(), size_t(FrameTimeline::kSeconds));
    // Some whole second of the stream is in the graph (the test ran over one).
    EXPECT_TRUE(WaitFor([&] {
        const auto& points = video->CurrentStatisticsPanel().latencyMs;
        return std::any_of(points.begin(), points.end(), [](double ms) { return ms >= 0; });
    }));

    // The panel changes the picture where it lies (its text and lines at
    // least: over an aspect bar, black stays black), and nowhere else.
    const QRect area = video->StatisticsPanelArea();
    ASSERT_FALSE(area.isEmpty());
    const QImage with = video->grab().toImage();
    const Differences shown = Compare(without, with, area);
    EXPECT_GT(shown.inside, area.width() * area.height() / 20);
    EXPECT_EQ(shown.outside, 0);

    // The menu entry (key I) takes it away: the picture is as before.
    std::unique_ptr<QMenu> menu(m_window->MakeVideoMenu());
    QAction* entry = MenuEntry(*menu, Text(u"cmd_statistics") + QStringLiteral("\tI"));
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->isChecked());
    entry->trigger();
    EXPECT_FALSE(video->StatisticsShown());
    EXPECT_FALSE(m_window->StatisticsOn());
    const Differences hidden = Compare(without, video->grab().toImage(), area);
    EXPECT_EQ(hidden.inside, 0);
    EXPECT_EQ(hidden.outside, 0);
}

}  // namespace
}  // namespace kavrel
