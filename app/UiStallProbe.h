#pragma once
// Measures how long the user-interface thread stops answering: a 10 ms timer
// runs on it, and each expiry records how late it came. A frozen window (a
// blocking connect, a slow file write) shows as a lateness of about the
// freeze. For tests and benches; the product never runs one.
//
// Thread: the thread that made the object (the user-interface thread).

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <chrono>

namespace kavrel {

class UiStallProbe : public QObject {
    Q_OBJECT

  public:
    static constexpr std::chrono::milliseconds kInterval{10};

    explicit UiStallProbe(QObject* parent = nullptr);

    // Forgets what was measured and starts measuring afresh.
    void Reset();
    // The largest lateness of a tick since the last Reset.
    std::chrono::milliseconds MaxLateness() const { return m_maxLateness; }

  private:
    void OnTick();

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastTickMs = 0;
    std::chrono::milliseconds m_maxLateness{0};
};

}  // namespace kavrel
