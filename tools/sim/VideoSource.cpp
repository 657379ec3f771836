#include "tools/sim/VideoSource.h"

namespace kavrel::sim {

PatternSource::PatternSource(const SimOptions& options, int channel)
    : m_options(options),
      m_channel(channel),
      m_ptz(options.size.width, options.size.height),
      m_h265(options.h265) {}

bool PatternSource::SwitchCodec(std::string& error) {
    m_h265 = !m_h265;
    return Open(m_size, error);
}

bool PatternSource::Open(PictureSize size, std::string& error) {
    H264Encoder::Settings settings;
    settings.width = size.width;
    settings.height = size.height;
    settings.fps = m_options.fps;
    settings.bitRate = m_options.bitRate;
    settings.gop = m_options.gop;
    settings.h265 = m_h265;
    if (!m_encoder.Open(settings, error))
        return false;
    m_size = size;
    m_pattern = std::make_unique<TestPattern>(size.width, size.height);
    m_forceKey = true;
    return true;
}

bool PatternSource::NextFrame(EncodedFrame& out, std::string& error) {
    if (!m_pattern) {
        error = "picture source not opened";
        return false;
    }
    m_ptz.Step();
    m_pattern->Render(m_channel, m_frameNumber++, m_ptz.View(), m_picture);
    const bool forceKey = m_forceKey;
    m_forceKey = false;
    return m_encoder.Encode(m_picture, forceKey, out, error);
}

void PatternSource::SetChannel(int channel) {
    m_channel = channel;
    m_ptz.Reset();
    m_forceKey = true;
}

ClipSource::ClipSource(std::shared_ptr<const AnnexBClip> clip)
    : m_clip(std::move(clip)), m_next(m_clip->FirstKey()) {}

bool ClipSource::NextFrame(EncodedFrame& out, std::string& error) {
    const auto& units = m_clip->Units();
    if (units.empty()) {
        error = "the clip holds no access units";
        return false;
    }
    if (m_skipToKey) {
        // The clip holds a key frame (Load checks), so this ends within one loop.
        while (!units[m_next].key)
            m_next = (m_next + 1) % units.size();
        m_skipToKey = false;
    }
    const AccessUnit& unit = units[m_next];
    const auto bytes = m_clip->Bytes(unit);
    out.bytes.assign(bytes.begin(), bytes.end());
    out.key = unit.key;
    // At the end, start again from the first key frame so the decoder can follow.
    m_next = m_next + 1 < units.size() ? m_next + 1 : m_clip->FirstKey();
    return true;
}

bool ClipSource::Resize(PictureSize, std::string& error) {
    error = "a recorded clip keeps its own size";
    return false;
}

}  // namespace kavrel::sim
