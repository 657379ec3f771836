#include "tests/settings/SetDialogFixture.h"

#include "config/ConfigStore.h"
#include "platform/TextCodec.h"
#include "settings/HistoryStore.h"

namespace kavrel::test {

void SetDialogFixture::SetUp() {
    ASSERT_TRUE(m_folder.IsValid());
    std::string config;
    for (const char* section : {"[lan0]\n", "[lan1]\n", "[lan2]\n"}) {
        config += section;
        for (std::u16string_view key : kTextKeys) {
            const std::string text = ToUtf8(key);
            config += text + "=" + text + "\n";
        }
    }
    WriteFile(m_folder.File("config.txt"), config);
    SetConfigFilePath(FromUtf8(m_folder.File("config.txt")));
    SetSettingsStoreFile(FromUtf8(m_folder.File("orvane/settings.ini")));
    m_handler = std::make_unique<ScopedMessageBoxHandler>(
        [this](QWidget*, const QString& caption, const QString& text,
               QMessageBox::StandardButtons buttons, QMessageBox::Icon) {
            m_messages.push_back({caption, text, buttons});
            return QMessageBox::Ok;
        });
}

void SetDialogFixture::TearDown() {
    m_dialog.reset();
    m_handler.reset();
    SetSettingsStoreFile({});
    SetConfigFilePath({});
}

SettingsLabels SetDialogFixture::KeyLabels() {
    SettingsLabels labels;
    for (size_t k = 0; k < labels.texts.size(); ++k)
        labels.texts[k] = std::u16string(SettingsLabels::kKeys[k]);
    return labels;
}

CSetDialog& SetDialogFixture::Open(const ServerSettings& record) {
    m_dialog.reset();
    m_finishedWith = -1;
    m_dialog = std::make_unique<CSetDialog>(KeyLabels());
    QObject::connect(m_dialog.get(), &QDialog::finished,
                     [this](int result) { m_finishedWith = result; });
    m_dialog->SetCurrent(record);
    m_dialog->Initialise();
    m_dialog->show();
    return *m_dialog;
}

QComboBox* SetDialogFixture::Combo(int id) const {
    auto* box = m_dialog->findChild<QComboBox*>(QString::number(id));
    EXPECT_NE(box, nullptr) << "no combo box " << id;
    return box;
}

QLineEdit* SetDialogFixture::Password() const {
    // The editable combo boxes hold unnamed line edits; the password box is
    // the one named 241.
    auto* box = m_dialog->findChild<QLineEdit*>(QStringLiteral("241"));
    EXPECT_NE(box, nullptr);
    return box;
}

QPushButton* SetDialogFixture::Button(int id) const {
    auto* button = m_dialog->findChild<QPushButton*>(QString::number(id));
    EXPECT_NE(button, nullptr) << "no button " << id;
    return button;
}

void SetDialogFixture::Type(int id, const QString& text) const {
    if (id == 241) {
        Password()->setText(text);
    } else {
        Combo(id)->setEditText(text);
    }
}

QString SetDialogFixture::TextOf(int id) const {
    return id == 241 ? Password()->text() : Combo(id)->currentText();
}

void SetDialogFixture::ChooseHistory(int index) const {
    QComboBox* history = Combo(237);
    history->setCurrentIndex(index);
    emit history->activated(index);
}

void SetDialogFixture::Click(int id) const {
    Button(id)->click();
}

std::vector<std::string> SetDialogFixture::TakeMessages() {
    std::vector<std::string> texts;
    for (const SettingsMessage& message : m_messages) {
        EXPECT_EQ(message.caption, QStringLiteral("leave_alert"));
        EXPECT_EQ(message.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        texts.push_back(message.text.toStdString());
    }
    m_messages.clear();
    return texts;
}

std::u16string SetDialogFixture::Stored(std::u16string_view name) {
    std::u16string text;
    ReadRegistryString(name, text);
    return text;
}

void SetDialogFixture::Store(std::u16string_view name, std::u16string_view value) {
    ASSERT_TRUE(WriteRegistryString(name, value));
}

}  // namespace kavrel::test
