// The history and recent-value store on a private INI file.

#include "settings/HistoryStore.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <string>

#include "platform/TextCodec.h"
#include "tests/config/FileTestSupport.h"
#include "tests/support/DebugCapture.h"

namespace kavrel {
namespace {

class HistoryStoreTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_folder.IsValid());
        m_path = m_folder.File("orvane/settings.ini");
        SetSettingsStoreFile(FromUtf8(m_path));
    }
    void TearDown() override { SetSettingsStoreFile({}); }

    std::u16string Read(std::u16string_view name) {
        std::u16string text = u"stale";
        ReadRegistryString(name, text);
        return text;
    }
    static std::u16string Slot(int i) { return FromUtf8("history" + std::to_string(i)); }
    static std::u16string Entry(int i) {
        const std::u16string n = FromUtf8(std::to_string(i));
        return FormatHistoryEntry(u"10.0.0." + n, u"9000", u"user" + n, u"pw" + n, u"1");
    }

    test::TempFolder m_folder;
    std::string m_path;
};

TEST_F(HistoryStoreTest, DefaultFileIsTheUserScopeIni) {
    SetSettingsStoreFile({});
    EXPECT_TRUE(ToUtf8(SettingsStoreFile()).ends_with("/orvane/settings.ini"))
        << ToUtf8(SettingsStoreFile());
    SetSettingsStoreFile(FromUtf8(m_path));
    EXPECT_EQ(ToUtf8(SettingsStoreFile()), m_path);
}

TEST_F(HistoryStoreTest, FirstReadCreatesAPrivateEmptyStore) {
    std::u16string text = u"stale";
    EXPECT_FALSE(ReadRegistryString(u"server", text));
    EXPECT_EQ(text, u"");
    EXPECT_TRUE(test::FileExists(m_path));
    EXPECT_EQ(test::FileMode(m_path), 0600u);
}

TEST_F(HistoryStoreTest, ValuesOfAnyContentAndLengthReadBackWhole) {
    const std::u16string long300(300, u'x');
    const std::u16string values[] = {
        long300,        u"10.0.0.5!.!9000!.!viewer!.!!.!4!.!",  u"a@.@b, c@.@",
        u"@leading at", u"\u6444\u50cf\u673a \"quoted\" ;#=[]", u"",
    };
    for (const std::u16string& value : values) {
        EXPECT_TRUE(WriteRegistryString(u"server", value));
        std::u16string back;
        EXPECT_TRUE(ReadRegistryString(u"server", back));
        EXPECT_EQ(back, value) << ToUtf8(value);
    }
    EXPECT_EQ(test::FileMode(m_path), 0600u);
}

TEST_F(HistoryStoreTest, StoreFileIsKeptPrivate) {
    ASSERT_TRUE(WriteRegistryString(u"port", u"80@.@"));
    EXPECT_EQ(test::FileMode(m_folder.File("orvane")), 0700u);  // made by the store
    ASSERT_EQ(::chmod(m_path.c_str(), 0644), 0);
    ASSERT_TRUE(WriteRegistryString(u"port", u"80@.@81@.@"));
    EXPECT_EQ(test::FileMode(m_path), 0600u);
    EXPECT_EQ(Read(u"port"), u"80@.@81@.@");
}

TEST_F(HistoryStoreTest, WriteThatCannotBeStoredReportsFailure) {
    const std::string blocker = m_folder.File("plain-file");
    test::WriteFile(blocker, "x");
    SetSettingsStoreFile(FromUtf8(blocker + "/settings.ini"));  // a folder that cannot exist
    EXPECT_FALSE(WriteRegistryString(u"server", u"a@.@"));
    EXPECT_EQ(Read(u"server"), u"");
}

TEST_F(HistoryStoreTest, HistoryIsPackedFromSlotZeroOnSave) {
    ASSERT_TRUE(WriteRegistryString(Slot(3), Entry(3)));
    ServerHistory history;
    const std::vector<std::u16string> drop = LoadHistory(history);
    EXPECT_EQ(history, ServerHistory{Entry(3)});
    EXPECT_EQ(drop, std::vector<std::u16string>{u"10.0.0.3:9000"});

    // Saved as one batch: still private, and the other values are kept.
    ASSERT_TRUE(WriteRegistryString(u"port", u"80@.@"));
    ASSERT_EQ(::chmod(m_path.c_str(), 0644), 0);
    EXPECT_TRUE(SaveHistory(history));
    EXPECT_EQ(test::FileMode(m_path), 0600u);
    EXPECT_EQ(Read(u"port"), u"80@.@");
    EXPECT_EQ(Read(Slot(0)), Entry(3));
    EXPECT_EQ(Read(Slot(3)), u"");
    ServerHistory again;
    LoadHistory(again);
    EXPECT_EQ(again, ServerHistory{Entry(3)});
}

TEST_F(HistoryStoreTest, SavingTheWholeHistoryReplacesTheFileOnce) {
    ASSERT_TRUE(WriteRegistryString(u"port", u"80@.@"));
    ServerHistory history;
    for (int i = 0; i < 100; ++i)
        history.push_back(Entry(i));
    // Every sync writes a new file under a temporary name of its own and
    // renames it into place: count those files (their unique names keep the
    // kernel from merging the events, as it merges repeated renames).
    const int watcher = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watcher, 0);
    ASSERT_GE(::inotify_add_watch(watcher, m_folder.File("orvane").c_str(), IN_CREATE), 0);
    EXPECT_TRUE(SaveHistory(history));
    int rewrites = 0;
    alignas(inotify_event) char events[64 * 1024];
    for (ssize_t got; (got = ::read(watcher, events, sizeof events)) > 0;) {
        for (char* at = events; at < events + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            const std::string name = event->len > 0 ? event->name : "";
            if (name.rfind("settings.ini.", 0) == 0 && name != "settings.ini.lock")
                ++rewrites;
            at += sizeof(inotify_event) + event->len;
        }
    }
    ::close(watcher);
    EXPECT_EQ(rewrites, 1);
}

