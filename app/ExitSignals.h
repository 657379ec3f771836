#pragma once
// SIGTERM, SIGINT and SIGHUP (a desktop logout, `systemctl stop`, Ctrl+C in
// a terminal) end the program as the exit question's Yes does, without
// asking: recordings finish their files and the view is saved before the
// process ends.
//
// The handler only writes a byte to a self-pipe (the one thing a signal
// handler may safely do); a QSocketNotifier on the user-interface thread
// reads it and emits `requested`. One object at a time per process; it puts
// the handlers it replaced back when it goes.
//
// Thread: made, used and destroyed on the user-interface thread.

#include <QObject>
#include <memory>

class QSocketNotifier;

namespace kavrel {

class ExitSignals : public QObject {
    Q_OBJECT

  public:
    explicit ExitSignals(QObject* parent = nullptr);
    ~ExitSignals() override;
    // The handlers are in place (false when the pipe could not be made:
    // the signals then end the process as they always did).
    bool Installed() const { return m_installed; }

  signals:
    // A signal to end arrived (once per signal; the first is what counts).
    void requested(int signalNumber);

  private:
    void OnReadable();

    bool m_installed = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

}  // namespace kavrel
