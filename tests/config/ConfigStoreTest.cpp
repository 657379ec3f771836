// ReadConfigValue / WriteConfigValue on real files: creation, rewrites, the
// atomic save and what happens when the file cannot be read or written.

#include "config/ConfigStore.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "config/BuiltinConfig.h"
#include "config/ProfileFile.h"
#include "platform/TextCodec.h"
#include "tests/config/FileTestSupport.h"

namespace kavrel {
namespace {

class ConfigStoreTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_folder.IsValid());
        m_path = m_folder.File("config.txt");
        SetConfigFilePath(FromUtf8(m_path));
    }
    void TearDown() override {
        SetConfigFilePath({});
        SetProgramDirectory({});
    }

    std::u16string Read(std::u16string_view section, std::u16string_view key) {
        return ReadConfigValue(section, key);
    }
    std::vector<std::string> FolderNames() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_folder.Path())) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    test::TempFolder m_folder;
    std::string m_path;
    // No installed default of the machine's own takes part.
    test::ScopedEnvironmentVariable m_dataHome{"XDG_DATA_HOME", m_folder.File("none").c_str()};
    test::ScopedEnvironmentVariable m_dataDirs{"XDG_DATA_DIRS", m_folder.File("none").c_str()};
};

TEST_F(ConfigStoreTest, DefaultPathFollowsTheProgramsFolder) {
    test::ScopedEnvironmentVariable configHome("XDG_CONFIG_HOME", m_folder.File("home").c_str());
    const std::string bin = m_folder.File("bin");
    std::filesystem::create_directory(bin);
    SetConfigFilePath({});
    SetProgramDirectory(FromUtf8(bin));
    EXPECT_EQ(ToUtf8(ConfigFilePath()), m_folder.File("home/orvane/config.txt"));
    test::WriteFile(bin + "/config.txt", "");  // another program's, in a shared bin/
    EXPECT_EQ(ToUtf8(ConfigFilePath()), m_folder.File("home/orvane/config.txt"));
    test::WriteFile(bin + "/kavrel-build-tree", "");
    EXPECT_EQ(ToUtf8(ConfigFilePath()), bin + "/config.txt");
    SetConfigFilePath(u"/elsewhere/config.txt");
    EXPECT_EQ(ConfigFilePath(), u"/elsewhere/config.txt");
}

TEST_F(ConfigStoreTest, FileThatHoldsAPasswordIsWrittenForItsOwnerOnly) {
    test::WriteFile(m_path, "[lan0]\nset_ok=OK\n");
    ASSERT_EQ(::chmod(m_path.c_str(), 0644), 0);
    WriteConfigValue(u"lan0", u"set_ok", u"Yes");
    WriteConfigValue(u"server", u"server_password", u"");
    EXPECT_EQ(test::FileMode(m_path), 0644u);
    WriteConfigValue(u"server", u"server_password", u"secret");
    EXPECT_EQ(test::FileMode(m_path), 0600u);

    // A first save into folders that are not there yet: the user's copy of an
    // installed program whose default was not found.
    const std::string fresh = m_folder.File("new/orvane/config.txt");
    SetConfigFilePath(FromUtf8(fresh));
    EXPECT_TRUE(WriteConfigValue(u"server", u"server_password", u"secret"));
    const std::string written = test::ReadFile(fresh);
    EXPECT_EQ(written.substr(written.size() - 32), "[server]\nserver_password=secret\n");
    EXPECT_EQ(test::FileMode(fresh), 0600u);
    EXPECT_EQ(test::FileMode(m_folder.File("new")), 0700u);
    EXPECT_EQ(test::FileMode(m_folder.File("new/orvane")), 0700u);
}

TEST_F(ConfigStoreTest, FirstWriteIntoAMissingFileStartsFromTheDeliveredTexts) {
    const std::string bin = m_folder.File("prefix/bin");
    std::filesystem::create_directories(bin);
    SetProgramDirectory(FromUtf8(bin));
    EXPECT_EQ(Read(u"server", u"server_address"), u"");
    EXPECT_FALSE(test::FileExists(m_path));

    // No installed default: the copy built into the program.
    EXPECT_TRUE(WriteConfigValue(u"server", u"server_address", u"10.0.0.5"));
    ProfileFile builtIn({});
    builtIn.Parse(BuiltinConfigText());
    ASSERT_FALSE(builtIn.Entries().empty());
    EXPECT_EQ(test::ReadFile(m_path), builtIn.Serialize() + "[server]\nserver_address=10.0.0.5\n");
    EXPECT_TRUE(WriteConfigValue(u"server", u"server_port", u"9000"));
    EXPECT_EQ(Read(u"server", u"server_port"), u"9000");
    EXPECT_EQ(Read(u"server", u"server_address"), u"10.0.0.5");

    // The installed default, found from the program's folder, comes first.
    const std::string share = m_folder.File("prefix/share/kavrel");
    std::filesystem::create_directories(share);
    test::WriteFile(share + "/config.txt", "[lan0]\nset_ok=Installed\n");
    ASSERT_EQ(::unlink(m_path.c_str()), 0);
    EXPECT_TRUE(WriteConfigValue(u"server", u"server_address", u"h"));
    EXPECT_EQ(test::ReadFile(m_path), "[lan0]\nset_ok=Installed\n[server]\nserver_address=h\n");
    EXPECT_EQ(test::ReadFile(share + "/config.txt"), "[lan0]\nset_ok=Installed\n");
}

