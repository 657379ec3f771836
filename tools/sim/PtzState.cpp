#include "tools/sim/PtzState.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "protocol/WireFormat.h"

namespace kavrel::sim {

const char* PtzCommandName(uint8_t code) {
    switch (code) {
        case wire::kPtzStop:
            return "stop";
        case wire::kPtzZoomOut:
            return "zoom out";
        case wire::kPtzZoomIn:
            return "zoom in";
        case wire::kPtzFocusAdd:
            return "focus +";
        case wire::kPtzFocusSub:
            return "focus -";
        case wire::kPtzUp:
            return "up";
        case wire::kPtzDown:
            return "down";
        case wire::kPtzLeft:
            return "left";
        case wire::kPtzRight:
            return "right";
        case wire::kPtzIrisAdd:
            return "iris +";
        case wire::kPtzIrisSub:
            return "iris -";
        default:
            return "unknown";
    }
}

PtzState::PtzState(int width, int height) : m_width(width), m_height(height) {}

bool PtzState::Command(uint8_t code) {
    if (std::string_view(PtzCommandName(code)) == "unknown")
        return false;
    m_running = code;
    return true;
}

void PtzState::Reset() {
    m_running = 0;
    m_focusOffset = 0;
    m_view = ViewState{};
}

void PtzState::Step() {
    // Pan and tilt move the picture by a constant amount on screen, whatever the zoom.
    const double step = std::max(1.0, m_width / 50.0) / m_view.zoom;
    switch (m_running) {
        case wire::kPtzLeft:
            m_view.pan -= step;
            break;
        case wire::kPtzRight:
            m_view.pan += step;
            break;
        case wire::kPtzUp:
            m_view.tilt -= step;
            break;
        case wire::kPtzDown:
            m_view.tilt += step;
            break;
        case wire::kPtzZoomIn:
            m_view.zoom *= 1.04;
            break;
        case wire::kPtzZoomOut:
            m_view.zoom /= 1.04;
            break;
        case wire::kPtzFocusAdd:
            ++m_focusOffset;
            break;
        case wire::kPtzFocusSub:
            --m_focusOffset;
            break;
        case wire::kPtzIrisAdd:
            m_view.brightness += 0.03;
            break;
        case wire::kPtzIrisSub:
            m_view.brightness -= 0.03;
            break;
        default:
            return;
    }
    m_view.pan = std::clamp(m_view.pan, -double(m_width), double(m_width));
    m_view.tilt = std::clamp(m_view.tilt, -double(m_height), double(m_height));
    m_view.zoom = std::clamp(m_view.zoom, kMinZoom, kMaxZoom);
    m_focusOffset = std::clamp(m_focusOffset, -kMaxFocusOffset, kMaxFocusOffset);
    m_view.blur = std::abs(m_focusOffset) / 2;
    m_view.brightness = std::clamp(m_view.brightness, kMinBrightness, kMaxBrightness);
}

}  // namespace kavrel::sim
