// The real main window, offscreen, against kavrel-sim streaming H.265: the
// viewer finds the codec in the stream (nothing in the protocol names it), and
// follows a stream that changes codec at a key frame.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <vector>

#include "tests/app/SessionFixture.h"
#include "tests/app/SimulatorPictures.h"
#include "tests/support/H264TestEncoder.h"
#include "tests/support/SimulatorProcess.h"
#include "tools/sim/TestPattern.h"
#include "video/CVideoAtom.h"
#include "video/ColourTables.h"

namespace kavrel {
namespace {

using sim::Corner;
using test::CornersOfChannel;
using test::OnlySnapshot;

class SessionH265Test : public test::SessionFixture {
  protected:
    void Start(std::vector<std::string> args, int channel = 0) {
        ASSERT_TRUE(m_sim.Start(args)) << m_sim.Log();
        MakeSessionWindow(m_sim.Port(), channel);
        QObject::connect(m_window->VideoWindow(), &CVideoAtom::pictureShown,
                         [this] { ++m_picturesShown; });
    }
    // A picture of `channel` shown from now on.
    bool WaitForPictureOf(int channel) {
        const int before = m_picturesShown;
        return WaitFor([&] {
            return m_picturesShown > before &&
                   CornersOfChannel(m_window->VideoWindow()->LatestPicture(), channel);
        });
    }
    int m_picturesShown = 0;
    test::SimulatorProcess m_sim{[] { QCoreApplication::processEvents(); }};
};

TEST_F(SessionH265Test, PlayShowsTheChannelsPatternAndCaptureWritesIt) {
    Start({"--codec", "h265", "--channels", "4"}, 2);
    m_window->OnCommand(control::kPlay);
    ASSERT_TRUE(WaitForStatus("CH=3,FPS=25,Size=352x288,Rate=512kb")) << m_sim.Log();
    ASSERT_TRUE(WaitForPictureOf(2)) << m_sim.Log();
    EXPECT_EQ(m_window->VideoWindow()->toolTip().toStdString(), "H.265");

    m_window->OnCommand(control::kCapture);
    ASSERT_TRUE(WaitForStatus(Text(u"capture_succeed")));
    const QByteArray bmp = OnlySnapshot(m_documents);
    ASSERT_EQ(bmp.size(), 54 + 3 * 352 * 288);
    const auto* bytes = reinterpret_cast<const uint8_t*>(bmp.constData());
    for (Corner corner : {Corner::TopLeft, Corner::BottomRight}) {
        const sim::Point at = sim::CornerSampleAt(352, 288, corner);
        const uint8_t* pixel = bytes + 54 + size_t(287 - at.y) * 352 * 3 + size_t(at.x) * 3;
        EXPECT_TRUE(sim::ColourNear({pixel[2], pixel[1], pixel[0]}, sim::CornerColour(2, corner)))
            << int(corner);
    }
}

// A lossless H.265 clip served by --file: what libavcodec (and the ffmpeg
// command line) decodes from it is the source picture itself, so the captured
// BMP must be that picture through the table conversion, byte for byte. Every
// frame of the clip holds the same picture, so whichever one is captured counts.
TEST_F(SessionH265Test, CaptureOfALosslessClipEqualsTheConvertedDecode) {
    // Small enough for a lossless frame to fit one video record (64 KiB).
    constexpr int kWidth = 176;
    constexpr int kHeight = 144;
    const test::YuvPicture source = test::MakeScenePicture(kWidth, kHeight, 7);
    test::EncoderOptions options;
    options.width = kWidth;
    options.height = kHeight;
    options.encoder = "libx265";
    options.gopSize = 5;
    const auto frames = test::EncodeSequence(options, std::vector(5, source));
    ASSERT_EQ(frames.size(), 5u);
    QTemporaryDir clipFolder;
    const QString clipPath = clipFolder.filePath("lossless.h265");
    QFile clip(clipPath);
    ASSERT_TRUE(clip.open(QIODevice::WriteOnly));
    for (const auto& frame : frames) {
        ASSERT_LT(frame.bytes.size(), 65535u);
        clip.write(reinterpret_cast<const char*>(frame.bytes.data()), qint64(frame.bytes.size()));
    }
    clip.close();

    Start({"--file", clipPath.toStdString(), "--channels", "1"});
    m_window->OnCommand(control::kPlay);
    ASSERT_TRUE(WaitFor([&] { return m_picturesShown > 0; })) << m_sim.Log();
    m_window->OnCommand(control::kCapture);
    ASSERT_TRUE(WaitForStatus(Text(u"capture_succeed")));
    const QByteArray bmp = OnlySnapshot(m_documents);

    ColourTables tables;
    tables.Build();
    std::vector<uint8_t> expected(3 * size_t(kWidth) * kHeight);
    ConvertToRgb(tables, source.bytes.data(), expected.data(), kWidth, kHeight);
    ASSERT_EQ(size_t(bmp.size()), 54 + expected.size());
    const auto* pixels = reinterpret_cast<const uint8_t*>(bmp.constData()) + 54;
    size_t differing = 0;
    for (size_t i = 0; i < expected.size(); ++i)
        differing += pixels[i] != expected[i] ? 1 : 0;
    EXPECT_EQ(differing, 0u) << "of " << expected.size() << " bytes";
}

// H.264, then H.265 from a key frame on, then H.264 again: pictures throughout,
// the video window's tooltip naming the codec of the moment, and no frame of
// either codec is counted as a failed decode after the first picture.
TEST_F(SessionH265Test, StreamThatSwitchesCodecShowsPicturesThroughout) {
    Start({"--fault", "switch-codec", "--fault-frames", "15"});
    m_window->OnCommand(control::kPlay);
    ASSERT_TRUE(WaitForPictureOf(0)) << m_sim.Log();
    QStringList codecsShown;  // the tooltip at each change, as pictures arrive
    QObject connection;       // goes before codecsShown, ending the recording
    QObject::connect(m_window->VideoWindow(), &CVideoAtom::pictureShown, &connection, [&] {
        const QString codec = m_window->VideoWindow()->toolTip();
        if (codecsShown.isEmpty() || codecsShown.back() != codec)
            codecsShown.push_back(codec);
    });
    for (int switches = 1; switches <= 2; ++switches) {
        ASSERT_TRUE(m_sim.WaitForLog("switching codec", switches)) << m_sim.Log();
        ASSERT_TRUE(WaitForPictureOf(0)) << "after switch " << switches;
    }
    // The simulator goes on switching, so a busy machine that missed one
    // codec's pictures sees them on the next turn.
    EXPECT_TRUE(WaitFor([&] { return codecsShown.join(' ').contains("H.264 H.265 H.264"); }))
        << codecsShown.join(' ').toStdString();
    const auto counters = m_window->VideoWindow()->Pipeline().Counters();
    EXPECT_EQ(counters.decodeFailures, 0u);
    EXPECT_GE(counters.framesDecoded, 30u);
}

}  // namespace
}  // namespace kavrel
