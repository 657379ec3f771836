#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QThread>

#include "platform/DebugSink.h"

namespace kavrel {
namespace {

constexpr int kTries = 40;
constexpr int kTryIntervalMs = 250;
constexpr int kMaxRequestBytes = 64;  // a request is one short line
const QByteArray kRaiseRequest = "raise\n";
const QByteArray kRaisedAnswer = "raised\n";

}  // namespace

SingleInstance::SingleInstance(const QString& executablePath, QObject* parent)
    : QObject(parent), m_key(KeyFor(executablePath)) {
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::OnNewConnection);
}

SingleInstance::~SingleInstance() {
    m_server.close();
    if (m_lock)
        m_lock->unlock();
}

QString SingleInstance::KeyFor(const QString& executablePath) {
    const QByteArray hash = QCryptographicHash::hash(QDir::cleanPath(executablePath).toUtf8(),
                                                     QCryptographicHash::Sha1);
    return QStringLiteral("kavrel-") + QString::fromLatin1(hash.toHex().left(16));
}

SingleInstance::Outcome SingleInstance::Claim() {
    m_lock = std::make_unique<QLockFile>(QDir(QDir::tempPath()).filePath(m_key + ".lock"));
    // A lock whose process has ended is stale and taken over by tryLock.
    if (m_lock->tryLock(0)) {
        QLocalServer::removeServer(m_key);  // a socket file left by a crashed copy
        m_server.setSocketOptions(QLocalServer::UserAccessOption);
        if (!m_server.listen(m_key)) {
            DebugPrintf("Single instance listen failed: %s\n", qPrintable(m_server.errorString()));
        }
        return Outcome::First;
    }
    m_lock.reset();
    for (int attempt = 0; attempt < kTries; ++attempt) {
        if (AskRunningCopyToRaise(kTryIntervalMs * (kTries - attempt)))
            return Outcome::OtherRaised;
        QThread::msleep(kTryIntervalMs);
    }
    return Outcome::StartedAnyway;
}

bool SingleInstance::AskRunningCopyToRaise(int timeoutMs) const {
    QLocalSocket socket;
    socket.connectToServer(m_key);
    if (!socket.waitForConnected(kTryIntervalMs))
        return false;
    socket.write(kRaiseRequest);
    if (!socket.waitForBytesWritten(kTryIntervalMs))
        return false;
    // The running copy answers once its window exists; until then it keeps
    // the request, so a connected copy is the running one.
    const QDeadlineTimer deadline(timeoutMs);
    QByteArray answer;
    while (!answer.contains('\n') && !deadline.hasExpired()) {
        if (socket.bytesAvailable() == 0 &&
            !socket.waitForReadyRead(int(deadline.remainingTime()))) {
            break;
        }
        answer += socket.read(kMaxRequestBytes);
    }
    return true;
}

void SingleInstance::SetWindow(QWidget* window) {
    m_window = window;
    if (!m_window)
        return;
    std::vector<QPointer<QLocalSocket>> waiting;
    waiting.swap(m_waiting);
    for (const QPointer<QLocalSocket>& socket : waiting) {
        if (socket)
            Raise(socket);
    }
}

void SingleInstance::OnNewConnection() {
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnRequestData(socket); });
        if (socket->bytesAvailable() > 0)
            OnRequestData(socket);
    }
}

void SingleInstance::OnRequestData(QLocalSocket* socket) {
    if (!socket->canReadLine()) {
        // Anything longer than a request line is not one of ours.
        if (socket->bytesAvailable() > kMaxRequestBytes)
            socket->abort();
        return;
    }
    const QByteArray line = socket->readLine(kMaxRequestBytes);
    if (line != kRaiseRequest) {
        socket->abort();
        return;
    }
    if (m_window) {
        Raise(socket);
    } else {
        m_waiting.emplace_back(socket);
    }
}

void SingleInstance::Raise(QLocalSocket* socket) {
    if (m_window) {
        m_window->setWindowState((m_window->windowState() & ~Qt::WindowMinimized) |
                                 Qt::WindowActive);
        m_window->raise();
        m_window->activateWindow();
        DebugOutput("Raise\n");
    }
    socket->write(kRaisedAnswer);
    socket->flush();
    socket->disconnectFromServer();
}

}  // namespace kavrel
