// Where config.txt lives: beside the executable in a build tree (known by the
// build's marker), else the user's own private copy, made once from the
// installed default, which is never written.

#include "config/ConfigLocation.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/TextCodec.h"
#include "tests/config/FileTestSupport.h"

namespace kavrel {
namespace {

class ConfigLocationTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_folder.IsValid());
        std::filesystem::create_directories(Bin());
    }

    // An installed layout in the scratch folder: <prefix>/bin and, when asked
    // for, <prefix>/share/kavrel/config.txt.
    std::string Bin() const { return m_folder.File("prefix/bin"); }
    std::string InstallDefault(const std::string& content) const {
        const std::string data = m_folder.File("prefix/share/kavrel");
        std::filesystem::create_directories(data);
        test::WriteFile(data + "/config.txt", content);
        ::chmod((data + "/config.txt").c_str(), 0644);
        return data + "/config.txt";
    }
    std::string ConfigHome() const { return m_folder.File("home/.config"); }

    test::TempFolder m_folder;
    // Nothing of the machine's own may take part.
    test::ScopedEnvironmentVariable m_configHome{"XDG_CONFIG_HOME", ConfigHome().c_str()};
    test::ScopedEnvironmentVariable m_dataHome{"XDG_DATA_HOME", m_folder.File("none").c_str()};
    test::ScopedEnvironmentVariable m_dataDirs{"XDG_DATA_DIRS", m_folder.File("none").c_str()};
};

TEST_F(ConfigLocationTest, OnlyABuildTreeUsesTheConfigBesideTheExecutable) {
    const std::string user = ConfigHome() + "/orvane/config.txt";
    EXPECT_EQ(ToUtf8(ConfigFileFor(FromUtf8(Bin()))), user);
    EXPECT_EQ(ToUtf8(UserConfigFile()), user);

    // A shared bin/ with another program's config.txt: not ours to read or
    // to write a password into.
    test::WriteFile(Bin() + "/config.txt", "[lan0]\n");
    EXPECT_FALSE(IsBuildTree(FromUtf8(Bin())));
    EXPECT_EQ(ToUtf8(ConfigFileFor(FromUtf8(Bin()))), user);

    // The marker the build writes; a folder of that name is no marker.
    std::filesystem::create_directory(Bin() + "/kavrel-build-tree");
    EXPECT_EQ(ToUtf8(ConfigFileFor(FromUtf8(Bin()))), user);
    std::filesystem::remove(Bin() + "/kavrel-build-tree");
    test::WriteFile(Bin() + "/kavrel-build-tree", "");
    EXPECT_TRUE(IsBuildTree(FromUtf8(Bin())));
    EXPECT_EQ(ToUtf8(ConfigFileFor(FromUtf8(Bin()))), Bin() + "/config.txt");

    test::ScopedEnvironmentVariable noConfigHome("XDG_CONFIG_HOME", nullptr);
    test::ScopedEnvironmentVariable home("HOME", m_folder.File("elsewhere").c_str());
    EXPECT_EQ(ToUtf8(UserConfigFile()), m_folder.File("elsewhere/.config/orvane/config.txt"));
}

TEST_F(ConfigLocationTest, FirstStartCopiesTheInstalledDefaultPrivatelyAndOnlyOnce) {
    const std::string content = "[lan0]\nset_ok=OK\n";
    const std::string installed = InstallDefault(content);
    const std::string user = ConfigHome() + "/orvane/config.txt";

    ASSERT_TRUE(MakeUserConfigFile(FromUtf8(Bin())));
    EXPECT_EQ(test::ReadFile(user), content);
    EXPECT_EQ(test::FileMode(user), 0600u);
    EXPECT_EQ(test::FileMode(ConfigHome()), 0700u);
    EXPECT_EQ(test::FileMode(ConfigHome() + "/orvane"), 0700u);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(ConfigHome() + "/orvane"))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"config.txt"});

    // Later starts leave the user's copy as it is.
    test::WriteFile(user, "[server]\nserver_address=kept\n");
    ASSERT_TRUE(MakeUserConfigFile(FromUtf8(Bin())));
    EXPECT_EQ(test::ReadFile(user), "[server]\nserver_address=kept\n");

    EXPECT_EQ(test::ReadFile(installed), content);
    EXPECT_EQ(test::FileMode(installed), 0644u);
}

TEST_F(ConfigLocationTest, BuildTreeMakesNoUserCopyButAForeignConfigDoesNotStopIt) {
    InstallDefault("[lan0]\nset_ok=OK\n");
    test::WriteFile(Bin() + "/config.txt", "[other]\nkey=value\n");
    ASSERT_TRUE(MakeUserConfigFile(FromUtf8(Bin())));
    EXPECT_EQ(test::ReadFile(ConfigHome() + "/orvane/config.txt"), "[lan0]\nset_ok=OK\n");
    EXPECT_EQ(test::ReadFile(Bin() + "/config.txt"), "[other]\nkey=value\n");

    std::filesystem::remove_all(ConfigHome());
    test::WriteFile(Bin() + "/kavrel-build-tree", "");
    ASSERT_TRUE(MakeUserConfigFile(FromUtf8(Bin())));
    EXPECT_FALSE(test::FileExists(ConfigHome()));
}

TEST_F(ConfigLocationTest, InstalledDefaultIsFoundBesideTheBinariesOrInTheDataFolders) {
    EXPECT_EQ(FindInstalledConfigFile(FromUtf8(Bin())), u"");

    // Through XDG_DATA_DIRS: the first folder that holds one wins.
    for (const char* folder : {"a/kavrel", "b/kavrel"}) {
        std::filesystem::create_directories(m_folder.File(folder));
        test::WriteFile(m_folder.File(folder) + "/config.txt", folder);
    }
    const std::string dirs =
        m_folder.File("none") + ":" + m_folder.File("a") + ":" + m_folder.File("b");
    test::ScopedEnvironmentVariable dataDirs("XDG_DATA_DIRS", dirs.c_str());
    EXPECT_EQ(ToUtf8(FindInstalledConfigFile(FromUtf8(Bin()))),
              m_folder.File("a/kavrel/config.txt"));

    // The executable's own ../share comes first: another prefix, or a scratch
    // DESTDIR, finds its own default.
    const std::string installed = InstallDefault("[lan0]\n");
    EXPECT_EQ(ToUtf8(FindInstalledConfigFile(FromUtf8(Bin()))), installed);
}

}  // namespace
}  // namespace kavrel
