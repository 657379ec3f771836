#include "app/COrvaneApp.h"

#include "app/COrvaneDlg.h"
#include "app/SessionRecording.h"
#include "app/SingleInstance.h"
#include "config/ConfigStore.h"
#include "protocol/CTCPClient_CE.h"

namespace kavrel {

COrvaneApp::COrvaneApp(int& argc, char** argv) : QApplication(argc, argv) {
    // The desktop finds the menu entry and icon by this name (the Wayland
    // application id), as the installed org.kavrel.Kavrel.desktop is called.
    setDesktopFileName(QString::fromLatin1(kDesktopFileId));
}

COrvaneApp* COrvaneApp::Instance() {
    return qobject_cast<COrvaneApp*>(QCoreApplication::instance());
}

int COrvaneApp::Run(const CommandLine& options) {
    SingleInstance instance(applicationFilePath());
    if (instance.Claim() == SingleInstance::Outcome::OtherRaised)
        return 0;

    PrepareConfigFile();
    COrvaneDlg window(m_settingsLabels);
    instance.SetWindow(&window);
    window.Initialise();
    window.ApplyStartOptions(options);
    window.exec();
    instance.SetWindow(nullptr);
    // The window's sessions have gone; their clips are still being closed.
    SessionRecording::WaitForClosingFiles(std::chrono::seconds(30));
    // And the last requests of their connections are still on their way.
    CTCPClient_CE::WaitForClosingSockets(std::chrono::seconds(1));
    return 0;
}

}  // namespace kavrel
