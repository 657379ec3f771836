// The tour: which view comes next and when, the pause a user's action
// makes, the pages when nothing is saved, and the texts it fills.

#include "app/WallTour.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include "config/Localisation.h"

namespace kavrel {
namespace {

using namespace std::chrono_literals;

constexpr int kDeadlineMs = 10'000;  // a generous ceiling; the waits end long before

// The first `count` slots shown, in order, once they came (fewer only when
// the deadline passed first).
std::vector<int> ShownSlots(QSignalSpy& spy, int count) {
    while (spy.count() < count && spy.wait(kDeadlineMs)) {
    }
    std::vector<int> shown;
    for (qsizetype i = 0; i < std::min<qsizetype>(spy.count(), count); ++i)
        shown.push_back(spy.at(i).at(0).toInt());
    return shown;
}

TEST(WallTourTest, WalksTheSavedViewsInOrderFromTheOneOnScreen) {
    WallTour tour;
    tour.SetViews({7, 2, 0, 5, 12, 2});  // out of range and repeats dropped
    EXPECT_EQ(tour.Views(), (std::vector<int>{2, 5, 7}));
    tour.SetInterval(20ms);
    tour.SetCurrentView(5);  // recalled by hand before the tour starts
    QSignalSpy shown(&tour, &WallTour::showView);
    QSignalSpy pages(&tour, &WallTour::nextPage);
    QSignalSpy states(&tour, &WallTour::stateChanged);

    tour.Start();
    EXPECT_TRUE(tour.Running());
    EXPECT_FALSE(tour.Paused());
    ASSERT_EQ(states.count(), 1);
    EXPECT_EQ(states.at(0).at(0).value<WallTour::State>(), WallTour::State::Running);
    EXPECT_EQ(shown.count(), 0);  // the view on screen keeps its whole interval

    EXPECT_EQ(ShownSlots(shown, 4), (std::vector<int>{7, 2, 5, 7}));  // round to the first
    EXPECT_EQ(pages.count(), 0);
    EXPECT_EQ(tour.CurrentView(), 7);

    tour.Start();  // already running: no second timer, no second signal
    EXPECT_EQ(states.count(), 1);
    tour.Stop();
    EXPECT_FALSE(tour.Running());
    ASSERT_EQ(states.count(), 2);
    EXPECT_EQ(states.at(1).at(0).value<WallTour::State>(), WallTour::State::Stopped);
    shown.clear();
    EXPECT_FALSE(shown.wait(100));  // stopped means stopped
    tour.Stop();
    EXPECT_EQ(states.count(), 2);
}

TEST(WallTourTest, OneSavedViewIsNotRecalledAgainAndAgain) {
    WallTour tour;
    tour.SetViews({3});
    tour.SetCurrentView(3);
    tour.SetInterval(10ms);
    QSignalSpy shown(&tour, &WallTour::showView);
    tour.Start();
    // Every step would reconnect every camera of the wall.
    EXPECT_FALSE(shown.wait(150));
    // The user went to a wall of no saved view: the tour brings view 3 back,
    // and a view saved meanwhile joins at its place.
    tour.SetCurrentView(0);
    EXPECT_EQ(ShownSlots(shown, 1), std::vector<int>{3});
    tour.SetViews({3, 4});
    EXPECT_EQ(ShownSlots(shown, 3), (std::vector<int>{3, 4, 3}));
}

TEST(WallTourTest, TurnsPagesWhenNoViewIsSaved) {
    WallTour tour;
    tour.SetInterval(10ms);
    QSignalSpy shown(&tour, &WallTour::showView);
    QSignalSpy pages(&tour, &WallTour::nextPage);
    tour.Start();
    while (pages.count() < 3 && pages.wait(kDeadlineMs)) {
    }
    EXPECT_GE(pages.count(), 3);
    EXPECT_EQ(shown.count(), 0);

    tour.SetViews({6});  // the first view saved ends the pages
    pages.clear();
    EXPECT_EQ(ShownSlots(shown, 1), std::vector<int>{6});
    EXPECT_EQ(pages.count(), 0);
}

TEST(WallTourTest, AUsersActionPausesTheTourUntilLeftAloneForThePause) {
    constexpr auto kPause = 600ms;
    WallTour tour;
    tour.SetViews({1, 2});
    tour.SetInterval(10ms);
    tour.SetPauseLength(kPause);
    QSignalSpy shown(&tour, &WallTour::showView);
    QSignalSpy states(&tour, &WallTour::stateChanged);

    tour.UserActed();  // stopped: nothing to pause
    EXPECT_FALSE(tour.Running());
    EXPECT_EQ(states.count(), 0);

    tour.Start();
    ASSERT_EQ(ShownSlots(shown, 1), std::vector<int>{1});
    tour.UserActed();
    const int lastBeforePause = shown.last().at(0).toInt();
    EXPECT_TRUE(tour.Paused());
    EXPECT_TRUE(tour.Running());  // still on: T would stop it
    ASSERT_EQ(states.count(), 2);
    EXPECT_EQ(states.at(1).at(0).value<WallTour::State>(), WallTour::State::Paused);
    const int shownBeforePause = int(shown.count());

    // A second action well into the pause starts the pause again. Timers fire
    // only while events are processed, so the tour is still paused here.
    QTRY_VERIFY_WITH_TIMEOUT(tour.PauseRemaining() < kPause - 100ms, kDeadlineMs);
    ASSERT_TRUE(tour.Paused());
    tour.UserActed();
    QElapsedTimer sinceLastAction;
    sinceLastAction.start();
    EXPECT_GT(tour.PauseRemaining(), kPause - 100ms);
    EXPECT_EQ(states.count(), 2);  // paused again is no new state

    ASSERT_TRUE(states.wait(kDeadlineMs));
    EXPECT_EQ(states.at(2).at(0).value<WallTour::State>(), WallTour::State::Running);
    EXPECT_GE(sinceLastAction.elapsed(), std::chrono::milliseconds(kPause).count() - 1);
    EXPECT_EQ(shown.count(), shownBeforePause);  // nothing moved while paused
    EXPECT_EQ(tour.PauseRemaining(), 0ms);
    // And it goes on from where it was.
    const std::vector<int> after = ShownSlots(shown, shownBeforePause + 1);
    ASSERT_EQ(int(after.size()), shownBeforePause + 1);
    EXPECT_EQ(after.back(), lastBeforePause == 1 ? 2 : 1);

    // Stopping a paused tour stops it for good.
    tour.UserActed();
    tour.Stop();
    EXPECT_FALSE(tour.Running());
    EXPECT_FALSE(states.wait(int(std::chrono::milliseconds(kPause).count()) + 200));
    EXPECT_EQ(states.last().at(0).value<WallTour::State>(), WallTour::State::Stopped);
}

TEST(WallTourTest, TextsAreFilledByTheProgram) {
    const auto lookup = [](std::u16string_view key) {
        if (key == u"tour_running")
            return QStringLiteral("every %d s, 100% sure %s");
        return QString::fromStdU16String(std::u16string(key));
    };
    EXPECT_EQ(TourStatusText(WallTour::State::Running, 10s, lookup),
              QStringLiteral("every 10 s, 100% sure %s"));
    EXPECT_EQ(TourStatusText(WallTour::State::Running, 1500ms, lookup),
              QStringLiteral("every 2 s, 100% sure %s"));
    EXPECT_EQ(TourStatusText(WallTour::State::Running, 10ms, lookup),
              QStringLiteral("every 1 s, 100% sure %s"));
    EXPECT_EQ(TourStatusText(WallTour::State::Paused, 10s, lookup), QStringLiteral("tour_paused"));
    EXPECT_EQ(TourStatusText(WallTour::State::Stopped, 10s, lookup),
              QStringLiteral("tour_stopped"));

    EXPECT_EQ(FillNumber(QStringLiteral("View %d saved (Alt+%d shows it)"), 3),
              QStringLiteral("View 3 saved (Alt+3 shows it)"));
    EXPECT_EQ(FillNumber(QStringLiteral("%n %s %x %%d 50% %"), 9),
              QStringLiteral("%n %s %x %9 50% %"));

    WallTour tour;
    tour.SetInterval(0ms);
    EXPECT_EQ(tour.Interval(), WallTour::kDefaultInterval);
    tour.SetInterval(std::chrono::seconds(30));
    EXPECT_EQ(tour.Interval(), 30s);
}

}  // namespace
}  // namespace kavrel
