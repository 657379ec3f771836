#include "tests/app/SessionFixture.h"

#include <QTest>
#include <algorithm>

namespace kavrel::test {

COrvaneDlg& SessionFixture::MakeSessionWindow(uint16_t port, int channel) {
    const QByteArray server = QStringLiteral(
                                  "\n[server]\nserver_address=127.0.0.1\nserver_port=%1\n"
                                  "server_username=admin\nserver_password=admin\n"
                                  "server_channel=%2\n")
                                  .arg(port)
                                  .arg(channel)
                                  .toUtf8();
    WriteConfig(server);
    COrvaneDlg& window = MakeWindow();
    QObject::connect(&window, &COrvaneDlg::statusShown,
                     [this](const QString& text) { m_statuses.push_back(text); });
    window.VideoWindow()->Pipeline().Snapshots().SetFolder(m_documents.path().toStdString());
    window.SetConnectTimeout(std::chrono::seconds(10));
    return window;
}

QString SessionFixture::Text(std::u16string_view key) const {
    return m_window->LoadText(key);
}

bool SessionFixture::WaitFor(const std::function<bool()>& condition,
                             std::chrono::milliseconds deadline) {
    return QTest::qWaitFor(condition, int(deadline.count()));
}

int SessionFixture::StatusCount(const QString& text) const {
    return int(std::count(m_statuses.begin(), m_statuses.end(), text));
}

bool SessionFixture::WaitForStatus(const QString& text, int count,
                                   std::chrono::milliseconds deadline) {
    return WaitFor([&] { return StatusCount(text) >= count; }, deadline);
}

std::vector<QString> SessionFixture::StatusesFrom(size_t from) const {
    if (from >= m_statuses.size())
        return {};
    return {m_statuses.begin() + ptrdiff_t(from), m_statuses.end()};
}

}  // namespace kavrel::test
