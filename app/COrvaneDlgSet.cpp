// The settings command (207): runs the settings dialog over the main window
// and, when it ends with OK, takes the server back and reconnects to it.
// User-interface thread only.

#include "app/COrvaneDlg.h"
#include "platform/DebugSink.h"
#include "settings/ui/CSetDialog.h"

namespace kavrel {

void COrvaneDlg::OnSet() {
    DebugOutput("Set\n");

    // The dialog is handed the settings channel, not the channel being
    // viewed: it is what the dialog gave back last time (0 at start).
    CSetDialog dialog(m_settingsLabels, this);
    ServerSettings current = m_session->Server();
    current.channel = m_settingsChannel;
    dialog.SetCurrent(current);
    if (dialog.exec() != QDialog::Accepted)
        return;  // Cancel: nothing here changes (the dialog stored its history)

    const ServerSettings& chosen = dialog.current();
    // Another server: the single view watches it.
    CloseWallView();
    m_lastWall.reset();
    m_session->SetVariant(ProtocolVariant::Current);
    m_session->SetServer(chosen);
    m_settingsChannel = chosen.channel;  // -1 when the dialog chose none
    ShowFirstChannelPage();
    // The old session ends ("connect_break") and the chosen server is watched.
    m_session->Stop();
    m_session->Start(m_settingsChannel);
    UpdateIdleLine();
    UpdateSteering();
}

}  // namespace kavrel
