#include "tools/sim/PatternSource.h"

namespace kavrel::sim {

PatternSource::PatternSource(const SimOptions& options, int channel)
    : m_options(options), m_channel(channel), m_ptz(options.size.width, options.size.height) {}

bool PatternSource::Open(PictureSize size, std::string& error) {
    H264Encoder::Settings settings;
    settings.width = size.width;
    settings.height = size.height;
    settings.fps = m_options.fps;
    settings.bitRate = m_options.bitRate;
    settings.gop = m_options.gop;
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

}  // namespace kavrel::sim
