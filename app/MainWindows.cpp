#include "app/MainWindows.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

#include "app/COrvaneDlg.h"
#include "app/SettingsWriter.h"
#include "app/SingleInstance.h"
#include "platform/DebugSink.h"
#include "settings/WindowPlaces.h"

namespace kavrel {
namespace {

// The monitor called `name`; one that is gone (or none named) gives the first.
QScreen* MonitorNamed(const std::u16string& name) {
    const QList<QScreen*> monitors = QGuiApplication::screens();
    for (QScreen* monitor : monitors) {
        if (monitor->name().toStdU16String() == name)
            return monitor;
    }
    if (!name.empty())
        DebugOutput("Monitor " + QString::fromStdU16String(name).toStdString() +
                    " is gone: the first\n");
    return monitors.isEmpty() ? nullptr : monitors.front();
}

std::string MonitorText(const QScreen* monitor) {
    return monitor ? monitor->name().toStdString() : std::string("none");
}

}  // namespace

MainWindows::MainWindows(SettingsLabels& labels, QObject* parent)
    : QObject(parent), m_labels(labels), m_writer(std::make_shared<SettingsWriter>()) {}

MainWindows::~MainWindows() {
    CloseAll();
}

QScreen* MainWindows::MonitorNumbered(int number) {
    const QList<QScreen*> monitors = QGuiApplication::screens();
    if (monitors.isEmpty())
        return nullptr;
    if (number < 1 || number > monitors.size()) {
        DebugOutput("No monitor " + std::to_string(number) + " of " +
                    std::to_string(monitors.size()) + ": the first\n");
        return monitors.front();
    }
    return monitors[number - 1];
}

std::vector<COrvaneDlg*> MainWindows::Windows() const {
    std::vector<COrvaneDlg*> windows;
    if (m_main)
        windows.push_back(m_main.get());
    for (const std::unique_ptr<COrvaneDlg>& window : m_others)
        windows.push_back(window.get());
    return windows;
}

COrvaneDlg* MainWindows::WindowOn(const QScreen* monitor) const {
    for (COrvaneDlg* window : Windows()) {
        if (window->screen() == monitor)
            return window;
    }
    return nullptr;
}

COrvaneDlg& MainWindows::Make(int number, QScreen* monitor) {
    auto window = std::make_unique<COrvaneDlg>(m_labels);
    COrvaneDlg& made = *window;
    made.SetWindowNumber(number);
    made.SetStartMonitor(monitor);
    made.ShareSettingsWriter(m_writer);
    made.Initialise();
    connect(&made, &COrvaneDlg::namedViewSaved, this,
            [this, &made](int slot, const NamedView& view) {
                for (COrvaneDlg* other : Windows()) {
                    if (other != &made)
                        other->TakeNamedView(slot, view);
                }
            });
    if (number == 1) {
        m_main = std::move(window);
        return made;
    }
    // The views the main window knows are the newest (a save may still be
    // on its way to the disk).
    for (int slot = 1; slot <= kNamedViews; ++slot) {
        if (const std::optional<NamedView>& view = m_main->NamedViews()[size_t(slot - 1)])
            made.TakeNamedView(slot, *view);
    }
    connect(&made, &COrvaneDlg::leaveRequested, m_main.get(), &COrvaneDlg::Leave);
    // Queued: the window is inside its own close event.
    connect(
        &made, &COrvaneDlg::closed, this, [this, &made] { OnClosed(&made); }, Qt::QueuedConnection);
    const auto at = std::lower_bound(
        m_others.begin(), m_others.end(), number,
        [](const std::unique_ptr<COrvaneDlg>& w, int n) { return w->WindowNumber() < n; });
    m_others.insert(at, std::move(window));
    return made;
}

COrvaneDlg& MainWindows::Open(const CommandLine& options) {
    CommandLine mainOptions = options;
    QScreen* monitor = nullptr;
    if (options.screen) {
        monitor = MonitorNumbered(*options.screen);
    } else if (const std::optional<WindowPlace> place = LoadWindowPlace(1)) {
        monitor = MonitorNamed(place->monitor);
        mainOptions.fullScreen = mainOptions.fullScreen || place->fullScreen;
    }
    COrvaneDlg& main = Make(1, monitor);
    main.ApplyStartOptions(mainOptions);
    DebugOutput("Window 1 on monitor " + MonitorText(main.screen()) + "\n");
    if (!options.screen) {
        for (int number : LoadOtherWindows()) {
            const WindowPlace place = LoadWindowPlace(number).value_or(WindowPlace{});
            CommandLine restored;
            restored.fullScreen = place.fullScreen;
            OpenOther(number, MonitorNamed(place.monitor), restored, true);
        }
    }
    SaveWindowList();
    return main;
}

COrvaneDlg* MainWindows::OpenOther(int number, QScreen* monitor, const CommandLine& options,
                                   bool restoreStored) {
    COrvaneDlg& window = Make(number, monitor);
    window.ApplyStartOptions(options, restoreStored);
    window.show();
    DebugOutput("Window " + std::to_string(number) + " on monitor " + MonitorText(window.screen()) +
                "\n");
    return &window;
}

void MainWindows::OnForwarded(const std::vector<std::string>& arguments) {
    if (!m_main)
        return;
    // The asking copy checked them: what does not parse is not a request.
    const CommandLine options = ParseCommandLine(arguments);
    COrvaneDlg* target = m_main.get();
    if (options.action == CommandLine::Action::Run && options.screen) {
        QScreen* monitor = MonitorNumbered(*options.screen);
        target = WindowOn(monitor);
        if (!target && int(m_others.size()) + 1 < kMaxMainWindows) {
            int number = 2;
            for (const std::unique_ptr<COrvaneDlg>& window : m_others) {
                if (window->WindowNumber() == number)
                    ++number;
            }
            target = OpenOther(number, monitor, options, false);
            SaveWindowList();
            SingleInstance::Raise(target);
            return;
        }
        if (!target)
            target = m_main.get();
    }
    if (options.action == CommandLine::Action::Run)
        target->ApplyForwardedOptions(options);
    SingleInstance::Raise(target);
}

void MainWindows::OnClosed(COrvaneDlg* window) {
    const auto at =
        std::find_if(m_others.begin(), m_others.end(),
                     [window](const std::unique_ptr<COrvaneDlg>& w) { return w.get() == window; });
    if (at == m_others.end())
        return;
    // Its sessions end here; their clips finish on the recorders' threads,
    // and the program's end waits for them as for any other.
    std::unique_ptr<COrvaneDlg> closing = std::move(*at);
    m_others.erase(at);
    closing.reset();
    SaveWindowList();
}

void MainWindows::CloseAll() {
    m_others.clear();
    m_main.reset();
    m_writer.reset();
}

void MainWindows::SaveWindowList() {
    std::vector<int> numbers;
    for (const std::unique_ptr<COrvaneDlg>& window : m_others)
        numbers.push_back(window->WindowNumber());
    m_writer->Post([numbers] { return SaveOtherWindows(numbers); });
}

}  // namespace kavrel