TEST_F(ConfigStoreTest, TextIsUtf8InTheFile) {
    test::WriteFile(m_path, "");
    WriteConfigValue(u"lan1", u"set_ok", u"\u786e\u5b9a");
    EXPECT_EQ(test::ReadFile(m_path), "[lan1]\nset_ok=\xE7\xA1\xAE\xE5\xAE\x9A\n");
    EXPECT_EQ(Read(u"lan1", u"set_ok"), u"\u786e\u5b9a");
}

TEST_F(ConfigStoreTest, UrlAsTheServerAddressReadsBackUnchangedAndItsPasswordPrivate) {
    test::WriteFile(m_path, "[lan0]\nset_ok=OK\n");
    ASSERT_EQ(::chmod(m_path.c_str(), 0644), 0);
    EXPECT_TRUE(WriteConfigValue(u"server", u"server_address", u"rtsp://u@cam/live"));
    EXPECT_EQ(test::FileMode(m_path), 0644u);
    test::WriteFile(m_path, "[lan0]\nset_ok=OK\n");
    const std::u16string url = u"rtsp://u:p=;#@[fe80::1]:554/a/b?x=1;y=2#udp";
    EXPECT_TRUE(WriteConfigValues(u"server", {{u"server_address", url}, {u"server_port", u""}}));
    EXPECT_EQ(Read(u"server", u"server_address"), url);
    EXPECT_EQ(test::FileMode(m_path), 0600u);
    EXPECT_EQ(test::ReadFile(m_path),
              "[lan0]\nset_ok=OK\n[server]\nserver_address=" + ToUtf8(url) + "\nserver_port=\n");
}

TEST_F(ConfigStoreTest, MixedFileReadsAndRewritesAsTheRulesSay) {
    const std::string longValue(598, 'x');  // a 600-byte key line
    test::WriteFile(m_path,
                    "k=v\r\nplain text\r\n[s]\r\n  title=Hello\r\nname = Main gate \n"
                    "d=1\nd=2\nlong=" +
                        longValue + "\n[t]\nb=2\n");
    EXPECT_EQ(Read(u"###", u"k"), u"");
    EXPECT_EQ(Read(u"s", u"title"), u"");
    EXPECT_EQ(Read(u"s", u"  title"), u"Hello");
    EXPECT_EQ(Read(u"s", u"name"), u"Main gate ");
    EXPECT_EQ(Read(u"s", u"d"), u"1");
    EXPECT_EQ(ToUtf8(Read(u"s", u"long")), longValue);
    WriteConfigValue(u"s", u"d", u"9");
    WriteConfigValue(u"s", u"new", u"n");
    EXPECT_EQ(test::ReadFile(m_path),
              "k=v\nplain text\n[s]\n  title=Hello\nname=Main gate \n"
              "d=1\nd=9\nlong=" +
                  longValue + "\nnew=n\n[t]\nb=2\n");
}

TEST_F(ConfigStoreTest, ByteOrderMarkHidesTheFirstSectionButLosesNothing) {
    const std::string content = "\xEF\xBB\xBF[lan0]\nset_ok=OK\n[lan1]\nset_ok=X\n";
    test::WriteFile(m_path, content);
    EXPECT_EQ(Read(u"lan0", u"set_ok"), u"");
    EXPECT_EQ(Read(u"lan1", u"set_ok"), u"X");
    WriteConfigValue(u"lan1", u"set_add", u"Y");
    EXPECT_EQ(test::ReadFile(m_path), content + "set_add=Y\n");
}

