// The keyboard, after video players' habits, and the buttons' tooltips that
// name each key. Every key runs what its button runs; the camera keys move
// the camera while held (press: stop then the command; release: the stop).
// Auto-repeated presses are ignored, so a held key sends its command once.
//
// A held key always ends in a stop: at its release (after kKeyReleaseGrace,
// so that an auto-repeat's release and press that reach a busy client
// unmarked continue the hold), and at once when the window loses focus or
// any command, view, selection or page change comes first.
// User-interface thread only.

#include <QKeyEvent>
#include <array>

#include "app/COrvaneDlg.h"
#include "skin/CSkinButton.h"

namespace kavrel {
namespace {

// The keys that stand for a button's command.
struct CommandKey {
    int key;
    Qt::KeyboardModifiers modifiers;
    int command;
};
constexpr std::array<CommandKey, 7> kCommandKeys = {{
    {Qt::Key_Space, Qt::NoModifier, control::kPlay},
    {Qt::Key_S, Qt::NoModifier, control::kCapture},
    {Qt::Key_F, Qt::NoModifier, control::kFullScreen},
    {Qt::Key_F11, Qt::NoModifier, control::kFullScreen},
    {Qt::Key_PageDown, Qt::NoModifier, control::kSwitch},
    {Qt::Key_Comma, Qt::ControlModifier, control::kSet},
    {Qt::Key_Q, Qt::ControlModifier, control::kExit},
}};

// The camera keys; `=` is the unshifted `+` of most keyboards.
struct PtzKey {
    int key;
    int command;
};
constexpr std::array<PtzKey, 7> kPtzKeys = {{
    {Qt::Key_Up, control::kPtzUp},
    {Qt::Key_Down, control::kPtzDown},
    {Qt::Key_Left, control::kPtzLeft},
    {Qt::Key_Right, control::kPtzRight},
    {Qt::Key_Plus, control::kPtzZoomIn},
    {Qt::Key_Equal, control::kPtzZoomIn},
    {Qt::Key_Minus, control::kPtzZoomOut},
}};

// Keypad and Shift do not change what a key means here.
Qt::KeyboardModifiers Significant(Qt::KeyboardModifiers modifiers) {
    return modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
}

int PtzCommandOf(int key) {
    for (const PtzKey& binding : kPtzKeys) {
        if (binding.key == key)
            return binding.command;
    }
    return 0;
}

// The tooltip's text key and the key it names, per button id.
struct ButtonTip {
    int id;
    const char16_t* text;
    const char* key;  // empty: no key
};
constexpr std::array<ButtonTip, 17> kButtonTips = {{
    {control::kTitleExit, u"cmd_exit", "Ctrl+Q"},
    {control::kPlay, u"cmd_play", "Space"},
    {control::kCapture, u"cmd_capture", "S"},
    {control::kFullScreen, u"cmd_fullscreen", "F, F11"},
    {control::kSwitch, u"cmd_switch", "PgDn"},
    {control::kSet, u"cmd_set", "Ctrl+,"},
    {control::kExit, u"cmd_exit", "Ctrl+Q"},
    {control::kPtzLeft, u"ptz_left", "\u2190"},
    {control::kPtzRight, u"ptz_right", "\u2192"},
    {control::kPtzUp, u"ptz_up", "\u2191"},
    {control::kPtzDown, u"ptz_down", "\u2193"},
    {control::kPtzZoomIn, u"ptz_zoom_in", "+"},
    {control::kPtzZoomOut, u"ptz_zoom_out", "-"},
    {control::kPtzIrisAdd, u"ptz_iris_add", ""},
    {control::kPtzIrisSub, u"ptz_iris_sub", ""},
    {control::kPtzFocusAdd, u"ptz_focus_add", ""},
    {control::kPtzFocusSub, u"ptz_focus_sub", ""},
}};

QString WithKey(const QString& text, const QString& key) {
    return key.isEmpty() ? text : text + QStringLiteral(" (") + key + QLatin1Char(')');
}

}  // namespace

void COrvaneDlg::SetToolTips() {
    for (const ButtonTip& tip : kButtonTips) {
        if (CSkinButton* button = Button(tip.id))
            button->setToolTip(WithKey(LoadText(tip.text), QString::fromUtf8(tip.key)));
    }
    const QString channelText = LoadText(u"cmd_channel");
    for (int index = 0; index < control::kChannelButtons; ++index) {
        const QString text = FillNumber(channelText, index + 1);
        // Keys 1 to 9 and 0 choose channels 1 to 10.
        const QString key = index < 10 ? QString::number((index + 1) % 10) : QString();
        m_channelButtons[size_t(index)]->setToolTip(WithKey(text, key));
    }
}

void COrvaneDlg::keyPressEvent(QKeyEvent* event) {
    if (!m_initialised) {
        CSkinDialog::keyPressEvent(event);
        return;
    }
    event->accept();
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = Significant(event->modifiers());
    if (m_releaseGrace.isActive() && !m_heldByMouse && modifiers == Qt::NoModifier &&
        PtzCommandOf(key) == m_heldPtz) {
        // The release just before was the keyboard's repeat: still held.
        m_releaseGrace.stop();
        return;
    }
    if (event->isAutoRepeat())
        return;

    for (const CommandKey& binding : kCommandKeys) {
        if (binding.key == key && binding.modifiers == modifiers) {
            OnCommand(binding.command);
            return;
        }
    }
    // Ctrl+1..9 saves the view shown, Alt+1..9 shows a saved one: the plain
    // digits stay the channels.
    if (key >= Qt::Key_1 && key <= Qt::Key_9 &&
        (modifiers == Qt::ControlModifier || modifiers == Qt::AltModifier)) {
        if (modifiers == Qt::ControlModifier)
            SaveView(key - Qt::Key_0);
        else
            RecallView(key - Qt::Key_0);
        return;
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F9 && modifiers == Qt::NoModifier) {
        OnPresetKey(key - Qt::Key_F1, event->modifiers().testFlag(Qt::ShiftModifier));
        return;
    }
    if (modifiers != Qt::NoModifier) {
        event->ignore();
        return;
    }
    if (const int ptz = PtzCommandOf(key)) {
        OnPtzDown(ptz, false);
    } else if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        OnChannelKey(key == Qt::Key_0 ? 9 : key - Qt::Key_1);
    } else if (key == Qt::Key_PageUp) {
        OnPreviousPage();
    } else if (key == Qt::Key_R) {
        OnRecordKey(event->modifiers().testFlag(Qt::ShiftModifier));
    } else if (key == Qt::Key_G) {
        ToggleWallView();
    } else if (key == Qt::Key_L) {
        CycleWallLayout();
    } else if (key == Qt::Key_A) {
        ToggleKeepAspect();
    } else if (key == Qt::Key_Z) {
        ResetZoom();
    } else if (key == Qt::Key_I) {
        ToggleStatistics();
    } else if (key == Qt::Key_T) {
        ToggleTour();
    } else if (key == Qt::Key_Escape) {
        // Escape leaves full screen; otherwise it asks to leave, as it did.
        if (m_fullScreen)
            OnCommand(control::kFullScreen);
        else
            reject();
    } else {
        event->ignore();
    }
}

