#pragma once
// One running copy per executable. The first copy holds a lock file and
// listens on a local socket, both named from the executable's absolute path;
// a later copy asks it to raise and activate its window, then ends. A stale
// lock (its process gone) is taken over; a lock whose holder never answers
// within 40 tries, 250 ms apart, is ignored and the copy starts anyway.
//
// Wire: the asking copy sends "raise\n"; the running copy raises its window
// (or remembers the request until it has one), writes the debug line
// "Raise\n" and answers "raised\n".
// User-interface thread only.

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>
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

    // Takes the lock or asks the running copy to raise its window. Blocks for
    // at most about 10 s (40 tries).
    Outcome Claim();

    // The window that raise requests bring forward; requests that came
    // before it are served now. The window must outlive its use here or be
    // reset with nullptr.
    void SetWindow(QWidget* window);

    // "kavrel-" and 16 hex digits of the SHA-1 of the path: the local
    // server's name; the lock file is that name + ".lock" in the temp folder.
    static QString KeyFor(const QString& executablePath);

  private:
    bool AskRunningCopyToRaise(int timeoutMs) const;
    void OnNewConnection();
    void OnRequestData(QLocalSocket* socket);
    void Raise(QLocalSocket* socket);

    QString m_key;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
    QPointer<QWidget> m_window;
    std::vector<QPointer<QLocalSocket>> m_waiting;  // requests that came before the window
};

}  // namespace kavrel