TEST_F(ConfigStoreTest, RewriteReplacesTheFileAndKeepsItsMode) {
    test::WriteFile(m_path, "[s]\nk=1\n");
    ASSERT_EQ(::chmod(m_path.c_str(), 0640), 0);
    struct stat before;
    ASSERT_EQ(::stat(m_path.c_str(), &before), 0);
    WriteConfigValue(u"s", u"k", u"2");
    struct stat after;
    ASSERT_EQ(::stat(m_path.c_str(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino) << "written in place instead of renamed over";
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(test::ReadFile(m_path), "[s]\nk=2\n");
    EXPECT_EQ(FolderNames(), std::vector<std::string>{"config.txt"});
}

TEST_F(ConfigStoreTest, WriteThroughASymbolicLinkKeepsTheLink) {
    const std::string real = m_folder.File("real.txt");
    test::WriteFile(real, "[s]\nk=1\n");
    ASSERT_EQ(::symlink(real.c_str(), m_path.c_str()), 0);
    WriteConfigValue(u"s", u"k", u"2");
    EXPECT_TRUE(std::filesystem::is_symlink(m_path));
    EXPECT_EQ(test::ReadFile(real), "[s]\nk=2\n");
}

TEST_F(ConfigStoreTest, ReadOnlyFileIsStillReadAndNotRewritten) {
    const std::string content = "[lan0]\nset_ok=OK\n";
    test::WriteFile(m_path, content);
    ASSERT_EQ(::chmod(m_path.c_str(), 0444), 0);
    test::ScopedUnprivileged unprivileged;
    ASSERT_TRUE(unprivileged.Active());
    EXPECT_EQ(Read(u"lan0", u"set_ok"), u"OK");
    WriteConfigValue(u"lan0", u"set_ok", u"changed");
    EXPECT_EQ(test::ReadFile(m_path), content);
}

TEST_F(ConfigStoreTest, UnreadableFileIsNeverReplacedByOneLine) {
    const std::string content = "[lan0]\nset_ok=OK\n";
    test::WriteFile(m_path, content);
    ASSERT_EQ(::chmod(m_path.c_str(), 0200), 0);  // writable, not readable
    ASSERT_EQ(::chmod(m_folder.Path().c_str(), 0777), 0);
    {
        test::ScopedUnprivileged unprivileged;
        ASSERT_TRUE(unprivileged.Active());
        EXPECT_EQ(Read(u"lan0", u"set_ok"), u"");
        WriteConfigValue(u"server", u"server_address", u"x");
    }
    EXPECT_EQ(test::ReadFile(m_path), content);
}

TEST_F(ConfigStoreTest, OversizedFileIsTreatedAsUnreadable) {
    test::WriteFile(m_path, "[s]\nk=1\n");
    std::filesystem::resize_file(m_path, ProfileFile::kMaxFileBytes + 1);
    EXPECT_EQ(Read(u"s", u"k"), u"");
    WriteConfigValue(u"s", u"k", u"2");
    EXPECT_EQ(std::filesystem::file_size(m_path), ProfileFile::kMaxFileBytes + 1);
}

TEST_F(ConfigStoreTest, SaveIntoAFolderThatCannotBeWrittenLeavesTheOldFile) {
    const std::string content = "[s]\nk=1\n";
    test::WriteFile(m_path, content);
    ASSERT_EQ(::chmod(m_path.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(m_folder.Path().c_str(), 0555), 0);
    {
        test::ScopedUnprivileged unprivileged;
        ASSERT_TRUE(unprivileged.Active());
        WriteConfigValue(u"s", u"k", u"2");
    }
    ASSERT_EQ(::chmod(m_folder.Path().c_str(), 0755), 0);
    EXPECT_EQ(test::ReadFile(m_path), content);
    EXPECT_EQ(FolderNames(), std::vector<std::string>{"config.txt"});
}

TEST_F(ConfigStoreTest, SaveThatFailsHalfWayLeavesTheOldFileAndNoTemporary) {
    const std::string content = "[s]\nk=1\n";
    test::WriteFile(m_path, content);
    // A file-size limit below the new content makes the write fail part-way,
    // whatever the user's privileges.
    struct rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 16;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    WriteConfigValue(u"s", u"k", u"a value well beyond sixteen bytes");
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(test::ReadFile(m_path), content);
    EXPECT_EQ(FolderNames(), std::vector<std::string>{"config.txt"});
}

TEST_F(ConfigStoreTest, ValueWithALineBreakIsNotWritten) {
    const std::string content = "[server]\nserver_password=old\n";
    test::WriteFile(m_path, content);
    WriteConfigValue(u"server", u"server_password", u"x\n[lan0]\nset_ok=pwned");
    EXPECT_EQ(test::ReadFile(m_path), content);
}

}  // namespace
}  // namespace kavrel