void COrvaneDlg::keyReleaseEvent(QKeyEvent* event) {
    if (event->isAutoRepeat() || m_heldPtz == 0 || m_heldByMouse ||
        PtzCommandOf(event->key()) != m_heldPtz) {
        CSkinDialog::keyReleaseEvent(event);
        return;
    }
    event->accept();
    // A press of the same key within the grace time continues the hold.
    m_releaseGrace.start(kKeyReleaseGrace);
}

bool COrvaneDlg::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::FocusOut:
        case QEvent::WindowDeactivate:
        case QEvent::Hide:
            // The key's release will go to another window, or nowhere.
            ReleaseHeldPtz();
            break;
        default:
            break;
    }
    return CSkinDialog::event(event);
}

void COrvaneDlg::ReleaseHeldPtz() {
    m_releaseGrace.stop();
    if (m_heldPtz == 0)
        return;
    m_heldPtz = 0;
    if (ViewingSession* session = m_heldSession.data())
        session->PtzRelease();
    m_heldSession.clear();
}

void COrvaneDlg::OnChannelKey(int index) {
    if (index >= qMin(m_channelCount, control::kChannelButtons))
        return;  // the server lacks it: its button is hidden
    ShowChannelPage(index / control::kChannelsPerPage * control::kChannelsPerPage);
    OnCommand(control::kFirstChannel + index);
}

}  // namespace kavrel
