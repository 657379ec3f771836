#pragma once
// Where a session's video frames come from: the generated picture encoded live
// (PatternSource) or an H.264 file (ClipSource). One source per session, used
// only by that session's thread.

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sim/SimOptions.h"

namespace kavrel::sim {

class PtzState;

// One encoded picture: an H.264 access unit in Annex B form (start codes kept).
struct EncodedFrame {
    std::vector<uint8_t> bytes;
    bool key = false;  // an IDR picture the decoder can start from
};

class VideoSource {
  public:
    virtual ~VideoSource() = default;

    // Size of the pictures in the stream (not necessarily the announced one).
    virtual PictureSize Size() const = 0;
    // The next frame. False on a failure that ends the stream; `error` says why.
    virtual bool NextFrame(EncodedFrame& out, std::string& error) = 0;
    // Shows `channel` from the next frame on, starting with a key frame.
    virtual void SetChannel(int channel) = 0;
    // Makes the next frame a key frame.
    virtual void RequestKeyFrame() = 0;
    // Changes the picture size; the next frame is a key frame. False (with a
    // reason) where the source cannot change it.
    virtual bool Resize(PictureSize size, std::string& error) = 0;
    // The camera head PTZ commands steer; null where the picture cannot react.
    virtual PtzState* Ptz() = 0;
};

}  // namespace kavrel::sim
