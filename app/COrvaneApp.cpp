#include "app/COrvaneApp.h"

#include "app/COrvaneDlg.h"
#include "app/SingleInstance.h"

namespace kavrel {

COrvaneApp::COrvaneApp(int& argc, char** argv) : QApplication(argc, argv) {}

COrvaneApp* COrvaneApp::Instance() {
    return qobject_cast<COrvaneApp*>(QCoreApplication::instance());
}

int COrvaneApp::Run(const CommandLine& options) {
    SingleInstance instance(applicationFilePath());
    if (instance.Claim() == SingleInstance::Outcome::OtherRaised)
        return 0;

    COrvaneDlg window(m_settingsLabels);
    instance.SetWindow(&window);
    window.Initialise();
    window.ApplyStartOptions(options);
    window.exec();
    instance.SetWindow(nullptr);
    return 0;
}

}  // namespace kavrel
