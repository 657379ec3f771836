#include "config/Localisation.h"

#include <optional>

#include "config/BuiltinConfig.h"
#include "config/ConfigStore.h"
#include "config/ProfileFile.h"
#include "platform/DecimalValue.h"
#include "platform/TextCodec.h"

namespace kavrel {
namespace {

std::u16string DecimalText(int value) {
    const std::string text = std::to_string(value);
    return std::u16string(text.begin(), text.end());
}

// A text of the config.txt built into the program; parsed once.
std::u16string BuiltinText(std::u16string_view section, std::u16string_view key) {
    static const ProfileFile builtin = [] {
        ProfileFile file({});
        file.Parse(BuiltinConfigText());
        return file;
    }();
    return FromUtf8(builtin.Get(ToUtf8(section), ToUtf8(key)));
}

}  // namespace

uint16_t LanguageIdFromLocale(const QLocale& locale) {
    if (locale.language() == QLocale::Chinese) {
        const QLocale::Territory territory = locale.territory();
        if (territory == QLocale::HongKong || territory == QLocale::Macao) {
            return kLangIdChineseHongKong;
        }
        if (territory == QLocale::Taiwan)
            return kLangIdChineseTaiwan;
        if (locale.script() == QLocale::SimplifiedHanScript &&
            (territory == QLocale::China || territory == QLocale::Singapore)) {
            return kLangIdChinesePrc;
        }
        return kLangIdNeutral;
    }
    return locale.language() == QLocale::English ? kLangIdEnglishUs : kLangIdNeutral;
}

int LanguageIndexFromId(uint16_t langId) {
    switch (langId) {
        case kLangIdChinesePrc:
            return 1;
        case kLangIdChineseHongKong:
        case kLangIdChineseTaiwan:
            return 2;
        default:
            return 0;
    }
}

int DetectLanguage() {
    return LanguageIndexFromId(LanguageIdFromLocale(QLocale::system()));
}

std::u16string LoadText(int languageIndex, std::u16string_view key) {
    const std::u16string section = u"lan" + DecimalText(languageIndex);
    if (std::optional<std::u16string> text = FindLoadedText(section, key))
        return *text;
    return BuiltinText(section, key);
}

SettingsLabels LoadSettingsLabels(int languageIndex) {
    SettingsLabels labels;
    for (size_t i = 0; i < SettingsLabels::kKeys.size(); ++i) {
        labels.texts[i] = LoadText(languageIndex, SettingsLabels::kKeys[i]);
    }
    return labels;
}

ServerSettings LoadCurrentServer() {
    ServerSettings settings;
    settings.address = ReadConfigValue(kServerSection, kServerAddressKey);
    settings.port = ReadConfigValue(kServerSection, kServerPortKey);
    settings.userName = ReadConfigValue(kServerSection, kServerUserNameKey);
    settings.password = ReadConfigValue(kServerSection, kServerPasswordKey);
    settings.channel = DecimalValue(ReadConfigValue(kServerSection, kServerChannelKey));
    return settings;
}

bool SaveCurrentServer(const ServerSettings& settings) {
    return WriteConfigValues(kServerSection, {
                                                 {kServerAddressKey, settings.address},
                                                 {kServerPortKey, settings.port},
                                                 {kServerUserNameKey, settings.userName},
                                                 {kServerPasswordKey, settings.password},
                                                 {kServerChannelKey, DecimalText(settings.channel)},
                                             });
}

QString FillNumber(const QString& text, int number) {
    QString out;
    out.reserve(text.size() + 4);
    const QString digits = QString::number(number);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('%') && i + 1 < text.size() && text[i + 1] == QLatin1Char('d')) {
            out += digits;
            ++i;
            continue;
        }
        out += text[i];
    }
    return out;
}

}  // namespace kavrel
