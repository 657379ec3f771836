#pragma once
// Where the decode thread delivers its results: the owner of a VideoPipeline
// (the video window, a tool or a test) implements this.
//
// The picture operations are called on the decode thread, one at a time, with
// no pipeline lock held. OnSnapshotWritten comes from the snapshot worker's
// thread (or, for a request that never reached it, from the decode thread or
// the thread that stops decoding), one outcome at a time and never once the
// pipeline's destructor has returned. None may take long, call StartDecoding
// or StopDecoding, or destroy the pipeline (those wait for the decode thread,
// or for the report to end).

#include <cstddef>
#include <cstdint>
#include <string>

#include "video/SampledConversion.h"

namespace kavrel {

class PictureSink {
  public:
    virtual ~PictureSink() = default;

    // A finished picture: width * height RGB565 values (red in bits 15-11),
    // rows top-down with no gap, at the size of the pipeline's view (by
    // default the decoded size). Turned, it is the picture turned a quarter
    // turn clockwise, so `width` is then the decoded height. The pixels are
    // valid only during the call; copy what you keep.
    virtual void OnPicture(const uint16_t* /*pixels*/, int /*width*/, int /*height*/) {}

    // A sink that offers a buffer of its own (a window's back buffer) gets
    // each picture converted straight into it, with no copy, as 32-bit values
    // 0xFFRRGGBB (the 16-bit values widened, SampledConversion.h):
    // PictureBuffer gives room for width x height values whose rows lie
    // `*stride` values apart (null: this picture goes to OnPicture instead), and
    // OnPictureReady says that the picture in it is complete; it gives the
    // decoded picture's size and the part of it the picture shows (the
    // view's digital zoom). The buffer is the decode thread's from
    // PictureBuffer until OnPictureReady returns.
    virtual bool HasPictureBuffer() const { return false; }
    virtual uint32_t* PictureBuffer(int /*width*/, int /*height*/, ptrdiff_t* /*stride*/) {
        return nullptr;
    }
    virtual void OnPictureReady(int /*decodedWidth*/, int /*decodedHeight*/,
                                const ViewRect& /*part*/) {}

    // The outcome of a requested snapshot: ok only when the whole file was
    // written. `path` is the file written or attempted (empty when the
    // picture could not even be prepared).
    virtual void OnSnapshotWritten(bool ok, const std::string& path) = 0;
};

}  // namespace kavrel
