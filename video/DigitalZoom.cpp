#include "video/DigitalZoom.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kavrel {
namespace {

// The part's side at a level, in 1/kViewUnit of the picture's side.
int32_t SideOf(int level) {
    return int32_t(std::lround(kViewUnit / DigitalZoom::FactorOf(level)));
}

}  // namespace

double DigitalZoom::FactorOf(int level) {
    return std::pow(8.0, double(level) / kMaxLevel);
}

ViewRect DigitalZoom::Part() const {
    const int32_t side = SideOf(m_level);
    return ViewRect{int32_t(std::lround(m_x)), int32_t(std::lround(m_y)), side, side}.Clamped();
}

bool DigitalZoom::ZoomAt(int steps, double atX, double atY) {
    const int level = std::clamp(m_level + steps, 0, kMaxLevel);
    if (level == m_level)
        return false;
    atX = std::clamp(atX, 0.0, 1.0);
    atY = std::clamp(atY, 0.0, 1.0);
    const double before = SideOf(m_level);
    const double after = SideOf(level);
    // The point under the pointer, then the new part placed round it.
    m_x = m_x + atX * before - atX * after;
    m_y = m_y + atY * before - atY * after;
    m_level = level;
    Clamp();
    return true;
}

bool DigitalZoom::PanBy(double dx, double dy) {
    const ViewRect before = Part();
    const double side = SideOf(m_level);
    m_x -= dx * side;
    m_y -= dy * side;
    Clamp();
    return Part() != before;
}

void DigitalZoom::Reset() {
    m_level = 0;
    m_x = 0;
    m_y = 0;
}

std::string DigitalZoom::BadgeText() const {
    char text[16];
    const double tenths = std::round(Factor() * 10.0);
    if (std::fmod(tenths, 10.0) == 0.0)
        std::snprintf(text, sizeof text, "%dx", int(tenths / 10.0));
    else
        std::snprintf(text, sizeof text, "%.1fx", tenths / 10.0);
    return text;
}

void DigitalZoom::Clamp() {
    const double room = kViewUnit - SideOf(m_level);
    m_x = std::clamp(m_x, 0.0, room);
    m_y = std::clamp(m_y, 0.0, room);
}

}  // namespace kavrel
