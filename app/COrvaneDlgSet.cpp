// The settings command (207): runs the settings dialog over the main window
// and, when it ends with OK, takes the server back and reconnects to it.
// User-interface thread only.

#include "app/COrvaneDlg.h"
#include "platform/DebugSink.h"
#include "platform/DecimalValue.h"
#include "settings/ui/CSetDialog.h"

namespace kavrel {

void COrvaneDlg::OnSet() {
    DebugOutput("Set\n");

    // The dialog is handed the settings channel, not the channel being
    // viewed: it is what the dialog gave back last time (0 at start).
    CSetDialog dialog(m_settingsLabels, this);
    dialog.SetCurrent(ServerSettings{m_address, m_port, m_userName, m_password, m_settingsChannel});
    if (dialog.exec() != QDialog::Accepted)
        return;  // Cancel: nothing here changes (the dialog stored its history)

    const ServerSettings& chosen = dialog.current();
    m_variant = ProtocolVariant::Current;
    m_address = chosen.address;
    m_port = chosen.port;
    m_userName = chosen.userName;
    m_password = chosen.password;
    m_settingsChannel = chosen.channel;  // -1 when the dialog chose none
    ShowFirstChannelPage();
    Disconnect();
    SetPlayFace(ConnectAndLogin(m_address, DecimalValue(m_port), m_settingsChannel, m_userName,
                                m_password));
}

}  // namespace kavrel
