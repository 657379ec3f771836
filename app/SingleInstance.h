#pragma once
// One running copy per executable. The first copy holds a lock file and
// listens on a local socket, both named from the executable's absolute path;
// a later copy hands it its command line (which raises and activates a
// window, or opens one on another monitor: app/MainWindows.h), then ends. A stale
// lock (its process gone) is taken over; a lock whose holder never answers
// within 40 tries, 250 ms apart, is ignored and the copy starts anyway.
//
// Wire: the asking copy sends "raise", then each of its arguments after a tab,
// then "\n" (an argument holding a tab or a line break is left out: no option
// can); a copy of the one-window version sends "raise\n" alone. The running
// copy hands the arguments to its handler (or keeps the request until it has
// one), which raises a window (the debug line "Raise\n"), and answers
// "raised\n".
// User-interface thread only.

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLocalSocket;

namespace kavrel {

class SingleInstance : public QObject {
    Q_OBJECT

  public:
    enum class Outcome {
        First,          // no other copy: this one serves raise requests
        OtherRaised,    // another copy runs and was asked to come forward: end now
        StartedAnyway,  // another copy holds the lock but never answered
    };

    explicit SingleInstance(const QString& executablePath, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock or hands `arguments` (the command line without the
    // program's name) to the running copy. Blocks for at most about 10 s
    // (40 tries).
    Outcome Claim(const std::vector<std::string>& arguments = {});

    // What a later start's arguments do here; requests that came before it
    // are served now. Reset it (with {}) before what it uses goes: requests
    // then wait again.
    using Handler = std::function<void(const std::vector<std::string>& arguments)>;
    void SetHandler(Handler handler);

    // Brings `window` forward and activates it (the debug line "Raise\n").
    static void Raise(QWidget* window);

    // "kavrel-" and 16 hex digits of the SHA-1 of the path: the local
    // server's name; the lock file is that name + ".lock" in the temp folder.
    static QString KeyFor(const QString& executablePath);

  private:
    bool AskRunningCopyToRaise(const QByteArray& request, int timeoutMs) const;
    void OnNewConnection();
    void OnRequestData(QLocalSocket* socket);
    void Serve(QLocalSocket* socket, const std::vector<std::string>& arguments);

    struct Waiting {
        QPointer<QLocalSocket> socket;
        std::vector<std::string> arguments;
    };

    QString m_key;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
    Handler m_handler;
    std::vector<Waiting> m_waiting;  // requests that came before the handler
};

}  // namespace kavrel
