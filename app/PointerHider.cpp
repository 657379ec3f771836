#include "app/PointerHider.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace kavrel {

PointerHider::PointerHider(QWidget* window) : QObject(window), m_window(window) {
    m_idle.setSingleShot(true);
    m_idle.setInterval(kIdleTime);
    connect(&m_idle, &QTimer::timeout, this, &PointerHider::Hide);
}

PointerHider::~PointerHider() {
    if (m_active)
        qApp->removeEventFilter(this);
}

void PointerHider::SetActive(bool on) {
    if (on == m_active) {
        if (on)
            m_idle.start();
        return;
    }
    m_active = on;
    if (on) {
        qApp->installEventFilter(this);
        m_idle.start();
    } else {
        qApp->removeEventFilter(this);
        m_idle.stop();
        Show();
    }
}

bool PointerHider::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseMove:
        case QEvent::MouseButtonPress:
        case QEvent::Wheel: {
            // Only the window's own widgets: a menu over it is a window of its own.
            const auto* widget = qobject_cast<const QWidget*>(watched);
            if (widget && (widget == m_window || m_window->isAncestorOf(widget))) {
                Show();
                m_idle.start();
            }
            break;
        }
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

void PointerHider::Hide() {
    if (!m_active || m_hidden)
        return;
    m_hidden = true;
    m_window->setCursor(Qt::BlankCursor);
}

void PointerHider::Show() {
    if (!m_hidden)
        return;
    m_hidden = false;
    m_window->unsetCursor();
}

}  // namespace kavrel
