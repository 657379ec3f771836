// The session controller's commands of the main window. These bodies only
// write the commands' debug lines; the session controller replaces them with
// the sessions's behaviour (connect, PTZ, channels, capture, full screen,
// settings) and ShutdownSession with the ending of a running session.

#include "app/COrvaneDlg.h"
#include "platform/DebugSink.h"

namespace kavrel {

void COrvaneDlg::OnPlay() {
    DebugOutput("Play\n");
}

void COrvaneDlg::OnCapture() {}

void COrvaneDlg::OnFullScreen() {
    DebugOutput("Fullscreen\n");
}

void COrvaneDlg::OnSet() {
    DebugOutput("Set\n");
}

void COrvaneDlg::OnPtz(int id) {
    DebugPrintf("%d\n", id);
}

void COrvaneDlg::OnChannel(int id) {
    DebugPrintf("-------------------%d\n", id);
}

void COrvaneDlg::ShutdownSession() {}

}  // namespace kavrel
