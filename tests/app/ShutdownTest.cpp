// Leaving while a session shows video: the window's destruction ends the
// decode thread before any control goes, without a hang or a sanitizer report.

#include <QSignalSpy>
#include <QTest>
#include <thread>

#include "tests/app/MainWindowFixture.h"
#include "tests/support/H264TestEncoder.h"
#include "video/CVideoAtom.h"

namespace kavrel {
namespace {

using ShutdownTest = test::MainWindowFixture;

std::vector<test::EncodedFrame> MakeFrames(int count) {
    test::EncoderOptions options;
    options.width = 176;
    options.height = 144;
    std::vector<test::YuvPicture> pictures;
    for (int i = 0; i < count; ++i)
        pictures.push_back(test::MakeScenePicture(176, 144, i));
    return test::EncodeSequence(options, pictures);
}

TEST_F(ShutdownTest, DestroyingTheWindowWhileVideoDecodesEndsTheDecodeThread) {
    const std::vector<test::EncodedFrame> frames = MakeFrames(40);
    ASSERT_EQ(frames.size(), 40u);
    WriteConfig();
    MakeWindow();
    CVideoAtom* video = m_window->VideoWindow();
    ASSERT_NE(video, nullptr);
    QSignalSpy shown(video, &CVideoAtom::pictureShown);

    video->StartDecoding(VideoFormat{176, 144});
    // Frames arrive on another thread, as from a connection's receive thread.
    std::thread receiver([&] {
        for (const test::EncodedFrame& frame : frames) {
            video->AddFrame(frame.bytes.data(), int(frame.bytes.size()), frame.keyFrame ? 1 : 0);
        }
    });
    receiver.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.count() > 0; }, 30000));

    // More frames queue up, and the window goes while they are being decoded.
    for (const test::EncodedFrame& frame : frames) {
        video->AddFrame(frame.bytes.data(), int(frame.bytes.size()), frame.keyFrame ? 1 : 0);
    }
    m_window.reset();
    EXPECT_EQ(m_window, nullptr);
}

}  // namespace
}  // namespace kavrel
