#include "skin/CSkinDialog.h"

#include "config/ConfigStore.h"
#include "config/Localisation.h"

namespace kavrel {

CSkinDialog::CSkinDialog(QWidget* parent) : QDialog(parent) {}

void CSkinDialog::DetectLanguage() {
    m_languageIndex = kavrel::DetectLanguage();
}

QString CSkinDialog::LoadText(std::u16string_view key) const {
    return QString::fromStdU16String(kavrel::LoadText(m_languageIndex, key));
}

std::u16string CSkinDialog::ReadConfigValue(std::u16string_view section,
                                            std::u16string_view key) const {
    return kavrel::ReadConfigValue(section, key);
}

void CSkinDialog::WriteConfigValue(std::u16string_view section, std::u16string_view key,
                                   std::u16string_view value) const {
    kavrel::WriteConfigValue(section, key, value);
}

}  // namespace kavrel
