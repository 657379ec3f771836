#include "app/UiStallProbe.h"

#include <algorithm>

namespace kavrel {

UiStallProbe::UiStallProbe(QObject* parent) : QObject(parent) {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kInterval);
    connect(&m_timer, &QTimer::timeout, this, &UiStallProbe::OnTick);
    Reset();
    m_timer.start();
}

void UiStallProbe::Reset() {
    m_clock.start();
    m_lastTickMs = 0;
    m_maxLateness = std::chrono::milliseconds(0);
}

void UiStallProbe::OnTick() {
    const qint64 now = m_clock.elapsed();
    const auto late = std::chrono::milliseconds(now - m_lastTickMs) - kInterval;
    m_maxLateness = std::max(m_maxLateness, late);
    m_lastTickMs = now;
}

}  // namespace kavrel
