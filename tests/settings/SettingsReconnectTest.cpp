// Changing the server in the settings dialog moves a running session from
// one simulated camera server to another.

#include <QComboBox>
#include <QCoreApplication>
#include <QPushButton>
#include <QTest>

#include "settings/ui/CSetDialog.h"
#include "settings/ui/SetDialogHook.h"
#include "tests/settings/SettingsCommandFixture.h"
#include "tests/support/SimulatorProcess.h"

namespace kavrel::test {
namespace {

constexpr int kDeadlineMs = 30000;

using SettingsReconnectTest = SettingsCommandFixture;

TEST_F(SettingsReconnectTest, OkMovesTheSessionToTheNewServer) {
    SimulatorProcess first{[] { QCoreApplication::processEvents(); }};
    SimulatorProcess second{[] { QCoreApplication::processEvents(); }};
    ASSERT_TRUE(first.Start()) << first.Log();
    ASSERT_TRUE(second.Start({"--channels", "8"})) << second.Log();
    ASSERT_NE(first.Port(), second.Port());

    WriteConfig(ServerSection("127.0.0.1", first.Port(), 0));
    COrvaneDlg& window = MakeWindow();
    QSignalSpy shown(&window, &COrvaneDlg::statusShown);
    window.OnCommand(control::kPlay);
    ASSERT_TRUE(first.WaitForLog("login accepted")) << first.Log();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Texts(shown).contains(Text(u"login_succeed")); },
                                kDeadlineMs));
    shown.clear();

    ScopedSetDialogHook hook([&](CSetDialog& dialog) {
        dialog.findChild<QComboBox*>("239")->setEditText(QString::number(second.Port()));
        dialog.findChild<QComboBox*>("242")->setCurrentIndex(5);
        dialog.findChild<QPushButton*>("244")->click();
    });
    window.OnCommand(control::kSet);

    // The old connection is closed, the new server sees the login on the
    // chosen channel, and the window shows the session running again.
    EXPECT_TRUE(first.WaitForLog("closed")) << first.Log();
    EXPECT_TRUE(second.WaitForLog("login accepted: version 5, current dialect, channel 5 of 8"))
        << second.Log();
    // Texts of the first session may still arrive before the break (its
    // stream format repeats "login_succeed"); from the break on, the order
    // is the reconnect's.
    auto reconnected = [&] {
        const QStringList texts = Texts(shown);
        const qsizetype broken = texts.indexOf(Text(u"connect_break"));
        return broken >= 0 && texts.indexOf(Text(u"login_succeed"), broken) > broken;
    };
    EXPECT_TRUE(QTest::qWaitFor(reconnected, kDeadlineMs))
        << Texts(shown).join(" | ").toStdString();
    const QStringList texts = Texts(shown);
    const qsizetype broken = texts.indexOf(Text(u"connect_break"));
    ASSERT_GE(broken, 0) << texts.join(" | ").toStdString();
    EXPECT_EQ(texts.mid(broken, 3),
              QStringList({Text(u"connect_break"), Text(u"connect_begin"), Text(u"login_server")}))
        << texts.join(" | ").toStdString();
    EXPECT_TRUE(window.PlayFaceActive());
    EXPECT_EQ(window.CurrentServer().port, QString::number(second.Port()).toStdU16String());
    EXPECT_EQ(window.currentChannel(), 5);
    EXPECT_TRUE(first.WaitForLog("login accepted", 1, SimulatorProcess::Lines::Exactly));
}

}  // namespace
}  // namespace kavrel::test
