// Language choice, localised texts, the settings labels and the current server.

#include "config/Localisation.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>

#include "config/ConfigStore.h"
#include "config/ProfileFile.h"
#include "platform/TextCodec.h"
#include "tests/config/FileTestSupport.h"

namespace kavrel {
namespace {

TEST(LanguageTest, LocaleMapsToLanguageIdAndIndex) {
    struct Case {
        const char* locale;
        uint16_t langId;
        int index;
    } cases[] = {
        {"zh_CN", 0x0804, 1},      {"zh_SG", 0x0804, 1}, {"zh_HK", 0x0C04, 2},
        {"zh_MO", 0x0C04, 2},      {"zh_TW", 0x0404, 2}, {"zh_Hant_TW", 0x0404, 2},
        {"zh_Hans_HK", 0x0C04, 2}, {"en_US", 0x0409, 0}, {"en_GB", 0x0409, 0},
        {"fr_FR", 0x0000, 0},      {"C", 0x0000, 0},
    };
    for (const Case& c : cases) {
        const QLocale locale(QString::fromLatin1(c.locale));
        EXPECT_EQ(LanguageIdFromLocale(locale), c.langId) << c.locale;
        EXPECT_EQ(LanguageIndexFromId(LanguageIdFromLocale(locale)), c.index) << c.locale;
    }
}

TEST(LanguageTest, OnlyTheThreeChineseIdsSelectALanguage) {
    EXPECT_EQ(LanguageIndexFromId(0x0804), 1);
    EXPECT_EQ(LanguageIndexFromId(0x0C04), 2);
    EXPECT_EQ(LanguageIndexFromId(0x0404), 2);
    for (uint16_t other : {0x0000, 0x0409, 0x1004, 0x1404, 0x0004, 0x7C04, 0xFFFF}) {
        EXPECT_EQ(LanguageIndexFromId(other), 0) << std::hex << other;
    }
    const int detected = DetectLanguage();
    EXPECT_TRUE(detected >= 0 && detected <= 2);
}

class ConfigFileTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_folder.IsValid());
        m_path = m_folder.File("config.txt");
        SetConfigFilePath(FromUtf8(m_path));
    }
    void TearDown() override { SetConfigFilePath({}); }

    test::TempFolder m_folder;
    std::string m_path;
};

// The delivered text of `key` in section `section`, as res/config.txt has it.
std::u16string Delivered(const char* section, std::u16string_view key) {
    ProfileFile delivered(KAVREL_RES_DIR "/config.txt");
    EXPECT_EQ(delivered.Load(), ProfileLoadResult::Loaded);
    return FromUtf8(delivered.Get(section, ToUtf8(key)));
}

TEST_F(ConfigFileTest, EveryKeyTheFileLacksShowsTheBuiltInTextOfItsLanguage) {
    // Written by an earlier version (no added keys, a design key missing), or
    // the file a failed first-start copy left: only the server.
    for (const char* content :
         {"[lan0]\nset_ok=OK\n[lan1]\ncapture_failed=\n", "[server]\nserver_address=cam\n"}) {
        test::WriteFile(m_path, content);
        LoadConfigTexts();
        ProfileFile file({});
        file.Parse(content);
        for (std::u16string_view key : kTextKeys) {
            for (int language : {0, 1, 2}) {
                const std::string section = "lan" + std::to_string(language);
                if (file.Find(section, ToUtf8(key)) != nullptr)
                    continue;  // the file's own
                EXPECT_EQ(LoadText(language, key), Delivered(section.c_str(), key))
                    << content << section << " " << ToUtf8(key);
                EXPECT_FALSE(LoadText(language, key).empty());
            }
        }
    }
    test::WriteFile(m_path, "[lan0]\nset_ok=OK\n[lan1]\ncapture_failed=\n");
    LoadConfigTexts();
    EXPECT_EQ(LoadText(0, u"set_ok"), u"OK");
    EXPECT_EQ(LoadText(1, u"capture_failed"), u"");  // present, if empty: the user's
    EXPECT_EQ(LoadText(0, u"reconnect_in"), u"Reconnecting in %d s (attempt %d)");
    EXPECT_EQ(LoadText(2, u"reconnect_in"), FromUtf8("%d 秒後重新連線（第 %d 次）"));
    EXPECT_EQ(LoadText(0, u"no_such_key"), u"");  // neither in the file nor built in
}

