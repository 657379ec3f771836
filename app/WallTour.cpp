#include "app/WallTour.h"

#include <algorithm>

#include "config/Localisation.h"
#include "settings/WallView.h"

namespace kavrel {

WallTour::WallTour(QObject* parent) : QObject(parent) {
    m_stepTimer.setTimerType(Qt::PreciseTimer);
    m_pauseTimer.setTimerType(Qt::PreciseTimer);
    m_stepTimer.setInterval(m_interval);
    m_pauseTimer.setSingleShot(true);
    connect(&m_stepTimer, &QTimer::timeout, this, &WallTour::Step);
    connect(&m_pauseTimer, &QTimer::timeout, this, &WallTour::Resume);
}

void WallTour::SetViews(std::vector<int> filled) {
    std::erase_if(filled, [](int slot) { return slot < 1 || slot > kNamedViews; });
    std::sort(filled.begin(), filled.end());
    filled.erase(std::unique(filled.begin(), filled.end()), filled.end());
    m_views = std::move(filled);
}

void WallTour::SetCurrentView(int slot) {
    m_current = slot >= 1 && slot <= kNamedViews ? slot : 0;
}

void WallTour::SetInterval(std::chrono::milliseconds interval) {
    m_interval = interval.count() > 0 ? interval : kDefaultInterval;
    m_stepTimer.setInterval(m_interval);  // restarts a running timer
}

void WallTour::SetPauseLength(std::chrono::milliseconds pause) {
    m_pause = pause.count() > 0 ? pause : kDefaultPause;
}

void WallTour::Start() {
    if (m_state != State::Stopped)
        return;
    m_stepTimer.start(m_interval);
    SetState(State::Running);
}

void WallTour::Stop() {
    if (m_state == State::Stopped)
        return;
    m_stepTimer.stop();
    m_pauseTimer.stop();
    SetState(State::Stopped);
}

void WallTour::UserActed() {
    if (m_state == State::Stopped)
        return;
    m_stepTimer.stop();
    m_pauseTimer.start(m_pause);
    SetState(State::Paused);
}

std::chrono::milliseconds WallTour::PauseRemaining() const {
    if (m_state != State::Paused)
        return std::chrono::milliseconds(0);
    return std::max(std::chrono::milliseconds(0), m_pauseTimer.remainingTimeAsDuration());
}

void WallTour::Resume() {
    m_stepTimer.start(m_interval);
    SetState(State::Running);
}

void WallTour::Step() {
    if (m_views.empty()) {
        emit nextPage();
        return;
    }
    // The first saved slot after the one on screen, round to the first.
    const auto next = std::upper_bound(m_views.begin(), m_views.end(), m_current);
    const int slot = next != m_views.end() ? *next : m_views.front();
    if (slot == m_current)
        return;
    m_current = slot;
    emit showView(slot);
}

void WallTour::SetState(State state) {
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged(state);
}

QString TourStatusText(WallTour::State state, std::chrono::milliseconds interval,
                       const std::function<QString(std::u16string_view)>& text) {
    switch (state) {
        case WallTour::State::Running: {
            const auto seconds = std::chrono::round<std::chrono::seconds>(interval).count();
            return FillNumber(text(u"tour_running"), int(std::max<long long>(1, seconds)));
        }
        case WallTour::State::Paused:
            return text(u"tour_paused");
        case WallTour::State::Stopped:
            break;
    }
    return text(u"tour_stopped");
}

}  // namespace kavrel
