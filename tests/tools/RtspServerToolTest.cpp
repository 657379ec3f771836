// The RTSP test server (tools/rtsp/rtsp_server.py) does what the viewer's RTSP
// tests rely on, seen through ffprobe and ffmpeg as its clients.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "tests/record/ClipProbe.h"
#include "tests/support/RtspTestServer.h"

namespace kavrel::test {
namespace {

// "codec,width,height" of the stream at `url`, read over RTSP interleaved in
// TCP, followed by whatever ffprobe complains of. The time-out only bounds a
// broken run.
std::string Probe(const std::string& url, const std::string& options = {}) {
    return RunShell("timeout 60 ffprobe -v error -rtsp_transport tcp -analyzeduration 500000 " +
                        options + " -show_entries stream=codec_name,width,height -of csv=p=0 '" +
                        url + "'",
                    true);
}

TEST(RtspServerToolTest, ServesEveryClipAndGoesAwayAndComesBackOnItsPort) {
    ASSERT_TRUE(ClipToolsPresent()) << "ffprobe and ffmpeg are needed (package ffmpeg)";
    RtspTestServer server;
    ASSERT_TRUE(server.Start()) << server.Log();

    EXPECT_EQ(Probe(server.Url("/h264")), "h264,352,288\n");
    EXPECT_EQ(Probe(server.Url("/h265")), "hevc,352,288\n");
    EXPECT_EQ(Probe(server.Url("/h264-d1")), "h264,704,576\n");
    EXPECT_EQ(Probe(server.Url("/h265-d1")), "hevc,704,576\n");
    EXPECT_EQ(Probe(server.Url("/oversize")), "h264,8192,4368\n");
    EXPECT_TRUE(server.WaitForLines("playing /oversize"));

    // Stopped, a new client is answered and set up but gets no picture (its
    // read times out); resumed, pictures come again.
    ASSERT_TRUE(server.StopSending());
    EXPECT_NE(Probe(server.Url("/h264"), "-timeout 1000000"), "h264,352,288\n");
    ASSERT_TRUE(server.ResumeSending());
    EXPECT_EQ(Probe(server.Url("/h264")), "h264,352,288\n");

    // Going away cuts a playing client off and refuses new ones.
    FILE* player = ::popen(("timeout 60 ffmpeg -nostdin -v error -rtsp_transport tcp -i '" +
                            server.Url("/h265") + "' -f null -progress pipe:1 - 2>&1")
                               .c_str(),
                           "r");
    ASSERT_NE(player, nullptr);
    char line[512];
    bool playing = false;
    while (!playing && std::fgets(line, sizeof line, player))
        playing = std::string(line).rfind("frame=", 0) == 0;
    EXPECT_TRUE(playing);
    ASSERT_TRUE(server.GoAway());
    while (std::fgets(line, sizeof line, player)) {
    }
    const int status = ::pclose(player);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 124) << "the player was not cut off";
    EXPECT_NE(Probe(server.Url("/h264")).find("Connection refused"), std::string::npos);

    ASSERT_TRUE(server.ComeBack());
    EXPECT_EQ(Probe(server.Url("/h264")), "h264,352,288\n");
    // Away for a while, back by itself on the same port.
    ASSERT_TRUE(server.GoAway(std::chrono::milliseconds(300)));
    ASSERT_TRUE(server.WaitBack());
    EXPECT_EQ(Probe(server.Url("/h265")), "hevc,352,288\n");
    EXPECT_EQ(server.Stop(), 0) << server.Log();
}

TEST(RtspServerToolTest, PlaysOnlyWithTheRightPassword) {
    ASSERT_TRUE(ClipToolsPresent()) << "ffprobe and ffmpeg are needed (package ffmpeg)";
    for (const bool digest : {true, false}) {
        SCOPED_TRACE(digest ? "digest" : "basic");
        RtspTestServer server;
        ASSERT_TRUE(server.Start({"viewer", "s3cret", digest})) << server.Log();
        // ffprobe's debug output shows the answer's headers.
        EXPECT_NE(Probe(server.Url("/h264"), "-v debug")
                      .find(digest ? "WWW-Authenticate: Digest" : "WWW-Authenticate: Basic"),
                  std::string::npos);
        EXPECT_NE(Probe(server.Url("/h264", "viewer", "wrong")).find("401 Unauthorized"),
                  std::string::npos);
        EXPECT_EQ(Probe(server.Url("/h264", "viewer", "s3cret")), "h264,352,288\n");
    }
}

}  // namespace
}  // namespace kavrel::test
