#pragma once
// The digital zoom of one video window: how far it is zoomed in (1x to 8x in
// ten steps of 8^(1/9), about 1.26x, so that 2x, 4x and 8x are exact) and
// which part of the picture it shows. The part is a ViewRect, in fractions
// of the picture, so it stays the same part through a resize, full screen
// and a new stream size; it always lies inside the picture.
//
// Pointer positions and movements come in fractions of the part shown, along
// the upright picture's axes (the window turns them back when it shows the
// picture turned). User-interface thread (a plain value, no locking).

#include <string>

#include "video/SampledConversion.h"

namespace kavrel {

class DigitalZoom {
  public:
    static constexpr int kMaxLevel = 9;  // 8x

    int Level() const { return m_level; }
    bool IsZoomed() const { return m_level > 0; }
    double Factor() const { return FactorOf(m_level); }
    // The part of the picture shown.
    ViewRect Part() const;

    // `steps` levels in (positive) or out, keeping the picture's point under
    // the pointer where it is: (atX, atY) is the pointer in fractions (0 to 1)
    // of the part shown. False when the level stays (already at 1x or 8x).
    bool ZoomAt(int steps, double atX, double atY);
    // Moves the picture with the pointer: (dx, dy) is the pointer's movement
    // in fractions of the part shown. The part stops at the picture's edges.
    // False when nothing moved.
    bool PanBy(double dx, double dy);
    void Reset();

    // "2.5x", "8x": the factor to one decimal, shown while zoomed.
    std::string BadgeText() const;

    static double FactorOf(int level);

  private:
    int m_level = 0;
    // The part's top-left corner, in 1/kViewUnit of the picture; kept inside
    // the picture for the part's size at m_level.
    double m_x = 0;
    double m_y = 0;
    void Clamp();
};

}  // namespace kavrel
