#pragma once
// Where a session's video frames come from: the generated picture encoded live
// (PatternSource) or a recorded H.264 file (ClipSource). One source per
// session, used only by that session's thread.

#include <cstdint>
#include <memory>
#include <string>

#include "tools/sim/AnnexBClip.h"
#include "tools/sim/H264Encoder.h"
#include "tools/sim/PtzState.h"
#include "tools/sim/SimOptions.h"
#include "tools/sim/TestPattern.h"

namespace kavrel::sim {

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
    // Encodes with the other codec (H.264 or H.265) from the next frame on,
    // starting with a key frame. False (with a reason) where it cannot.
    virtual bool SwitchCodec(std::string& error) = 0;
    // The camera head PTZ commands steer; null where the picture cannot react.
    virtual PtzState* Ptz() = 0;
};

// Video of the generated picture (TestPattern), steered by the session's PTZ
// head and encoded live with libx264.
class PatternSource : public VideoSource {
  public:
    PatternSource(const SimOptions& options, int channel);

    // Opens the encoder at `size`. False with a reason when libx264 refuses.
    bool Open(PictureSize size, std::string& error);

    PictureSize Size() const override { return m_size; }
    bool NextFrame(EncodedFrame& out, std::string& error) override;
    void SetChannel(int channel) override;
    void RequestKeyFrame() override { m_forceKey = true; }
    bool Resize(PictureSize size, std::string& error) override { return Open(size, error); }
    bool SwitchCodec(std::string& error) override;
    PtzState* Ptz() override { return &m_ptz; }

  private:
    const SimOptions& m_options;
    int m_channel;
    PictureSize m_size;
    std::unique_ptr<TestPattern> m_pattern;
    PtzState m_ptz;
    H264Encoder m_encoder;
    YuvPicture m_picture;
    uint64_t m_frameNumber = 0;  // frames made on this session, shown in the picture
    bool m_h265 = false;         // --codec, until switched
    bool m_forceKey = false;
};

// Video of a recorded H.264 clip (--file), sent access unit by access unit and
// looping from its first key frame. The picture cannot react to PTZ; a channel
// switch only restarts the stream at the next key frame.
class ClipSource : public VideoSource {
  public:
    explicit ClipSource(std::shared_ptr<const AnnexBClip> clip);

    PictureSize Size() const override { return m_clip->Size(); }
    bool NextFrame(EncodedFrame& out, std::string& error) override;
    void SetChannel(int) override { m_skipToKey = true; }
    void RequestKeyFrame() override { m_skipToKey = true; }
    bool Resize(PictureSize, std::string& error) override;
    bool SwitchCodec(std::string& error) override {
        error = "a recorded clip cannot change codec";
        return false;
    }
    PtzState* Ptz() override { return nullptr; }

  private:
    std::shared_ptr<const AnnexBClip> m_clip;
    size_t m_next;  // index of the unit sent next
    bool m_skipToKey = false;
};

}  // namespace kavrel::sim
