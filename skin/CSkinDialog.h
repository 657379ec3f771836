#pragma once
// Base of the program's dialogs (the main window and the settings dialog):
// keeps the text language and gives access to "config.txt" and its localised
// texts. On the handheld it also kept the task bar hidden whenever a dialog
// came to the front; a desktop window has no task bar to hide.
// User-interface thread only.

#include <QDialog>
#include <QString>
#include <string>
#include <string_view>

namespace kavrel {

class CSkinDialog : public QDialog {
    Q_OBJECT

  public:
    explicit CSkinDialog(QWidget* parent = nullptr);

    // 0, 1 or 2: the "lan" section the texts come from. 0 until
    // DetectLanguage runs (owners call it in their initialisation).
    int languageIndex() const { return m_languageIndex; }

    // Sets languageIndex from the system language.
    void DetectLanguage();

    // The localised text of `key` in this dialog's language; empty when absent.
    QString LoadText(std::u16string_view key) const;

    // One value of "config.txt" (read and parsed afresh on every call).
    std::u16string ReadConfigValue(std::u16string_view section, std::u16string_view key) const;
    void WriteConfigValue(std::u16string_view section, std::u16string_view key,
                          std::u16string_view value) const;

  protected:
    int m_languageIndex = 0;
};

}  // namespace kavrel