TEST_F(HistoryStoreTest, OnlyTheFirstHundredEntriesAreStored) {
    ServerHistory history;
    for (int i = 0; i < 101; ++i)
        history.push_back(Entry(i));
    SaveHistory(history);
    ServerHistory loaded;
    const std::vector<std::u16string> drop = LoadHistory(loaded);
    EXPECT_EQ(loaded, ServerHistory(history.begin(), history.begin() + 100));
    ASSERT_EQ(drop.size(), 100u);
    EXPECT_EQ(drop[99], u"10.0.0.99:9000");
    std::u16string slot100;
    EXPECT_FALSE(ReadRegistryString(u"history100", slot100));
}

TEST_F(HistoryStoreTest, LoadSkipsGapsAndEntriesThatCannotBeShown) {
    ASSERT_TRUE(WriteRegistryString(Slot(0), u"10.0.0.5!.!9000!.!"));
    ASSERT_TRUE(WriteRegistryString(Slot(1), u"no terminator at all"));
    ASSERT_TRUE(WriteRegistryString(Slot(7), Entry(7)));
    ASSERT_TRUE(WriteRegistryString(Slot(99), FormatHistoryEntry(u"last", u"1", u"", u"", u"")));
    ServerHistory history;
    const std::vector<std::u16string> drop = LoadHistory(history);
    EXPECT_EQ(history, (ServerHistory{u"10.0.0.5!.!9000!.!", Entry(7),
                                      FormatHistoryEntry(u"last", u"1", u"", u"", u"")}));
    EXPECT_EQ(drop, (std::vector<std::u16string>{u"10.0.0.5:9000", u"10.0.0.7:9000", u"last:1"}));
}

TEST_F(HistoryStoreTest, SaveWritesOneMaskedDebugLinePerEntry) {
    test::DebugCapture capture;
    SaveHistory({FormatHistoryEntry(u"10.0.0.5", u"9000", u"viewer", u"s3cret", u"4"),
                 FormatHistoryEntry(u"cam", u"80", u"", u"", u"")});
    EXPECT_EQ(capture.Lines(),
              (std::vector<std::string>{"10.0.0.5!.!9000!.!viewer!.!***!.!4!.!\r\n",
                                        "cam!.!80!.!!.!***!.!!.!\r\n"}));
    EXPECT_FALSE(capture.AnyContains("s3cret"));
    EXPECT_EQ(Read(Slot(0)), FormatHistoryEntry(u"10.0.0.5", u"9000", u"viewer", u"s3cret", u"4"));
}

TEST_F(HistoryStoreTest, UrlEntriesComeBackWholeAndPrivate) {
    const ServerHistory history = {
        FormatHistoryEntry(u"rtsp://u%3A:p@ss;#=,\"@[fe80::1]:554/a/b?x=1&y=2,3#udp", u"", u"", u"",
                           u""),
        FormatHistoryEntry(u"rtsps://cam/live", u"", u"viewer", u"s3cret", u""),
    };
    test::DebugCapture capture;
    ASSERT_TRUE(SaveHistory(history));
    EXPECT_FALSE(capture.AnyContains("p@ss") || capture.AnyContains("s3cret"));
    EXPECT_EQ(test::FileMode(m_path), 0600u);
    ServerHistory back;
    const std::vector<std::u16string> drop = LoadHistory(back);
    EXPECT_EQ(back, history);
    EXPECT_EQ(drop, (std::vector<std::u16string>{u"rtsp://u%3A@[fe80::1]:554/a/b?x=1&y=2,3#udp",
                                                 u"rtsps://cam/live"}));
}

TEST_F(HistoryStoreTest, RecentValuesFollowTheSubstringRule) {
    AddRecentValue(kRecentAddressesName, u"10.0.0.12");
    AddRecentValue(kRecentAddressesName, u"10.0.0.1");  // part of 10.0.0.12: not added
    AddRecentValue(kRecentAddressesName, u"10.0.0.7");
    AddRecentValue(kRecentAddressesName, u"10.0.0.12");  // already there
    AddRecentValue(kRecentAddressesName, u"");
    EXPECT_EQ(Read(kRecentAddressesName), u"10.0.0.12@.@10.0.0.7@.@");
    EXPECT_EQ(SplitRecentValues(Read(kRecentAddressesName)),
              (std::vector<std::u16string>{u"10.0.0.12", u"10.0.0.7"}));

    AddRecentValue(kRecentUserNamesName, u"");  // never added, but the list is written
    std::u16string users = u"stale";
    EXPECT_TRUE(ReadRegistryString(kRecentUserNamesName, users));
    EXPECT_EQ(users, u"");
}

TEST_F(HistoryStoreTest, RecentListLongerThanTwoHundredCharactersKeepsGrowing) {
    std::vector<std::u16string> added;
    for (int i = 10; i < 50; ++i) {
        added.push_back(FromUtf8("camera-" + std::to_string(i)));
        AddRecentValue(kRecentAddressesName, added.back());
    }
    const std::u16string list = Read(kRecentAddressesName);
    EXPECT_EQ(list.size(), 40u * 12u);
    EXPECT_EQ(SplitRecentValues(list), added);
}

}  // namespace
}  // namespace kavrel
