#pragma once
// The simulated camera head of one session: PTZ commands start a movement or
// an adjustment that goes on frame after frame until a stop command (code 0),
// as a real head keeps turning while the button is held. Owned by its session
// thread.

#include <cstdint>

#include "tools/sim/TestPattern.h"

namespace kavrel::sim {

// "left", "zoom in", ...; "stop" for 0; "unknown" for codes the protocol lacks.
const char* PtzCommandName(uint8_t code);

class PtzState {
  public:
    // Movement speeds scale with the picture: a pan crosses a fiftieth of the
    // width per frame.
    PtzState(int width, int height);

    // Starts the command's movement, replacing the one in progress; code 0
    // stops. False (and no change) for an unknown code.
    bool Command(uint8_t code);
    // Advances the running movement by one frame.
    void Step();
    // Home position, nothing running.
    void Reset();

    uint8_t Running() const { return m_running; }
    const ViewState& View() const { return m_view; }

    // Limits: the view stays within one picture of home, zoom within these.
    static constexpr double kMinZoom = 0.5;
    static constexpr double kMaxZoom = 8.0;
    static constexpr int kMaxFocusOffset = 12;
    static constexpr double kMinBrightness = 0.2;
    static constexpr double kMaxBrightness = 2.0;

  private:
    int m_width;
    int m_height;
    uint8_t m_running = 0;
    int m_focusOffset = 0;  // 0 is sharp; blur radius is half its size
    ViewState m_view;
};

}  // namespace kavrel::sim
