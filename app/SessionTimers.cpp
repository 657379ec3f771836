#include "app/SessionTimers.h"

namespace kavrel {

SessionTimers::SessionTimers() {
    m_entries[0].id = kPtzStop;
    m_entries[1].id = kLoginTimeout;
    m_entries[2].id = kVideoWatchdog;
    for (Entry& entry : m_entries) {
        entry.timer.setSingleShot(true);
        entry.timer.setTimerType(Qt::PreciseTimer);
        const int id = entry.id;
        QObject::connect(&entry.timer, &QTimer::timeout, [this, id] {
            if (m_handler)
                m_handler(id);
        });
    }
    SetInterval(kPtzStop, kPtzStopInterval);
    SetInterval(kLoginTimeout, kLoginTimeoutInterval);
    SetInterval(kVideoWatchdog, kVideoWatchdogInterval);
}

SessionTimers::Entry* SessionTimers::Find(int id) {
    for (Entry& entry : m_entries) {
        if (entry.id == id)
            return &entry;
    }
    return nullptr;
}

const SessionTimers::Entry* SessionTimers::Find(int id) const {
    return const_cast<SessionTimers*>(this)->Find(id);
}

void SessionTimers::SetInterval(int id, std::chrono::milliseconds interval) {
    if (Entry* entry = Find(id))
        entry->interval = interval;
}

std::chrono::milliseconds SessionTimers::Interval(int id) const {
    const Entry* entry = Find(id);
    return entry ? entry->interval : std::chrono::milliseconds(0);
}

void SessionTimers::Arm(int id) {
    if (Entry* entry = Find(id))
        entry->timer.start(entry->interval);  // restarts a running timer
}

void SessionTimers::ArmFor(int id, std::chrono::milliseconds interval) {
    if (Entry* entry = Find(id))
        entry->timer.start(interval);
}

void SessionTimers::Cancel(int id) {
    if (Entry* entry = Find(id))
        entry->timer.stop();
}

bool SessionTimers::IsArmed(int id) const {
    const Entry* entry = Find(id);
    return entry && entry->timer.isActive();
}

void SessionTimers::CancelAll() {
    for (Entry& entry : m_entries)
        entry.timer.stop();
}

}  // namespace kavrel
