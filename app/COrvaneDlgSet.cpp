// The settings command (207). Its body belongs with the settings dialog: it
// runs the dialog and reconnects through ConnectAndLogin, Disconnect and
// SetPlayFace.

#include "app/COrvaneDlg.h"
#include "platform/DebugSink.h"

namespace kavrel {

void COrvaneDlg::OnSet() {
    DebugOutput("Set\n");
}

}  // namespace kavrel
