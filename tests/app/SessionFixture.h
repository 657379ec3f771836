#pragma once
// The main window over a config.txt whose current server is a test server on
// loopback, with every status-line text recorded in order and snapshots going
// to a temporary documents folder.

#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <string_view>
#include <vector>

#include "tests/app/MainWindowFixture.h"
#include "video/CVideoAtom.h"

namespace kavrel::test {

class SessionFixture : public MainWindowFixture {
  protected:
    // Builds the window with server 127.0.0.1:`port`, user and password
    // "admin", channel `channel` (0-based).
    COrvaneDlg& MakeSessionWindow(uint16_t port, int channel = 0);

    // The localised text of `key` in the window's language.
    QString Text(std::u16string_view key) const;
    // Waits (running the event loop) until `condition` holds; false at the deadline.
    static bool WaitFor(const std::function<bool()>& condition,
                        std::chrono::milliseconds deadline = std::chrono::seconds(30));
    // Waits until the status line has shown `text` at least `count` times.
    bool WaitForStatus(const QString& text, int count = 1,
                       std::chrono::milliseconds deadline = std::chrono::seconds(30));
    int StatusCount(const QString& text) const;
    // Every text shown from index `from` on, in order.
    std::vector<QString> StatusesFrom(size_t from) const;

    std::vector<QString> m_statuses;  // every text put into the status line
    QTemporaryDir m_documents;        // the snapshot folder
};

}  // namespace kavrel::test
