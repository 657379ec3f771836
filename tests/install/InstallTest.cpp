// The program as a user's machine gets it: `cmake --install` into a scratch
// DESTDIR, the file list, the desktop validators, the installed viewer's first
// start with a scratch home, and a server saved into the user's own copy of
// config.txt. The installed default must never be written.
//
// Every test here shares one install, made once when the program starts
// (ctest runs the program as one test).

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/COrvaneApp.h"
#include "app/COrvaneDlg.h"
#include "app/NetworkBringUp.h"
#include "config/ConfigStore.h"
#include "settings/HistoryStore.h"
#include "skin/ControlIds.h"
#include "skin/MessageBox.h"
#include "tests/config/FileTestSupport.h"
#include "tests/support/TestPaths.h"

namespace kavrel {
namespace {

constexpr const char* kPrefix = "/usr";
constexpr int kIconSizes[] = {22, 48, 64, 128, 256};

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

unsigned Mode(const QString& path) {
    return test::FileMode(path.toStdString());
}

// Runs a program to its end; its exit status, with what it printed in `output`.
int RunProgram(const QString& program, const QStringList& arguments, QString& output,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(240000)) {
        output = program + ": " + process.errorString();
        return -1;
    }
    output = QString::fromUtf8(process.readAll());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

class InstallTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_scratch = std::make_unique<QTemporaryDir>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DESTDIR", s_scratch->filePath("root"));
        s_installStatus = RunProgram(
            KAVREL_CMAKE_COMMAND,
            {"--install", QString::fromStdString(test::BinaryDir()), "--prefix", kPrefix},
            s_installLog, environment);
    }
    static void TearDownTestSuite() { s_scratch.reset(); }

    void SetUp() override {
        ASSERT_TRUE(s_scratch->isValid());
        ASSERT_EQ(s_installStatus, 0) << s_installLog.toStdString();
    }

    static QString Scratch(const QString& name) { return s_scratch->filePath(name); }
    // A file of the install, by its path under the prefix ("bin/kavrel").
    static QString Installed(const QString& path) {
        return s_scratch->filePath(QString("root") + kPrefix + "/" + path);
    }
    static QString DeliveredConfig() {
        return QString::fromStdString(test::SourceDir()) + "/res/config.txt";
    }

    // The installed default is still the delivered file, as installed.
    void ExpectInstalledDefaultUntouched() const {
        EXPECT_EQ(ReadAll(Installed("share/kavrel/config.txt")), ReadAll(DeliveredConfig()));
        EXPECT_EQ(Mode(Installed("share/kavrel/config.txt")), 0644u);
        EXPECT_EQ(QDir(Installed("bin")).entryList(QDir::Files | QDir::Hidden),
                  QStringList({"kavrel", "kavrel-sim"}));
    }

    static inline std::unique_ptr<QTemporaryDir> s_scratch;
    static inline int s_installStatus = -1;
    static inline QString s_installLog;
};

TEST_F(InstallTest, PutsEachFileInItsPlaceAndTheDesktopFilesValidate) {
    const QString id = QString::fromLatin1(kDesktopFileId);
    QStringList expected = {
        "usr/bin/kavrel",
        "usr/bin/kavrel-sim",
        "usr/share/applications/" + id + ".desktop",
        "usr/share/icons/hicolor/scalable/apps/" + id + ".svg",
        "usr/share/kavrel/config.txt",
        "usr/share/metainfo/" + id + ".metainfo.xml",
    };
    for (const int pixels : kIconSizes)
        expected << QString("usr/share/icons/hicolor/%1x%1/apps/%2.png").arg(pixels).arg(id);
    expected.sort();
    QStringList files;
    const QDir root(Scratch("root"));
    QDirIterator walk(root.path(), QDir::Files | QDir::Hidden | QDir::System,
                      QDirIterator::Subdirectories);
    while (walk.hasNext())
        files << root.relativeFilePath(walk.next());
    files.sort();
    EXPECT_EQ(files, expected);

    for (const int pixels : kIconSizes) {
        const QImage icon(
            Installed(QString("share/icons/hicolor/%1x%1/apps/%2.png").arg(pixels).arg(id)));
        EXPECT_EQ(icon.size(), QSize(pixels, pixels)) << pixels;
        EXPECT_TRUE(icon.hasAlphaChannel()) << pixels;
    }
    EXPECT_TRUE(QFileInfo(Installed("bin/kavrel")).isExecutable());
    ExpectInstalledDefaultUntouched();

    QString output;
    EXPECT_EQ(RunProgram("desktop-file-validate",
                         {Installed("share/applications/" + id + ".desktop")}, output),
              0)
        << output.toStdString();
    EXPECT_EQ(output, "") << "hints or warnings";
    const QString metainfo = Installed("share/metainfo/" + id + ".metainfo.xml");
    EXPECT_EQ(RunProgram("appstreamcli", {"validate", "--no-net", metainfo}, output), 0)
        << output.toStdString();
    // Each release adds its entry by hand: this one must be there.
    EXPECT_TRUE(ReadAll(metainfo).contains("<release version=\"" KAVREL_VERSION "\""));
}

