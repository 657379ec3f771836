#pragma once
// Video of a recorded H.264 clip (--file), sent access unit by access unit and
// looping from its first key frame. The picture cannot react to PTZ; a channel
// switch only restarts the stream at the next key frame.

#include <memory>

#include "tools/sim/AnnexBClip.h"
#include "tools/sim/VideoSource.h"

namespace kavrel::sim {

class ClipSource : public VideoSource {
  public:
    explicit ClipSource(std::shared_ptr<const AnnexBClip> clip);

    PictureSize Size() const override { return m_clip->Size(); }
    bool NextFrame(EncodedFrame& out, std::string& error) override;
    void SetChannel(int) override { m_skipToKey = true; }
    void RequestKeyFrame() override { m_skipToKey = true; }
    bool Resize(PictureSize, std::string& error) override;
    PtzState* Ptz() override { return nullptr; }

  private:
    std::shared_ptr<const AnnexBClip> m_clip;
    size_t m_next;  // index of the unit sent next
    bool m_skipToKey = false;
};

}  // namespace kavrel::sim
