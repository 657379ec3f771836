// The main window after start-up: its controls in creation order, their
// visibility, places, bitmaps and texts, and what start-up loaded.

#include <QWidget>

#include "config/ConfigStore.h"
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

TEST_F(MainWindowTest, WindowIsTheProgramsPortraitScreen) {
    WriteConfig();
    const COrvaneDlg& window = MakeWindow();
    EXPECT_EQ(window.windowTitle(), "Kavrel");
    EXPECT_EQ(window.size(), QSize(480, 640));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());  // fixed size
    EXPECT_FALSE(window.windowIcon().isNull());
}

TEST_F(MainWindowTest, ControlsLieWhereTheLayoutPutsThem) {
    WriteConfig();
    const COrvaneDlg& window = MakeWindow();
    const MainLayout layout = ComputeMainLayout(480, 640);
    EXPECT_EQ(window.TitleLabel()->geometry(), QRect(0, 0, 441, 40));
    EXPECT_EQ(window.Button(201)->geometry(), QRect(441, 0, 39, 40));
    EXPECT_EQ(window.Button(203)->geometry(), QRect(0, 560, 79, 80));
    EXPECT_EQ(window.Button(208)->geometry(), QRect(399, 560, 80, 80));
    EXPECT_EQ(window.Button(216)->geometry(), QRect(276, 494, 60, 60));
    EXPECT_EQ(window.StatusLine()->geometry(), QRect(0, 382, 480, 40));
    EXPECT_EQ(window.VideoWindowRect(), QRect(0, 40, 480, 342));
    EXPECT_EQ(window.VideoWindow()->geometry(), QRect(0, 40, 480, 342));
    for (int id = 203; id <= 218; ++id) {
        EXPECT_EQ(window.Button(id)->geometry(), layout.ButtonById(id).ToQRect()) << id;
    }
    // Every page of channels lies on the first page's places.
    for (int index = 0; index < 32; ++index) {
        EXPECT_EQ(window.ChannelButton(index)->geometry(), layout.ChannelButton(index).ToQRect())
            << "channel " << index + 1;
    }
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

TEST_F(MainWindowTest, MissingConfigFileGivesEmptyTextsAndServer) {
    const COrvaneDlg& window = MakeWindow();
    EXPECT_EQ(window.CurrentServer(), ServerSettings{});
    EXPECT_TRUE(m_labels.title().empty());
    EXPECT_EQ(window.TitleLabel()->text(), " Kavrel 1.0.1");
}

}  // namespace
}  // namespace kavrel