TEST_F(InstallTest, InstalledViewerMakesTheUsersPrivateCopyOnFirstStart) {
    const QString home = Scratch("first-start-home");
    ASSERT_TRUE(QDir().mkpath(home));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home);
    environment.remove("XDG_CONFIG_HOME");  // the default, ~/.config
    // Only the install's own ../share may provide the default.
    environment.insert("XDG_DATA_HOME", Scratch("no-data"));
    environment.insert("XDG_DATA_DIRS", Scratch("no-data"));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess viewer;
    viewer.setProcessEnvironment(environment);
    viewer.setProcessChannelMode(QProcess::MergedChannels);
    viewer.start(Installed("bin/kavrel"), {});
    ASSERT_TRUE(viewer.waitForStarted()) << viewer.errorString().toStdString();

    const QString copy = home + "/.config/orvane/config.txt";
    const bool appeared = QTest::qWaitFor(
        [&] { return QFile::exists(copy) || viewer.state() == QProcess::NotRunning; }, 60000);
    const bool running = viewer.state() == QProcess::Running;
    viewer.kill();
    viewer.waitForFinished();
    ASSERT_TRUE(appeared && running) << viewer.readAll().toStdString();

    EXPECT_EQ(ReadAll(copy), ReadAll(Installed("share/kavrel/config.txt")));
    EXPECT_EQ(Mode(copy), 0600u);
    EXPECT_EQ(Mode(home + "/.config"), 0700u);
    EXPECT_EQ(Mode(home + "/.config/orvane"), 0700u);
    ExpectInstalledDefaultUntouched();
}

TEST_F(InstallTest, SavedServerGoesToTheUsersCopyForTheOwnerOnly) {
    // The installed viewer's code in this process, its executable's folder
    // taken as the install's bin.
    const QString configHome = Scratch("save-home/.config");
    test::ScopedEnvironmentVariable xdgConfig("XDG_CONFIG_HOME", qPrintable(configHome));
    test::ScopedEnvironmentVariable xdgData("XDG_DATA_HOME", qPrintable(Scratch("no-data")));
    test::ScopedEnvironmentVariable xdgDirs("XDG_DATA_DIRS", qPrintable(Scratch("no-data")));
    SetProgramDirectory(Installed("bin").toStdU16String());
    SetSettingsStoreFile(Scratch("save-settings.ini").toStdU16String());
    SetNetworkBringUp([] { return true; });
    ScopedMessageBoxHandler answerYes([](QWidget*, const QString&, const QString&,
                                         QMessageBox::StandardButtons,
                                         QMessageBox::Icon) { return QMessageBox::Yes; });

    PrepareConfigFile();  // as the program does at start
    const QString copy = configHome + "/orvane/config.txt";
    ASSERT_EQ(QString::fromStdU16String(ConfigFilePath()), copy);
    // A copy left readable by everyone (by hand, or by an earlier version)
    // that already holds a server.
    {
        QFile file(copy);
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write(
            "[server]\nserver_address=cam.example\nserver_port=8000\nserver_username=viewer\n"
            "server_password=secret\nserver_channel=2\n");
    }
    ASSERT_EQ(::chmod(qPrintable(copy), 0644), 0);

    {
        SettingsLabels labels;
        COrvaneDlg window(labels);
        window.Initialise();
        EXPECT_EQ(window.CurrentServer().password, u"secret");
        window.OnCommand(control::kExit);  // leave, answering Yes: the server is saved
    }
    SetNetworkBringUp({});
    SetSettingsStoreFile({});
    SetProgramDirectory({});

    EXPECT_TRUE(ReadAll(copy).contains("server_address=cam.example\n"));
    EXPECT_TRUE(ReadAll(copy).contains("server_password=secret\n"));
    EXPECT_EQ(Mode(copy), 0600u);
    ExpectInstalledDefaultUntouched();
}

}  // namespace
}  // namespace kavrel
