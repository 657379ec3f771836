#include "app/COrvaneApp.h"

#include "app/COrvaneDlg.h"
#include "app/ExitSignals.h"
#include "app/MainWindows.h"
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

int COrvaneApp::Run(const CommandLine& options, const std::vector<std::string>& arguments) {
    SingleInstance instance(applicationFilePath());
    if (instance.Claim(arguments) == SingleInstance::Outcome::OtherRaised)
        return 0;

    PrepareConfigFile();
    MainWindows windows(m_settingsLabels);
    windows.Open(options);
    instance.SetHandler(
        [&windows](const std::vector<std::string>& forwarded) { windows.OnForwarded(forwarded); });
    // The instance's lock outlives the windows: a second start meanwhile
    // finds this one still running instead of starting beside it.
    connect(windows.Main(), &QObject::destroyed, this, [&instance] { instance.SetHandler({}); });
    RunWindows(windows);
    return 0;
}

void COrvaneApp::RunWindows(MainWindows& windows, std::chrono::milliseconds closingLimit) {
    COrvaneDlg* main = windows.Main();
    ExitSignals endSignals;
    connect(&endSignals, &ExitSignals::requested, main, [main](int number) {
        DebugOutput("Exit signal " + std::to_string(number) + "\n");
        main->EndWithoutAsking();
    });
    // Modal to nothing beside it: the windows on the other monitors take
    // their own input while the main window's run goes on.
    main->setWindowModality(Qt::WindowModal);
    main->exec();
    // As RunWindow: every window's sessions end, then their files are waited for.
    windows.CloseAll();
    SessionRecording::WaitForClosingFiles(closingLimit);
    CTCPClient_CE::WaitForClosingSockets(std::chrono::seconds(1));
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
