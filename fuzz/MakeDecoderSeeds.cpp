// Writes the decoder fuzz target's seed corpus: short libx264 and libx265 streams in the
// target's input format (u16 width, u16 height, then u16-length frames).
// Usage: make_decoder_seeds <folder>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/CraftedStreams.h"
#include "tests/support/H264TestEncoder.h"

namespace {

void PutU16(std::vector<uint8_t>& out, unsigned v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& seed) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(seed.data(), 1, seed.size(), f) == seed.size();
    return std::fclose(f) == 0 && ok;
}

// A key frame announcing 16000 x 16000 in a stream announced as CIF: refused
// before the library allocates anything for it.
bool WriteOversizedSeed(const std::string& path) {
    std::vector<uint8_t> seed;
    PutU16(seed, 352);
    PutU16(seed, 288);
    const std::vector<uint8_t> frame = kavrel::test::OversizedH264KeyFrame(1000, 1000);
    PutU16(seed, unsigned(frame.size()));
    seed.insert(seed.end(), frame.begin(), frame.end());
    return WriteFile(path, seed);
}

bool WriteSeed(const std::string& path, int width, int height, int announcedW, int announcedH,
               int frames, int qp, const char* encoderName = "libx264") {
    kavrel::test::EncoderOptions options;
    options.encoder = encoderName;
    options.width = width;
    options.height = height;
    options.qp = qp;
    options.gopSize = 4;
    auto encoder = kavrel::test::H264TestEncoder::Create(options);
    if (!encoder)
        return false;
    std::vector<uint8_t> seed;
    PutU16(seed, unsigned(announcedW));
    PutU16(seed, unsigned(announcedH));
    for (int i = 0; i < frames; ++i) {
        kavrel::test::EncodedFrame frame;
        if (!encoder->Encode(kavrel::test::MakeScenePicture(width, height, i), &frame))
            return false;
        if (frame.bytes.size() > 65535)
            return false;
        PutU16(seed, unsigned(frame.bytes.size()));
        seed.insert(seed.end(), frame.bytes.begin(), frame.bytes.end());
    }
    return WriteFile(path, seed);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const bool ok = WriteSeed(dir + "/qcif_as_announced", 176, 144, 176, 144, 5, -1) &&
                    WriteSeed(dir + "/larger_than_announced", 96, 64, 32, 32, 3, -1) &&
                    WriteSeed(dir + "/odd_width_lossless", 42, 30, 42, 30, 2, 0) &&
                    WriteSeed(dir + "/absurd_announcement", 64, 48, 65535, 65535, 2, -1) &&
                    WriteOversizedSeed(dir + "/oversized_sps") &&
                    WriteSeed(dir + "/h265_qcif", 176, 144, 176, 144, 5, -1, "libx265") &&
                    WriteSeed(dir + "/h265_lossless", 42, 30, 42, 30, 2, 0, "libx265");
    return ok ? 0 : 1;
}
