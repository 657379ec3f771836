// Capture and full screen: the snapshot command with its honest status text,
// and the full-screen view with its saved rectangles. User-interface thread.

#include <QMouseEvent>

#include "app/COrvaneDlg.h"
#include "platform/DebugSink.h"
#include "skin/CSkinButton.h"
#include "skin/CSkinStatic.h"
#include "video/CVideoAtom.h"

namespace kavrel {
namespace {

// Where channel buttons wait while full screen shows: out of sight, with no
// size, but with their visibility (the channel page) untouched.
constexpr QPoint kParkedPosition{1000, 1000};

}  // namespace

void COrvaneDlg::OnCapture() {
    DebugOutput("Capture\n");
    m_session->Capture();
}

void COrvaneDlg::OnFullScreen() {
    DebugOutput("Fullscreen\n");
    // Entering needs a picture; leaving never does, so a connection that
    // drops in full screen cannot keep the user from the buttons.
    if (!m_fullScreen && !m_session->VideoReceived())
        return;
    SetFullScreenView(!m_fullScreen);
}

void COrvaneDlg::OnVideoTapped() {
    if (m_fullScreen)
        OnFullScreen();
}

void COrvaneDlg::mousePressEvent(QMouseEvent* event) {
    if (m_fullScreen) {
        event->accept();
        OnFullScreen();
        return;
    }
    CSkinDialog::mousePressEvent(event);
}

void COrvaneDlg::SetFullScreenView(bool on) {
    if (!m_videoWindow)
        return;
    // The title, both exit buttons, the command and camera buttons and the
    // status line; the channel buttons are parked instead (their visibility is
    // the channel page).
    const bool showControls = !on;
    if (m_titleLabel)
        m_titleLabel->setVisible(showControls);
    for (int id = control::kTitleExit; id <= control::kLastPtz; ++id) {
        if (CSkinButton* button = Button(id))
            button->setVisible(showControls);
    }
    if (m_statusLine) {
        m_statusLine->setVisible(showControls);
        m_statusLine->update();
    }

    if (on) {
        for (size_t index = 0; index < m_channelButtons.size(); ++index) {
            CSkinButton* button = m_channelButtons[index];
            m_savedChannelRects[index] = button ? button->geometry() : QRect();
            if (button)
                button->setGeometry(QRect(kParkedPosition, QSize(0, 0)));
        }
        // The window is the program's screen: the video window (created last,
        // so on top) covers it.
        m_videoWindow->setGeometry(rect());
    } else {
        for (size_t index = 0; index < m_channelButtons.size(); ++index) {
            if (CSkinButton* button = m_channelButtons[index])
                button->setGeometry(m_savedChannelRects[index]);
        }
        m_videoWindow->setGeometry(m_videoWindowRect);
    }
    m_fullScreen = on;
    m_videoWindow->SetFullScreen(on);
    update();
}

}  // namespace kavrel
