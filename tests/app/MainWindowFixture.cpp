#include "tests/app/MainWindowFixture.h"

#include <QFile>

#include "app/NetworkBringUp.h"
#include "config/ConfigStore.h"
#include "protocol/CTCPClient_CE.h"
#include "settings/HistoryStore.h"
#include "tests/support/TestPaths.h"

namespace kavrel::test {

void MainWindowFixture::SetUp() {
    ASSERT_TRUE(m_dir.isValid());
    m_configPath = m_dir.filePath("config.txt");
    SetConfigFilePath(m_configPath.toStdU16String());
    // The window keeps its place and size there: never in the user's own store.
    SetSettingsStoreFile(m_dir.filePath("orvane/settings.ini").toStdU16String());
    SetNetworkBringUp([this] { return m_networkUp; });
    m_handler = std::make_unique<ScopedMessageBoxHandler>(
        [this](QWidget*, const QString& caption, const QString& text,
               QMessageBox::StandardButtons buttons, QMessageBox::Icon icon) {
            m_messages.push_back({caption, text, buttons, icon});
            return m_answer;
        });
}

void MainWindowFixture::TearDown() {
    m_window.reset();
    // No connection's finishing thread outlives the test that made it.
    EXPECT_TRUE(CTCPClient_CE::WaitForClosingSockets(std::chrono::seconds(10)));
    m_handler.reset();
    SetNetworkBringUp({});
    SetConfigFilePath({});
    SetSettingsStoreFile({});
}

void MainWindowFixture::WriteConfig(const QByteArray& extra) {
    QFile delivered(QString::fromStdString(SourceDir()) + "/res/config.txt");
    ASSERT_TRUE(delivered.open(QIODevice::ReadOnly)) << "no res/config.txt in the source tree";
    QFile file(m_configPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(delivered.readAll());
    file.write(extra);
}

QByteArray MainWindowFixture::ReadConfig() const {
    QFile file(m_configPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

COrvaneDlg& MainWindowFixture::MakeWindow() {
    m_window = std::make_unique<COrvaneDlg>(m_labels);
    m_window->Initialise();
    return *m_window;
}

}  // namespace kavrel::test
