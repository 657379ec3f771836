#pragma once
// Hides the mouse pointer over a window after a while without movement, as a
// monitor shows none, and shows it again at the next movement, press or
// wheel turn. While on it watches the application's mouse events (an
// application filter sees moves over widgets without mouse tracking too), so
// the video window and every wall tile count without tracking of their own.
// User-interface thread only.

#include <QObject>
#include <QTimer>
#include <chrono>

class QWidget;

namespace kavrel {

class PointerHider : public QObject {
    Q_OBJECT

  public:
    static constexpr std::chrono::milliseconds kIdleTime{3000};

    // `window` (the parent) is the widget whose pointer hides, children included.
    explicit PointerHider(QWidget* window);
    ~PointerHider() override;

    // On: the pointer hides after the idle time from now. Off: it shows and stays.
    void SetActive(bool on);
    bool Active() const { return m_active; }
    // Tests shorten the idle time.
    void SetIdleTime(std::chrono::milliseconds time) { m_idle.setInterval(time); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Hide();
    void Show();

    QWidget* m_window;  // the parent
    QTimer m_idle;
    bool m_active = false;
    bool m_hidden = false;
};

}  // namespace kavrel
