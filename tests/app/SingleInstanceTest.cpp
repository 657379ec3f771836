// One running copy per executable: a second start of the kavrel binary asks
// the first to come forward and ends; a lock or socket left by a crashed copy
// does not stop a new start.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "app/SingleInstance.h"
#include "tests/support/TestPaths.h"

namespace kavrel {
namespace {

constexpr int kDeadlineMs = 30000;

QString KavrelBinary() {
    return qEnvironmentVariable("KAVREL_BINARY_DIR") + "/app/kavrel";
}

bool ServerAnswers(const QString& key) {
    QLocalSocket probe;
    probe.connectToServer(key);
    const bool connected = probe.waitForConnected(250);
    probe.abort();
    return connected;
}

// Reads `process`'s merged output until it contains `text` or the deadline passes.
bool WaitForOutput(QProcess& process, QByteArray& output, const QByteArray& text) {
    const QDeadlineTimer deadline(kDeadlineMs);
    while (!output.contains(text) && !deadline.hasExpired()) {
        if (process.bytesAvailable() == 0)
            process.waitForReadyRead(250);
        output += process.readAll();
        if (process.state() == QProcess::NotRunning) {
            output += process.readAll();
            break;
        }
    }
    return output.contains(text);
}

void StartViewer(QProcess& process) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("QT_LOGGING_RULES", "kavrel.debug=true");
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(KavrelBinary(), {});
}

TEST(SingleInstanceTest, SecondStartRaisesTheFirstAndEnds) {
    const QString binary = QFileInfo(KavrelBinary()).canonicalFilePath();
    ASSERT_FALSE(binary.isEmpty()) << "no kavrel binary in the build tree";
    const QString key = SingleInstance::KeyFor(binary);

    QProcess first;
    StartViewer(first);
    ASSERT_TRUE(first.waitForStarted(kDeadlineMs));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return ServerAnswers(key) || first.state() != QProcess::Running; }, kDeadlineMs));
    ASSERT_EQ(first.state(), QProcess::Running) << first.readAll().toStdString();

    QProcess second;
    StartViewer(second);
    ASSERT_TRUE(second.waitForStarted(kDeadlineMs));
    ASSERT_TRUE(second.waitForFinished(kDeadlineMs));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    const QByteArray secondOutput = second.readAll();
    EXPECT_FALSE(secondOutput.contains("Raise")) << secondOutput.toStdString();

    QByteArray firstOutput;
    EXPECT_TRUE(WaitForOutput(first, firstOutput, "Raise")) << firstOutput.toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);

    first.kill();
    first.waitForFinished(kDeadlineMs);
}

// On the test's two offscreen monitors, from a settings folder of its own and
// a link to the binary of its own (so that its key is the test's alone):
// `--view 2 --screen 2` opens a second window in the running copy and starts
// no second program, and both windows come back at the next start.
TEST(SingleInstanceTest, ALaterStartOnAnotherMonitorOpensASecondWindowInTheFirst) {
    QTemporaryDir dir(QString::fromStdString(test::BinaryDir()) + "/screens-XXXXXX");
    ASSERT_TRUE(dir.isValid());
    const QString binary = dir.filePath("kavrel");
    ASSERT_EQ(::link(KavrelBinary().toLocal8Bit().constData(), binary.toLocal8Bit().constData()),
              0);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM",
                       "offscreen:configfile=" + QString::fromStdString(test::SourceDir()) +
                           "/tests/support/monitors.json");
    environment.insert("QT_LOGGING_RULES", "kavrel.debug=true");
    environment.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    const auto start = [&](QProcess& process, const QStringList& arguments) {
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(binary, arguments);
        return process.waitForStarted(kDeadlineMs);
    };

    QProcess first;
    ASSERT_TRUE(start(first, {}));
    QByteArray firstOutput;
    ASSERT_TRUE(WaitForOutput(first, firstOutput, "Window 1 on monitor landscape"))
        << firstOutput.toStdString();
    QProcess second;
    ASSERT_TRUE(start(second, {"--view", "2", "--screen", "2"}));
    ASSERT_TRUE(second.waitForFinished(kDeadlineMs));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_FALSE(second.readAll().contains("Window"));
    EXPECT_TRUE(WaitForOutput(first, firstOutput, "Window 2 on monitor portrait"))
        << firstOutput.toStdString();
    first.terminate();  // leaves as the exit question's Yes does
    ASSERT_TRUE(first.waitForFinished(kDeadlineMs));
    EXPECT_EQ(first.exitCode(), 0);

    QProcess again;
    ASSERT_TRUE(start(again, {}));
    QByteArray againOutput;
    EXPECT_TRUE(WaitForOutput(again, againOutput, "Window 2 on monitor portrait"))
        << againOutput.toStdString();
    again.terminate();
    again.waitForFinished(kDeadlineMs);
}

TEST(SingleInstanceTest, KeyDependsOnTheExecutablesPathOnly) {
    const QString a = SingleInstance::KeyFor("/opt/kavrel/kavrel");
    EXPECT_EQ(a, SingleInstance::KeyFor("/opt/kavrel/kavrel"));
    EXPECT_EQ(a, SingleInstance::KeyFor("/opt/kavrel/../kavrel/kavrel"));
    EXPECT_NE(a, SingleInstance::KeyFor("/opt/other/kavrel"));
    EXPECT_TRUE(a.startsWith("kavrel-"));
    EXPECT_EQ(a.size(), 7 + 16);
}

TEST(SingleInstanceTest, LeftoversOfACrashedCopyDoNotStopANewStart) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("kavrel");  // a path no other test uses
    const QString key = SingleInstance::KeyFor(path);

    // A lock held by a process that has ended, and its socket file.
    QProcess ended;
    ended.start("true", {});
    ASSERT_TRUE(ended.waitForStarted(kDeadlineMs));
    const qint64 endedPid = ended.processId();
    ASSERT_TRUE(ended.waitForFinished(kDeadlineMs));
    const QString lockPath = QDir(QDir::tempPath()).filePath(key + ".lock");
    {
        QFile lock(lockPath);
        ASSERT_TRUE(lock.open(QIODevice::WriteOnly | QIODevice::Truncate));
        lock.write(QByteArray::number(endedPid) + "\nkavrel\n" +
                   QSysInfo::machineHostName().toUtf8() + "\n");
        QFile socketFile(QDir(QDir::tempPath()).filePath(key));
        ASSERT_TRUE(socketFile.open(QIODevice::WriteOnly));
    }

    SingleInstance instance(path);
    EXPECT_EQ(instance.Claim(), SingleInstance::Outcome::First);
    EXPECT_TRUE(ServerAnswers(key));
}

// The options are read before any display is needed: no QT_QPA_PLATFORM here.
TEST(CommandLineRunTest, HelpAndVersionAnswerAndBadOptionsExitWithStatusTwo) {
    struct Case {
        QStringList arguments;
        int status;
        QByteArray said;
    } cases[] = {
        {{"--version"}, 0, "kavrel 1."},
        {{"--help"}, 0, "--fullscreen"},
        {{"--channel", "40"}, 2, "Usage:"},
        {{"--what"}, 2, "unknown option"},
    };
    for (const Case& c : cases) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("QT_QPA_PLATFORM");
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(KavrelBinary(), c.arguments);
        ASSERT_TRUE(process.waitForFinished(kDeadlineMs)) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), c.status) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(process.readAll().contains(c.said)) << c.arguments.join(' ').toStdString();
    }
}

}  // namespace
}  // namespace kavrel
