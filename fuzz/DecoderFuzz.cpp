// The decoder wrapper (with its codec detection) and the conversion on mutated
// H.264 and H.265. The input is an
// announced picture size followed by frames, each with a 16-bit length:
//   u16 width, u16 height, { u16 length, length bytes }...
// Buffers are sized from the announcement (capped) and grown to what is
// decoded, as the video window does; every picture is converted by the table
// way and by each fast path, which must agree byte for byte.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/DebugSink.h"
#include "video/ColourTables.h"
#include "video/FastConversion.h"
#include "video/H264Decoder.h"
#include "video/PictureTransform.h"

namespace {

// An announcement alone reserves at most this many bytes here.
constexpr size_t kAnnouncedCap = size_t(4) * 1920 * 1088;

uint16_t ReadU16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}

void CheckPicture(const kavrel::ColourTables& tables, const std::vector<uint8_t>& planar, int width,
                  int height) {
    if (width <= 0 || height <= 0)
        __builtin_trap();
    const size_t pixels = size_t(width) * size_t(height);
    if (kavrel::PlanarLayoutFor(width, height).totalBytes > planar.size())
        __builtin_trap();
    std::vector<uint8_t> rgb(pixels * 3);
    std::vector<uint16_t> reference(pixels);
    kavrel::ConvertToRgb(tables, planar.data(), rgb.data(), width, height);
    kavrel::ConvertToRgb565(rgb.data(), reference.data(), width, height);
    kavrel::FlipRows(reference.data(), width, height);

    std::vector<uint16_t> fast(pixels);
    kavrel::ConvertToScreenScalar(tables, planar.data(), fast.data(), width, height);
    if (fast != reference)
        __builtin_trap();
    if (kavrel::CpuSupportsAvx2()) {
        std::fill(fast.begin(), fast.end(), 0);
        kavrel::ConvertToScreenAvx2(planar.data(), fast.data(), width, height);
        if (fast != reference)
            __builtin_trap();
    }
    std::vector<uint16_t> turned(pixels);
    kavrel::RotateClockwise(reference.data(), turned.data(), width, height);
    // Top-left goes to the top-right corner of the turned picture.
    if (turned[size_t(height) - 1] != reference[0])
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kavrel::SetDebugSink([](std::string_view) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4)
        return 0;
    const size_t announced = std::min(size_t(4) * ReadU16(data) * ReadU16(data + 2), kAnnouncedCap);
    std::vector<uint8_t> planar(std::max<size_t>(announced, 1));

    kavrel::DecoderPtr decoder = kavrel::OpenDecoder();
    if (!decoder)
        __builtin_trap();
    kavrel::ColourTables tables;
    tables.Build();

    size_t pos = 4;
    int frames = 0;
    while (pos + 2 <= size && frames < 32) {
        const size_t length = std::min<size_t>(ReadU16(data + pos), size - pos - 2);
        pos += 2;
        // The decoder sees exactly the frame's bytes, as a separate allocation.
        std::vector<uint8_t> frame(data + pos, data + pos + length);
        pos += length;
        ++frames;
        int width = 0;
        int height = 0;
        const std::vector<uint8_t> before = planar;
        const auto status = kavrel::DecodeFrame(*decoder, frame.data(), int(frame.size()),
                                                planar.data(), planar.size(), &width, &height);
        if (status == kavrel::DecodeStatus::kFailed) {
            if (planar != before)
                __builtin_trap();  // a failure leaves the output untouched
            continue;
        }
        if (status == kavrel::DecodeStatus::kOutputTooSmall) {
            const size_t needed = kavrel::PlanarLayoutFor(width, height).totalBytes;
            if (needed <= planar.size())
                __builtin_trap();
            planar.assign(needed, 0);
            if (!kavrel::CopyHeldPicture(*decoder, planar.data(), planar.size()))
                __builtin_trap();
        }
        // The differential check converts four ways; on huge pictures (the
        // decoder accepts up to 8192 x 4352) that would make each input take
        // seconds and starve the search, so it covers pictures up to 1080p.
        if (int64_t(width) * height <= int64_t(1920) * 1088) {
            CheckPicture(tables, planar, width, height);
        } else if (width <= 0 || height <= 0 ||
                   kavrel::PlanarLayoutFor(width, height).totalBytes > planar.size()) {
            __builtin_trap();
        }
    }
    kavrel::CloseDecoder(decoder);
    return 0;
}
