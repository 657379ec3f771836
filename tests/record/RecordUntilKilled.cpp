// Records a generated stream into the folder given until it is killed (at
// most a minute): the crash test's victim. Frames arrive as fast as the
// writer takes them, stamped 40 ms apart; key frames every 10 frames.
//
// Usage: record_until_killed FOLDER

#include <chrono>
#include <cstdio>
#include <thread>

#include "record/ClipRecorder.h"
#include "tests/support/H264TestEncoder.h"

int main(int argc, char** argv) {
    using namespace std::chrono_literals;
    if (argc != 2)
        return 2;
    kavrel::test::EncoderOptions options;
    options.qp = -1;
    options.gopSize = 10;
    std::vector<kavrel::test::YuvPicture> pictures;
    for (int index = 0; index < 50; ++index)
        pictures.push_back(kavrel::test::MakeScenePicture(options.width, options.height, index));
    const auto frames = kavrel::test::EncodeSequence(options, pictures);
    if (frames.size() != pictures.size())
        return 1;
    kavrel::record::RecorderOptions recorderOptions;
    recorderOptions.folder = argv[1];
    recorderOptions.namePrefix = "killed";
    kavrel::record::ClipRecorder recorder(recorderOptions, {});
    auto arrival = kavrel::record::Clock::now();
    const auto until = std::chrono::steady_clock::now() + 60s;
    for (size_t index = 0; std::chrono::steady_clock::now() < until; ++index) {
        const auto& frame = frames[index % frames.size()];
        recorder.Push({kavrel::CopyFrameBytes(frame.bytes.data(), int(frame.bytes.size())),
                       frame.keyFrame, arrival});
        arrival += 40ms;
        std::this_thread::sleep_for(2ms);
    }
    return 0;
}
