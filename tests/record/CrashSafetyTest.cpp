// A recording process killed with SIGKILL leaves a file that the players read
// up to its last whole fragment.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/record/ClipProbe.h"

namespace kavrel::record {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(CrashSafetyTest, KilledRecordingLeavesEveryWholeFragmentReadable) {
    ASSERT_TRUE(test::ClipToolsPresent());
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::string path = folder.path().toStdString();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execl(KAVREL_RECORD_UNTIL_KILLED, KAVREL_RECORD_UNTIL_KILLED, path.c_str(), nullptr);
        ::_exit(127);
    }
    // Wait (with a deadline) until a few fragments have reached the file.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    std::vector<fs::path> clips;
    while (std::chrono::steady_clock::now() < deadline) {
        clips = test::ClipsIn(path);
        std::error_code error;
        if (clips.size() == 1 && fs::file_size(clips[0], error) > 30'000)
            break;
        std::this_thread::sleep_for(10ms);
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
    ASSERT_EQ(clips.size(), 1u);

    // No trailer was written; the fragments before the one in progress play.
    const int packets = test::ClipPackets(clips[0]);
    EXPECT_GE(packets, 20);
    EXPECT_EQ(packets % 10, 0) << packets;
    EXPECT_EQ(test::ClipFirstPacketFlags(clips[0]).substr(0, 1), "K");
    EXPECT_EQ(test::ClipDecodeErrors(clips[0]), "");
}

}  // namespace
}  // namespace kavrel::record
