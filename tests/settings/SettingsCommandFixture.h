#pragma once
// A main window as the program builds it (tests/app/MainWindowFixture.h, which
// puts the history store in the test's temporary folder), for the settings
// command.

#include <QSignalSpy>
#include <QStringList>
#include <vector>

#include "app/COrvaneDlg.h"
#include "platform/TextCodec.h"
#include "settings/HistoryStore.h"
#include "skin/CSkinButton.h"
#include "tests/app/MainWindowFixture.h"

namespace kavrel::test {

class SettingsCommandFixture : public MainWindowFixture {
  protected:
    // A [server] section for config.txt.
    static QByteArray ServerSection(const std::string& address, int port, int channel) {
        return QByteArray::fromStdString("\n[server]\nserver_address=" + address +
                                         "\nserver_port=" + std::to_string(port) +
                                         "\nserver_username=admin\nserver_password=admin"
                                         "\nserver_channel=" +
                                         std::to_string(channel) + "\n");
    }

    // The localised text of `key` in the window's language.
    QString Text(std::u16string_view key) const { return m_window->LoadText(key); }

    static QStringList Texts(const QSignalSpy& spy) {
        QStringList texts;
        for (const QList<QVariant>& arguments : spy)
            texts << arguments.at(0).toString();
        return texts;
    }

    // The 1-based numbers of the channel buttons that show.
    static std::vector<int> VisibleChannels(const COrvaneDlg& window) {
        std::vector<int> channels;
        for (int index = 0; index < control::kChannelButtons; ++index) {
            if (window.ChannelButton(index)->isVisibleTo(&window))
                channels.push_back(index + 1);
        }
        return channels;
    }
};

}  // namespace kavrel::test
