#pragma once
// A settings dialog over a config.txt and a history store of the test's own
// (in a temporary folder), with every message box answered by the test.
//
// Every text of the test config.txt is its own key in all three languages
// ("set_record_exist=set_record_exist"), and the labels handed in are the
// label keys, so tests see which text went where whatever the system
// language is.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "config/Localisation.h"
#include "config/ServerSettings.h"
#include "settings/ui/CSetDialog.h"
#include "skin/MessageBox.h"
#include "tests/config/FileTestSupport.h"

namespace kavrel::test {

struct SettingsMessage {
    QString caption;
    QString text;
    QMessageBox::StandardButtons buttons;
};

class SetDialogFixture : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The labels handed to every dialog: each text is its key.
    static SettingsLabels KeyLabels();

    // Builds, initialises and shows a dialog with `record` handed in; the
    // previous one is destroyed first (as the main window does).
    CSetDialog& Open(const ServerSettings& record = {});

    // Controls of the open dialog by id.
    QComboBox* Combo(int id) const;
    QLineEdit* Password() const;
    QPushButton* Button(int id) const;

    // Types into a box (editable combo or the password box) as a user would
    // leave it: the whole text replaced.
    void Type(int id, const QString& text) const;
    QString TextOf(int id) const;
    // Picks history item `index` as a user does (the list's choice signal).
    void ChooseHistory(int index) const;
    void Click(int id) const;

    // Message texts shown since the last call, then forgotten.
    std::vector<std::string> TakeMessages();

    // The store's values.
    static std::u16string Stored(std::u16string_view name);
    static void Store(std::u16string_view name, std::u16string_view value);

    // How the open dialog ended: -1 while it runs, else the QDialog result.
    int m_finishedWith = -1;

    TempFolder m_folder;
    std::unique_ptr<CSetDialog> m_dialog;
    std::vector<SettingsMessage> m_messages;

  private:
    std::unique_ptr<ScopedMessageBoxHandler> m_handler;
};

}  // namespace kavrel::test
