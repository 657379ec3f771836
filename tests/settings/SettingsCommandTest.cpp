// The main window's settings command (207): the dialog over the window, the
// record handed in and taken back, and the reconnect on OK only.

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "settings/ui/CSetDialog.h"
#include "settings/ui/SetDialogHook.h"
#include "tests/settings/SettingsCommandFixture.h"
#include "tests/support/DebugCapture.h"
#include "tests/support/TestPorts.h"

namespace kavrel::test {
namespace {

using SettingsCommandTest = SettingsCommandFixture;

TEST_F(SettingsCommandTest, CloseChangesNothingInTheWindow) {
    WriteConfig(ServerSection("10.1.1.1", 81, 2));
    COrvaneDlg& window = MakeWindow();
    window.OnCommand(control::kSwitch);  // the second page of channel buttons shows
    const ServerSettings before = window.CurrentServer();
    QSignalSpy shown(&window, &COrvaneDlg::statusShown);
    DebugCapture debug;

    bool ran = false;
    ScopedSetDialogHook hook([&](CSetDialog& dialog) {
        ran = true;
        // Over the window, with its server and the settings channel (0 at
        // start, not the channel being viewed).
        EXPECT_EQ(dialog.geometry(), window.geometry());
        EXPECT_EQ(dialog.current(), (ServerSettings{u"10.1.1.1", u"81", u"admin", u"admin", 0}));
        EXPECT_EQ(dialog.findChild<QComboBox*>("238")->currentText(), QStringLiteral("10.1.1.1"));
        dialog.findChild<QComboBox*>("238")->setEditText("10.9.9.9");
        dialog.findChild<QPushButton*>("245")->click();  // add, then leave with close
        dialog.findChild<QPushButton*>("201")->click();
    });
    window.OnCommand(control::kSet);

    EXPECT_TRUE(ran);
    EXPECT_EQ(debug.Count("Set\n"), 1);
    EXPECT_EQ(window.CurrentServer(), before);
    EXPECT_EQ(window.settingsChannel(), 0);
    EXPECT_EQ(VisibleChannels(window), (std::vector<int>{5, 6, 7, 8}));
    EXPECT_FALSE(window.HasSource());
    EXPECT_FALSE(window.PlayFaceActive());
    EXPECT_TRUE(shown.isEmpty()) << Texts(shown).join(" | ").toStdString();
    // The dialog's own work was kept: the added server is in the history.
    std::u16string stored;
    ReadRegistryString(u"history0", stored);
    EXPECT_TRUE(stored.starts_with(u"10.9.9.9!.!81!.!")) << ToUtf8(stored);
}

TEST_F(SettingsCommandTest, OkTakesTheServerBackAndReconnectsInTheCurrentDialect) {
    WriteConfig(ServerSection("10.1.1.1", 81, 0));
    COrvaneDlg& window = MakeWindow();
    window.OnCommand(control::kSwitch);
    window.SetVariant(ProtocolVariant::Legacy);
    QSignalSpy shown(&window, &COrvaneDlg::statusShown);

    const RefusingPort refusing;
    const QString port = QString::number(refusing.Port());
    ScopedSetDialogHook hook([&](CSetDialog& dialog) {
        dialog.findChild<QComboBox*>("238")->setEditText("127.0.0.1");
        dialog.findChild<QComboBox*>("239")->setEditText(port + "x");  // kept as typed
        dialog.findChild<QComboBox*>("240")->setEditText("viewer");
        dialog.findChild<QLineEdit*>("241")->setText("pw");
        dialog.findChild<QComboBox*>("242")->setCurrentIndex(2);
        dialog.findChild<QPushButton*>("244")->click();
    });
    window.OnCommand(control::kSet);

    EXPECT_EQ(window.variant(), ProtocolVariant::Current);
    EXPECT_EQ(window.settingsChannel(), 2);
    // The four texts, and the settings channel as the channel connected to.
    EXPECT_EQ(window.CurrentServer(),
              (ServerSettings{u"127.0.0.1", (port + "x").toStdU16String(), u"viewer", u"pw", 2}));
    EXPECT_EQ(VisibleChannels(window), (std::vector<int>{1, 2, 3, 4}));
    // Nobody listens there: the attempt is made and fails, and the viewer
    // keeps trying with the Stop face up.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Texts(shown).size() >= 3; }));
    EXPECT_EQ(Texts(shown), QStringList({Text(u"connect_begin"), Text(u"connect_failed"),
                                         "Reconnecting in 1 s (attempt 1)"}));
    EXPECT_TRUE(window.PlayFaceActive());
}

TEST_F(SettingsCommandTest, OkWithoutAChannelHandsOnMinusOne) {
    WriteConfig(ServerSection("10.1.1.1", 81, 0));
    COrvaneDlg& window = MakeWindow();
    const RefusingPort refusing;
    const QString port = QString::number(refusing.Port());
    ScopedSetDialogHook hook([&](CSetDialog& dialog) {
        dialog.findChild<QComboBox*>("238")->setEditText("127.0.0.1");
        dialog.findChild<QComboBox*>("239")->setEditText(port);
        dialog.findChild<QComboBox*>("242")->setCurrentIndex(-1);
        dialog.findChild<QPushButton*>("244")->click();
    });
    window.OnCommand(control::kSet);
    EXPECT_EQ(window.settingsChannel(), -1);

    // The next run hands the -1 back in: no channel item is chosen.
    int shownChannel = 0;
    ScopedSetDialogHook again([&](CSetDialog& dialog) {
        shownChannel = dialog.findChild<QComboBox*>("242")->currentIndex();
        dialog.findChild<QPushButton*>("201")->click();
    });
    window.OnCommand(control::kSet);
    EXPECT_EQ(shownChannel, -1);
}

}  // namespace
}  // namespace kavrel::test
