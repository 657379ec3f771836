// The main window after start-up: its controls in creation order, their
// visibility, places, bitmaps and texts, and what start-up loaded.

#include <QTest>
#include <QWidget>

#include <QApplication>
#include <QMouseEvent>

#include "app/CommandLine.h"
#include "config/ConfigStore.h"
#include "settings/ViewPreferences.h"
#include "skin/BitmapIds.h"
#include "skin/CSkinButton.h"
#include "skin/CSkinStatic.h"
#include "skin/MainLayout.h"
#include "tests/app/MainWindowFixture.h"
#include "video/CVideoAtom.h"

namespace kavrel {
namespace {

using test::MainWindowFixture;
using MainWindowTest = MainWindowFixture;

// The skinned controls' ids in the order the window holds its children.
std::vector<int> ControlIdsInCreationOrder(const COrvaneDlg& window) {
    std::vector<int> ids;
    for (const QObject* child : window.children()) {
        bool isNumber = false;
        const int id = child->objectName().toInt(&isNumber);
        if (child->isWidgetType() && isNumber)
            ids.push_back(id);
    }
    return ids;
}

std::vector<int> ExpectedCreationOrder() {
    std::vector<int> ids = {202, 201, 203, 204, 205, 206, 207, 208, 211,
                            212, 209, 210, 213, 214, 217, 218, 215, 216};
    for (int first = 1; first <= 29; first += 4) {
        for (int offset : {0, 2, 1, 3})
            ids.push_back(1218 + first + offset);
    }
    ids.push_back(235);
    ids.push_back(236);
    return ids;
}

TEST_F(MainWindowTest, ControlsAreCreatedInTheirOrder) {
    WriteConfig();
    const COrvaneDlg& window = MakeWindow();
    EXPECT_EQ(ControlIdsInCreationOrder(window), ExpectedCreationOrder());
}

TEST_F(MainWindowTest, OnlyTheFirstChannelPageShowsAtStart) {
    WriteConfig();
    const COrvaneDlg& window = MakeWindow();
    for (int id : ExpectedCreationOrder()) {
        const QWidget* control = window.findChild<QWidget*>(QString::number(id));
        ASSERT_NE(control, nullptr) << id;
        const bool hiddenChannel = id >= 1223 && id <= 1250;
        EXPECT_EQ(control->isVisibleTo(&window), !hiddenChannel) << id;
    }
}

// Every control where `layout` puts it (every page of channels on the first
// page's places).
void ExpectControlsAt(const COrvaneDlg& window, const MainLayout& layout) {
    EXPECT_EQ(window.TitleLabel()->geometry(), layout.titleLabel.ToQRect());
    EXPECT_EQ(window.Button(201)->geometry(), layout.titleExit.ToQRect());
    for (int id = 203; id <= 218; ++id)
        EXPECT_EQ(window.Button(id)->geometry(), layout.ButtonById(id).ToQRect()) << id;
    for (int index = 0; index < 32; ++index) {
        EXPECT_EQ(window.ChannelButton(index)->geometry(), layout.ChannelButton(index).ToQRect())
            << "channel " << index + 1;
    }
    EXPECT_EQ(window.StatusLine()->geometry(), layout.statusLine.ToQRect());
    EXPECT_EQ(window.VideoWindow()->geometry(), layout.video.ToQRect());
    EXPECT_EQ(window.VideoWindowRect(), layout.video.ToQRect());
}

TEST_F(MainWindowTest, WindowOpensAsTheProgramsPortraitScreenAndTakesAnySize) {
    WriteConfig();
    const COrvaneDlg& window = MakeWindow();
    EXPECT_EQ(window.windowTitle(), "Kavrel");
    EXPECT_EQ(window.size(), QSize(480, 640));
    EXPECT_EQ(window.minimumSize(), QSize(240, 240));
    EXPECT_EQ(window.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    EXPECT_FALSE(window.windowIcon().isNull());
}

TEST_F(MainWindowTest, ControlsLieWhereTheLayoutPutsThem) {
    WriteConfig();
    const COrvaneDlg& window = MakeWindow();
    EXPECT_EQ(window.TitleLabel()->geometry(), QRect(0, 0, 441, 40));
    EXPECT_EQ(window.Button(201)->geometry(), QRect(441, 0, 39, 40));
    EXPECT_EQ(window.Button(203)->geometry(), QRect(0, 560, 79, 80));
    EXPECT_EQ(window.Button(208)->geometry(), QRect(399, 560, 80, 80));
    EXPECT_EQ(window.Button(216)->geometry(), QRect(276, 494, 60, 60));
    EXPECT_EQ(window.StatusLine()->geometry(), QRect(0, 382, 480, 40));
    EXPECT_EQ(window.VideoWindow()->geometry(), QRect(0, 40, 480, 342));
    ExpectControlsAt(window, ComputeMainLayout(480, 640));
}

TEST_F(MainWindowTest, EveryResizeLaysOutAgainPortraitByTheFormulasLandscapeAsADesktop) {
    WriteConfig();
    COrvaneDlg& window = MakeWindow();
    window.show();
    window.resize(960, 1280);
    ExpectControlsAt(window, ComputeMainLayout(960, 1280));

    window.resize(1280, 720);
    const MainLayout desktop = ComputeDesktopLayout(1280, 720);
    ExpectControlsAt(window, desktop);
    // The video on the left over the full height; the controls beside it,
    // each button at least 40 x 40, nothing overlapping, all inside.
    EXPECT_EQ(desktop.video.ToQRect(), QRect(0, 0, desktop.video.right, 720));
    std::vector<std::pair<int, QRect>> controls = {{202, window.TitleLabel()->geometry()},
                                                   {235, window.StatusLine()->geometry()},
                                                   {236, window.VideoWindow()->geometry()}};
    for (int id = 201; id <= 218; ++id) {
        if (const CSkinButton* button = window.Button(id))
            controls.emplace_back(id, button->geometry());
    }
    for (int index = 0; index < 4; ++index)
        controls.emplace_back(1219 + index, window.ChannelButton(index)->geometry());
    for (const auto& [id, rect] : controls) {
        EXPECT_TRUE(window.rect().contains(rect)) << id;
        if (id != 202 && id != 235 && id != 236) {
            EXPECT_GE(rect.width(), 40) << id;
            EXPECT_GE(rect.height(), 40) << id;
        }
        for (const auto& [other, otherRect] : controls) {
            if (other != id) {
                EXPECT_FALSE(rect.intersects(otherRect)) << id << " and " << other;
            }
        }
    }

    window.resize(480, 640);
    ExpectControlsAt(window, ComputeMainLayout(480, 640));
}

TEST_F(MainWindowTest, TheWindowComesBackWhereTheUserLeftItWithItsAspectChoice) {
    WriteConfig();
    m_answer = QMessageBox::Yes;
    const QRect left(QPoint(300, 200), QSize(1000, 700));
    {
        COrvaneDlg& window = MakeWindow();
        EXPECT_TRUE(window.KeepAspect());  // a new user's default
        window.show();
        window.setGeometry(left);
        QTest::keyClick(&window, Qt::Key_A);
        window.OnCommand(control::kExit);  // Yes: saved with the server
    }
    EXPECT_EQ(LoadViewPreferences(), (ViewPreferences{left, false, false}));
    COrvaneDlg& again = MakeWindow();
    EXPECT_EQ(again.geometry(), left);
    EXPECT_FALSE(again.KeepAspect());  // the stored stretch, not the default
    EXPECT_FALSE(again.VideoWindow()->KeepAspect());
}

TEST_F(MainWindowTest, ControlsShowTheirBitmapsAndTexts) {
    WriteConfig();
    const COrvaneDlg& window = MakeWindow();
    const std::vector<std::pair<int, int>> bitmaps = {
        {201, 131}, {203, 134}, {204, 136}, {205, 137}, {206, 138}, {207, 139},
        {208, 135}, {211, 141}, {212, 142}, {209, 144}, {210, 143}, {213, 145},
        {214, 146}, {217, 147}, {218, 148}, {215, 150}, {216, 149}};
    for (const auto& [id, bitmapId] : bitmaps) {
        EXPECT_EQ(window.Button(id)->bitmapId(), bitmapId) << id;
    }
    for (int channel = 1; channel <= 32; ++channel) {
        const CSkinButton* button = window.Button(1218 + channel);
        EXPECT_EQ(button->bitmapId(), bitmap::ChannelBitmapId(channel)) << channel;
        EXPECT_EQ(button->textPlacement(), 2);
        EXPECT_TRUE(button->text().isEmpty());
    }
    EXPECT_EQ(window.TitleLabel()->text(), " Kavrel 1.0.1");
    EXPECT_EQ(window.TitleLabel()->bitmapId(), 129);
    EXPECT_TRUE(window.StatusLine()->text().isEmpty());
    EXPECT_EQ(window.StatusLine()->bitmapId(), 129);
    EXPECT_EQ(window.VideoWindow()->windowTitle(), "Video");
    EXPECT_EQ(window.VideoWindow()->objectName(), "236");
    EXPECT_EQ(window.Button(202), nullptr);
    EXPECT_EQ(window.Button(1251), nullptr);
}

TEST_F(MainWindowTest, StartUpLoadsTheCurrentServerAndTheSettingsLabels) {
    WriteConfig(
        "\n[server]\nserver_address=10.0.0.5\nserver_port=80x\nserver_username=admin\n"
        "server_password=secret\nserver_channel=3\n");
    const COrvaneDlg& window = MakeWindow();
    const ServerSettings server = window.CurrentServer();
    EXPECT_EQ(server.address, u"10.0.0.5");
    EXPECT_EQ(server.port, u"80x");
    EXPECT_EQ(server.userName, u"admin");
    EXPECT_EQ(server.password, u"secret");
    EXPECT_EQ(window.currentChannel(), 3);

    const std::u16string section =
        u"lan" + QString::number(window.languageIndex()).toStdU16String();
    EXPECT_FALSE(m_labels.title().empty());
    EXPECT_EQ(m_labels.title(), ReadConfigValue(section, u"set_title"));
    EXPECT_EQ(m_labels.remove(), ReadConfigValue(section, u"set_delete"));
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(MainWindowTest, SessionFieldsStartAtTheirDefaults) {
    WriteConfig();
    const COrvaneDlg& window = MakeWindow();
    EXPECT_EQ(window.channelCount(), 32);
    EXPECT_EQ(window.currentChannel(), 0);
    EXPECT_EQ(window.settingsChannel(), 0);
    EXPECT_FALSE(window.videoReceived());
    EXPECT_EQ(window.variant(), ProtocolVariant::Current);
    EXPECT_EQ(window.CurrentServer(), ServerSettings{});
}

TEST_F(MainWindowTest, NetworkFailureIsReportedAndStartUpGoesOn) {
    WriteConfig();
    m_networkUp = false;
    m_answer = QMessageBox::Ok;
    const COrvaneDlg& window = MakeWindow();
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text, "Create network connect failed");
    EXPECT_EQ(m_messages[0].buttons, QMessageBox::Ok);
    EXPECT_EQ(ControlIdsInCreationOrder(window), ExpectedCreationOrder());
}

TEST_F(MainWindowTest, MissingConfigFileGivesTheBuiltInTextsAndNoServer) {
    const COrvaneDlg& window = MakeWindow();
    EXPECT_EQ(window.CurrentServer(), ServerSettings{});
    // The labels, the exit question and the status texts never go blank.
    EXPECT_FALSE(m_labels.title().empty());
    EXPECT_FALSE(m_labels.remove().empty());
    EXPECT_FALSE(window.LoadText(u"leave_text").isEmpty());
    EXPECT_FALSE(window.LoadText(u"connect_begin").isEmpty());
    EXPECT_EQ(window.TitleLabel()->text(), " Kavrel 1.0.1");
}

TEST_F(MainWindowTest, IdleVideoSaysHowToStartTheServerOrHowToNameOne) {
    WriteConfig(
        "\n[server]\nserver_address=cam.example\nserver_port=8000\nserver_username=viewer\n"
        "server_password=pw\nserver_channel=3\n");
    const CVideoAtom* video = MakeWindow().VideoWindow();
    const QString text = m_window->LoadText(u"idle_play");
    ASSERT_TRUE(text.contains("%s") && text.contains("%d"));
    const auto idle = [&](const char* channel) {
        return QString(text).replace("%s", "cam.example:8000").replace("%d", channel);
    };
    EXPECT_EQ(video->IdleText(), idle("4"));
    EXPECT_TRUE(video->ShowsIdleText());
    // A channel chosen while idle is the one Play would show.
    m_window->ApplyStartOptions(ParseCommandLine({"--channel", "7"}));
    EXPECT_EQ(video->IdleText(), idle("7"));

    WriteConfig();
    video = MakeWindow().VideoWindow();
    EXPECT_EQ(video->IdleText(), m_window->LoadText(u"idle_no_server"));
    EXPECT_FALSE(video->IdleText().isEmpty());
}

// Full screen entered as a saved full-screen view is (no picture needed).
void SetFullScreen(COrvaneDlg& window, bool on) {
    WallView view;
    view.layout = WallLayout::Single;
    view.fullScreen = on;
    window.ShowWallView(view);
}

TEST_F(MainWindowTest, PointerHidesOverFullScreenUntilMovedAndShowsAgainOutside) {
    WriteConfig();
    COrvaneDlg& window = MakeWindow();
    window.SetPointerIdleTime(std::chrono::milliseconds(20));
    QWidget* video = window.VideoWindow();
    const auto hidden = [&] { return video->cursor().shape() == Qt::BlankCursor; };
    SetFullScreen(window, true);
    ASSERT_TRUE(window.IsFullScreen());
    ASSERT_TRUE(QTest::qWaitFor(hidden, 10000));
    // A move over the picture (no mouse tracking needed) brings it back.
    QMouseEvent move(QEvent::MouseMove, QPointF(10, 10), video->mapToGlobal(QPointF(10, 10)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(video, &move);
    EXPECT_FALSE(hidden());
    ASSERT_TRUE(QTest::qWaitFor(hidden, 10000));
    SetFullScreen(window, false);
    EXPECT_FALSE(window.IsFullScreen());
    EXPECT_FALSE(hidden());
}

TEST_F(MainWindowTest, KioskStartsFullScreenAndOnlyCtrlQLeaves) {
    WriteConfig();
    COrvaneDlg& window = MakeWindow();
    window.ApplyStartOptions(ParseCommandLine({"--kiosk"}));
    QCoreApplication::sendPostedEvents();
    ASSERT_TRUE(window.IsFullScreen());
    QWidget* video = window.VideoWindow();
    QTest::mouseClick(video, Qt::LeftButton);
    QTest::mouseDClick(video, Qt::LeftButton);
    QTest::mouseClick(&window, Qt::LeftButton);
    QTest::keyClick(&window, Qt::Key_Escape);
    QTest::keyClick(&window, Qt::Key_F);
    SetFullScreen(window, false);
    EXPECT_TRUE(window.IsFullScreen());
    EXPECT_TRUE(m_messages.empty());
    QTest::keyClick(&window, Qt::Key_I);
    EXPECT_TRUE(window.StatisticsOn());
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text, window.LoadText(u"leave_text"));
}

}  // namespace
}  // namespace kavrel
