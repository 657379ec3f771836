#pragma once
// A main window built as the program builds it, over a config.txt and a
// settings store of the test's own (in a temporary folder), with the network
// taken as up and every message box answered by the test.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QMessageBox>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "app/COrvaneDlg.h"
#include "config/Localisation.h"
#include "skin/MessageBox.h"

namespace kavrel::test {

struct ShownMessage {
    QString caption;
    QString text;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon;
};

class MainWindowFixture : public testing::Test {
  protected:
    // The delivered texts (res/config.txt) followed by `extra`.
    void WriteConfig(const QByteArray& extra = {});
    QByteArray ReadConfig() const;
    // Builds and initialises the main window over the current config.txt.
    COrvaneDlg& MakeWindow();

    void SetUp() override;
    void TearDown() override;

    QTemporaryDir m_dir;
    QString m_configPath;
    SettingsLabels m_labels;
    std::unique_ptr<COrvaneDlg> m_window;
    std::vector<ShownMessage> m_messages;
    QMessageBox::StandardButton m_answer = QMessageBox::No;  // what every box answers
    bool m_networkUp = true;

  private:
    std::unique_ptr<ScopedMessageBoxHandler> m_handler;
};

}  // namespace kavrel::test
