// Leaving (201, 208, and the window's own close): a Yes/No question whose Yes
// saves the current server and ends the modal run (saying so first when the
// save failed), and whose No changes nothing.

#include <QSignalSpy>
#include <QTimer>

#include "config/ConfigStore.h"
#include "settings/HistoryStore.h"
#include "tests/app/MainWindowFixture.h"

namespace kavrel {
namespace {

using ExitQuestionTest = test::MainWindowFixture;

const QByteArray kServerSection =
    "\n[server]\nserver_address=cam.example\nserver_port=8000\nserver_username=viewer\n"
    "server_password=pw\nserver_channel=3\n";

TEST_F(ExitQuestionTest, QuestionUsesTheLocalisedTextsYesNoAndTheInformationIcon) {
    WriteConfig();
    COrvaneDlg& window = MakeWindow();
    window.OnCommand(control::kTitleExit);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].caption, window.LoadText(u"leave_alert"));
    EXPECT_EQ(m_messages[0].text, window.LoadText(u"leave_text"));
    EXPECT_FALSE(m_messages[0].text.isEmpty());
    EXPECT_EQ(m_messages[0].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(m_messages[0].icon, QMessageBox::Information);
}

TEST_F(ExitQuestionTest, NoLeavesTheFileAndTheWindowAsTheyWere) {
    for (int id : {control::kTitleExit, control::kExit}) {
        WriteConfig(kServerSection);
        const QByteArray before = ReadConfig();
        COrvaneDlg& window = MakeWindow();
        QSignalSpy finished(&window, &QDialog::finished);
        m_answer = QMessageBox::No;
        window.OnCommand(id);
        EXPECT_EQ(finished.count(), 0) << id;
        EXPECT_EQ(ReadConfig(), before) << id;
        EXPECT_EQ(window.currentChannel(), 3);
    }
}

TEST_F(ExitQuestionTest, YesSavesTheCurrentServerAndEndsTheModalRun) {
    for (int id : {control::kTitleExit, control::kExit}) {
        WriteConfig();  // no server section yet: Yes appends it
        COrvaneDlg& window = MakeWindow();
        m_answer = QMessageBox::Yes;
        QSignalSpy finished(&window, &QDialog::finished);
        window.OnCommand(id);
        ASSERT_EQ(finished.count(), 1) << id;
        EXPECT_EQ(finished.at(0).at(0).toInt(), int(QDialog::Accepted));
        const QByteArray saved = ReadConfig();
        EXPECT_TRUE(saved.endsWith(
            "[server]\nserver_address=\nserver_port=\nserver_username=\nserver_password=\n"
            "server_channel=0\n"))
            << saved.right(120).toStdString();
    }
}

TEST_F(ExitQuestionTest, YesWritesTheValuesThatWereLoaded) {
    WriteConfig(kServerSection);
    COrvaneDlg& window = MakeWindow();
    // Rewrite the file behind the window's back: Yes must put the window's
    // own values back.
    WriteConfig("\n[server]\nserver_address=other\nserver_channel=9\n");
    m_answer = QMessageBox::Yes;
    window.OnCommand(control::kExit);
    const QByteArray saved = ReadConfig();
    EXPECT_TRUE(saved.contains("server_address=cam.example\n"));
    EXPECT_TRUE(saved.contains("server_port=8000\n"));
    EXPECT_TRUE(saved.contains("server_username=viewer\n"));
    EXPECT_TRUE(saved.contains("server_password=pw\n"));
    EXPECT_TRUE(saved.contains("server_channel=3\n"));
}

TEST_F(ExitQuestionTest, YesThatCannotSaveSaysSoAndStillEnds) {
    // A folder where a file stands: nothing can be created below it, root or not.
    const QString blocked = m_configPath + "/below-a-file";
    for (const char* store : {"config.txt", "settings.ini"}) {
        SCOPED_TRACE(store);
        WriteConfig(kServerSection);
        COrvaneDlg& window = MakeWindow();
        if (QLatin1String(store) == QLatin1String("config.txt"))
            SetConfigFilePath((blocked + "/config.txt").toStdU16String());
        else
            SetSettingsStoreFile((blocked + "/settings.ini").toStdU16String());
        m_messages.clear();
        m_answer = QMessageBox::Yes;
        QSignalSpy finished(&window, &QDialog::finished);
        window.OnCommand(control::kExit);
        ASSERT_EQ(m_messages.size(), 2u);
        EXPECT_EQ(m_messages[1].caption, window.LoadText(u"leave_alert"));
        EXPECT_EQ(m_messages[1].text, window.LoadText(u"save_failed"));
        EXPECT_FALSE(m_messages[1].text.isEmpty());
        EXPECT_EQ(m_messages[1].buttons, QMessageBox::Ok);
        EXPECT_EQ(m_messages[1].icon, QMessageBox::Warning);
        ASSERT_EQ(finished.count(), 1);  // the program still ends
        EXPECT_EQ(finished.at(0).at(0).toInt(), int(QDialog::Accepted));
        SetConfigFilePath(m_configPath.toStdU16String());
        SetSettingsStoreFile(m_dir.filePath("orvane/settings.ini").toStdU16String());
    }
}

TEST_F(ExitQuestionTest, ModalRunEndsOnYesAndGoesOnAfterNo) {
    WriteConfig();
    COrvaneDlg& window = MakeWindow();
    int asked = 0;
    // Answer No first, then Yes, each from inside the running modal loop.
    m_answer = QMessageBox::No;
    QTimer::singleShot(0, &window, [&] {
        window.OnCommand(control::kExit);
        ++asked;
        m_answer = QMessageBox::Yes;
        QTimer::singleShot(0, &window, [&] {
            window.OnCommand(control::kTitleExit);
            ++asked;
        });
    });
    EXPECT_EQ(window.exec(), int(QDialog::Accepted));
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(m_messages.size(), 2u);
}

TEST_F(ExitQuestionTest, ClosingTheWindowAsksTheSameQuestion) {
    WriteConfig(kServerSection);
    const QByteArray before = ReadConfig();
    COrvaneDlg& window = MakeWindow();
    window.show();
    QSignalSpy finished(&window, &QDialog::finished);
    m_answer = QMessageBox::No;
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(ReadConfig(), before);

    m_answer = QMessageBox::Yes;
    window.reject();  // what Escape does
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(window.isVisible());
}

}  // namespace
}  // namespace kavrel