TEST_F(ConfigFileTest, TextsComeFromTheSectionOfTheLanguage) {
    test::WriteFile(m_path, "[lan0]\nset_ok=OK\nleave_alert=Kavrel\n[lan2]\nset_ok=\xE7\xA2\xBA\n");
    EXPECT_EQ(LoadText(0, u"set_ok"), u"OK");
    EXPECT_EQ(LoadText(2, u"set_ok"), u"\u78ba");
    EXPECT_EQ(LoadText(1, u"set_ok"), Delivered("lan1", u"set_ok"));            // no lan1 section
    EXPECT_EQ(LoadText(2, u"leave_alert"), Delivered("lan2", u"leave_alert"));  // not lan0's
    EXPECT_EQ(LoadText(0, u"SET_OK"), u"");  // keys are case-sensitive
}

TEST_F(ConfigFileTest, TextsAreReadOnceAndAgainOnlyAfterASave) {
    test::WriteFile(m_path, "[lan0]\nleave_text=Leave?\n");
    LoadConfigTexts();  // at start
    EXPECT_EQ(LoadText(0, u"leave_text"), u"Leave?");

    // Lookups (every count-down second, every tile paint) read no file: a
    // change behind the program's back, even a removed file, is not seen.
    test::WriteFile(m_path, "[lan0]\nleave_text=Changed\n");
    EXPECT_EQ(LoadText(0, u"leave_text"), u"Leave?");
    ASSERT_EQ(::unlink(m_path.c_str()), 0);
    EXPECT_EQ(LoadText(0, u"leave_text"), u"Leave?");

    // A save reloads the texts from what it wrote.
    test::WriteFile(m_path, "[lan0]\nleave_text=Changed\n");
    ASSERT_TRUE(WriteConfigValue(u"server", u"server_port", u"80"));
    EXPECT_EQ(LoadText(0, u"leave_text"), u"Changed");
    ASSERT_TRUE(WriteConfigValue(u"lan0", u"leave_text", u"Saved"));
    EXPECT_EQ(LoadText(0, u"leave_text"), u"Saved");
}

TEST_F(ConfigFileTest, SettingsLabelsAreLoadedInTheirOrder) {
    std::string content = "[lan1]\n";
    for (size_t i = 0; i < SettingsLabels::kKeys.size(); ++i) {
        content += ToUtf8(SettingsLabels::kKeys[i]) + "=label" + std::to_string(i) + "\n";
    }
    test::WriteFile(m_path, content);
    const SettingsLabels labels = LoadSettingsLabels(1);
    for (size_t i = 0; i < labels.texts.size(); ++i) {
        EXPECT_EQ(ToUtf8(labels.texts[i]), "label" + std::to_string(i));
    }
    EXPECT_EQ(labels.title(), u"label0");
    EXPECT_EQ(labels.channel(), u"label6");
    EXPECT_EQ(labels.remove(), u"label9");
    EXPECT_EQ(LoadSettingsLabels(0).ok(), Delivered("lan0", u"set_ok"));
}

TEST_F(ConfigFileTest, CurrentServerRoundTrip) {
    test::WriteFile(m_path, "");
    const ServerSettings cases[] = {
        {u"10.0.0.5", u"9000", u"viewer", u"", 3},
        {u"cam.example", u"80x", u"admin", u"p w=d", -1},
        {u"\u6444\u50cf\u673a", u"", u"", u"", 31},
    };
    for (const ServerSettings& s : cases) {
        EXPECT_TRUE(SaveCurrentServer(s));
        EXPECT_EQ(LoadCurrentServer(), s) << ToUtf8(s.address);
    }
    EXPECT_EQ(test::ReadFile(m_path),
              "[server]\nserver_address=\xE6\x91\x84\xE5\x83\x8F\xE6\x9C\xBA\nserver_port=\n"
              "server_username=\nserver_password=\nserver_channel=31\n");
}

TEST_F(ConfigFileTest, SavedServerKeepsPortTextAndNegativeChannel) {
    test::WriteFile(m_path, "");
    SaveCurrentServer({u"a", u"80x", u"u", u"pw", -1});
    EXPECT_EQ(test::ReadFile(m_path),
              "[server]\nserver_address=a\nserver_port=80x\nserver_username=u\n"
              "server_password=pw\nserver_channel=-1\n");
}

// Temporary files created in `folder` while `action` runs: each save writes
// one under a name of its own and renames it into place.
template <typename Action>
int SavesIn(const std::string& folder, Action action) {
    const int watcher = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    EXPECT_GE(watcher, 0);
    EXPECT_GE(::inotify_add_watch(watcher, folder.c_str(), IN_CREATE), 0);
    action();
    int saves = 0;
    alignas(inotify_event) char events[16 * 1024];
    for (ssize_t got; (got = ::read(watcher, events, sizeof events)) > 0;) {
        for (char* at = events; at < events + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            if (event->len > 0 && std::string(event->name).rfind(".config.txt.tmp-", 0) == 0)
                ++saves;
            at += sizeof(inotify_event) + event->len;
        }
    }
    ::close(watcher);
    return saves;
}

