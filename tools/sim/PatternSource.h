#pragma once
// Video of the generated picture (TestPattern), steered by the session's PTZ
// head and encoded live with libx264.

#include <memory>

#include "tools/sim/H264Encoder.h"
#include "tools/sim/PtzState.h"
#include "tools/sim/TestPattern.h"
#include "tools/sim/VideoSource.h"

namespace kavrel::sim {

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
    bool m_forceKey = false;
};

}  // namespace kavrel::sim
