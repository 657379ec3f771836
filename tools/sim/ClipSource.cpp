#include "tools/sim/ClipSource.h"

namespace kavrel::sim {

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
