#pragma once
// The H.264 decoder wrapper: the only code in the program that calls
// libavcodec for decoding. One encoded frame in, at most one picture out.
//
// Threads: no lock inside. One handle is used by one thread at a time; the
// caller makes sure that opening, closing and decoding never overlap.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "video/PlanarPicture.h"
#include "video/StreamCodec.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace kavrel {

// What the decoder leaves out to save time (both off by default): the
// loop filter, and every frame that is not a key frame.
struct DecoderSkipping {
    bool loopFilter = false;
    bool nonKeyFrames = false;
    bool operator==(const DecoderSkipping&) const = default;
};

// One decoder instance: the library's decoder description, the decoding
// context, the picture object it decodes into, and the packet used to hand it
// input; all released with the handle. Every OpenDecoder makes a new one (so that tests and
// tools may run several side by side); the owner closes it before opening the
// next one.
struct DecoderHandle {
    struct ContextDeleter {
        void operator()(AVCodecContext* context) const;
    };
    struct FrameDeleter {
        void operator()(AVFrame* frame) const;
    };
    struct PacketDeleter {
        void operator()(AVPacket* packet) const;
    };
    struct ScalerDeleter {
        void operator()(SwsContext* scaler) const;
    };

    const void* decoder = nullptr;  // the library's decoder description (AVCodec) of `codec`
    // H.264 until a frame carries another codec's parameter sets (StreamCodec.h):
    // then the context is reopened for that codec, and back again.
    VideoCodec codec = VideoCodec::kH264;
    std::unique_ptr<AVCodecContext, ContextDeleter> context;
    std::unique_ptr<AVFrame, FrameDeleter> picture;  // holds the last decoded picture
    std::unique_ptr<AVPacket, PacketDeleter> packet;
    // Pictures in another layout than 8-bit 4:2:0 (4:2:2, 4:4:4, 10-bit ...)
    // are converted into `converted` first; the converter is kept for the
    // next picture of the same layout and size.
    std::unique_ptr<SwsContext, ScalerDeleter> scaler;
    std::unique_ptr<AVFrame, FrameDeleter> converted;
    // Frames whose sequence parameter set announces more pixels are refused
    // before the library sees them (it would allocate for them first).
    uint64_t maxPixels = 0;
    // Applied to every context, also one reopened for the other codec.
    DecoderSkipping skipping;
};

using DecoderPtr = std::unique_ptr<DecoderHandle>;

// DecodeFrame writes the packed layout of PlanarLayoutFor (video/PlanarPicture.h).

// H.264's largest level (8192 x 4352): what a decoder accepts unless told otherwise.
constexpr uint64_t kLargestLevelPixels = uint64_t(139264) * 256;

// The stream's codec is found from its parameter sets, not told: the decoder
// opens for H.264 (what a stream without recognisable parameter sets is
// decoded as), and a frame holding H.265 parameter sets (a key frame) reopens
// it for H.265 before that frame is decoded; H.264 ones switch it back.
//
// Finds the H.264 decoder, allocates and opens a context with the library's
// defaults (no size, no extradata, no flags, one thread), and allocates the
// picture object. Returns null on any failure; nothing is left allocated then.
// Pictures of more than `maxPixels` are refused before anything is allocated
// for them: a frame whose parameter sets announce one fails to decode, and the
// library's own limit is set to the same value.
DecoderPtr OpenDecoder(uint64_t maxPixels = kLargestLevelPixels);

enum class DecodeStatus {
    kPicture,         // a picture was copied into the output
    kFailed,          // no picture: empty input, no input consumed, a decoding error,
                      // no picture ready yet, or a layout that cannot be converted
    kOutputTooSmall,  // a picture came out but needs more than `capacity` bytes; width and
                      // height are set and the picture is held for CopyHeldPicture
};

// Decodes one encoded frame (an H.264 or H.265 byte stream with start codes) of
// `inputLength` bytes. Exactly inputLength bytes are read: the library copies
// the input into its own padded buffer, so no padding is needed behind it.
// On kPicture the PlanarPicture of the decoded size is written to `output`,
// which has room for `capacity` bytes and is never written past it; width and
// height are the decoded picture's. On kFailed the output is left untouched.
DecodeStatus DecodeFrame(DecoderHandle& handle, const uint8_t* input, int inputLength,
                         uint8_t* output, size_t capacity, int* width, int* height);

// Decodes one encoded frame as DecodeFrame does, but copies nothing:
// `picture` then shows the decoded picture in place (8-bit 4:2:0, converted
// first when the stream has another layout). It stays valid, and the handle
// keeps showing it through HeldPicture, until the next decode or the close.
// kPicture or kFailed.
DecodeStatus DecodeToPicture(DecoderHandle& handle, const uint8_t* input, int inputLength,
                             PlanarPicture* picture);
// The picture last decoded and still held; empty when there is none.
PlanarPicture HeldPicture(const DecoderHandle& handle);

// After kOutputTooSmall: copies the held picture into a larger output.
// Returns false when the output is still too small or no picture is held.
bool CopyHeldPicture(DecoderHandle& handle, uint8_t* output, size_t capacity);

// Takes effect from the next frame decoded. Between two decodes on the
// thread that decodes: the library reads these at each frame.
void SetSkipping(DecoderHandle& handle, DecoderSkipping skipping);

// Releases the decoder and leaves `handle` empty. Safe on an empty handle.
void CloseDecoder(DecoderPtr& handle);

}  // namespace kavrel