TEST_F(ConfigFileTest, ServerIsSavedInOneWriteWholeOrNotAtAll) {
    const std::string old =
        "[lan0]\nset_ok=OK\n[server]\nserver_address=old\nserver_port=1\n"
        "server_username=u\nserver_password=oldpw\nserver_channel=0\n";
    test::WriteFile(m_path, old);
    const ServerSettings next{u"new", u"2", u"v", u"newpw", 4};
    EXPECT_EQ(SavesIn(m_folder.Path(), [&] { EXPECT_TRUE(SaveCurrentServer(next)); }), 1);
    EXPECT_EQ(LoadCurrentServer(), next);

    // A record that cannot be stored (a line break in the password) changes
    // nothing: never the new address with the old password.
    test::WriteFile(m_path, old);
    EXPECT_FALSE(SaveCurrentServer({u"new", u"2", u"v", u"new\npw", 4}));
    EXPECT_EQ(test::ReadFile(m_path), old);

    // A file that cannot be written is reported, not dropped.
    SetConfigFilePath(FromUtf8(m_path + "/config.txt"));  // below a file: no folder
    EXPECT_FALSE(SaveCurrentServer(next));
    EXPECT_FALSE(WriteConfigValue(u"server", u"server_port", u"3"));
}

TEST_F(ConfigFileTest, ServerSectionIsAppendedAfterTheTexts) {
    test::WriteFile(m_path, "[lan0]\nset_ok=OK\n");
    SaveCurrentServer({u"h", u"1", u"", u"", 0});
    EXPECT_EQ(test::ReadFile(m_path),
              "[lan0]\nset_ok=OK\n[server]\nserver_address=h\nserver_port=1\n"
              "server_username=\nserver_password=\nserver_channel=0\n");
}

TEST_F(ConfigFileTest, AbsentOrOddServerValuesGiveEmptyTextsAndChannelZero) {
    EXPECT_EQ(LoadCurrentServer(), ServerSettings{});
    struct Case {
        const char* text;
        int channel;
    } cases[] = {{"", 0}, {"abc", 0}, {"3", 3}, {" 3", 3}, {"3x", 3}, {"-1", -1}};
    for (const Case& c : cases) {
        test::WriteFile(m_path, std::string("[server]\nserver_channel=") + c.text + "\n");
        EXPECT_EQ(LoadCurrentServer().channel, c.channel) << c.text;
    }
}

// The config.txt delivered with the program.
class DeliveredConfigTest : public testing::Test {
  protected:
    void SetUp() override {
        m_file = std::make_unique<ProfileFile>(KAVREL_RES_DIR "/config.txt");
        ASSERT_EQ(m_file->Load(), ProfileLoadResult::Loaded);
    }
    std::unique_ptr<ProfileFile> m_file;
};

TEST_F(DeliveredConfigTest, EveryLanguageHoldsEveryKeyWithAText) {
    for (const char* section : {"lan0", "lan1", "lan2"}) {
        for (std::u16string_view key : kTextKeys) {
            EXPECT_FALSE(m_file->Get(section, ToUtf8(key)).empty())
                << section << " " << ToUtf8(key);
        }
    }
    for (std::u16string_view key : SettingsLabels::kKeys) {
        EXPECT_NE(std::find(kTextKeys.begin(), kTextKeys.end(), key), kTextKeys.end());
    }
    for (std::u16string_view key : kStatusTextKeys) {
        EXPECT_NE(std::find(kTextKeys.begin(), kTextKeys.end(), key), kTextKeys.end());
    }
}

TEST_F(DeliveredConfigTest, HoldsOnlyKnownTextsAndNoServer) {
    for (const ProfileEntry& entry : m_file->Entries()) {
        EXPECT_NE(entry.section, "server");
        EXPECT_TRUE(entry.section == "lan0" || entry.section == "lan1" || entry.section == "lan2")
            << entry.section;
        if (entry.key == ProfileFile::kPlainKey) {
            EXPECT_EQ(entry.value, "") << "stray line in " << entry.section;
            continue;
        }
        const std::u16string key = FromUtf8(entry.key);
        EXPECT_NE(std::find(kTextKeys.begin(), kTextKeys.end(), key), kTextKeys.end())
            << "unknown key " << entry.key;
        EXPECT_EQ(ToUtf8(FromUtf8(entry.value)), entry.value) << "not UTF-8: " << entry.key;
        EXPECT_NE(entry.value.back(), ' ') << "trailing blank: " << entry.key;
    }
    const std::string raw = test::ReadFile(m_file->Path());
    EXPECT_NE(raw.substr(0, 3), "\xEF\xBB\xBF") << "no byte-order mark";
}

}  // namespace
}  // namespace kavrel
