#include "app/COrvaneApp.h"

#include "app/COrvaneDlg.h"
#include "app/ExitSignals.h"
#include "app/SessionRecording.h"
#include "app/SingleInstance.h"
#include "config/ConfigStore.h"
#include "platform/DebugSink.h"
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
    auto window = std::make_unique<COrvaneDlg>(m_settingsLabels);
    instance.SetWindow(window.get());
    window->Initialise();
    window->ApplyStartOptions(options);
    // The instance's lock outlives the window: a second start meanwhile
    // finds this one still running instead of starting beside it.
    connect(window.get(), &QObject::destroyed, this, [&instance] { instance.SetWindow(nullptr); });
    RunWindow(std::move(window));
    return 0;
}

void COrvaneApp::RunWindow(std::unique_ptr<COrvaneDlg> window,
                           std::chrono::milliseconds closingLimit) {
    ExitSignals endSignals;
    connect(&endSignals, &ExitSignals::requested, window.get(), [&window](int number) {
        DebugOutput("Exit signal " + std::to_string(number) + "\n");
        window->EndWithoutAsking();
    });
    window->exec();
    // The sessions end with the window, and only then do their recordings'
    // files start closing: the wait comes after.
    window.reset();
    SessionRecording::WaitForClosingFiles(closingLimit);
    // And the last requests of their connections are still on their way.
    CTCPClient_CE::WaitForClosingSockets(std::chrono::seconds(1));
}

}  // namespace kavrel
