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
// A request is one line: "raise" and a command line's arguments.
constexpr int kMaxRequestBytes = 8192;
const QByteArray kRaiseRequest = "raise";
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

SingleInstance::Outcome SingleInstance::Claim(const std::vector<std::string>& arguments) {
    QByteArray request = kRaiseRequest;
    for (const std::string& argument : arguments) {
        if (argument.find_first_of("\t\n") != std::string::npos)
            continue;
        request += '\t';
        request += QByteArray::fromStdString(argument);
    }
    request += '\n';
    if (request.size() > kMaxRequestBytes)
        request = kRaiseRequest + '\n';

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
        if (AskRunningCopyToRaise(request, kTryIntervalMs * (kTries - attempt)))
            return Outcome::OtherRaised;
        QThread::msleep(kTryIntervalMs);
    }
    return Outcome::StartedAnyway;
}

bool SingleInstance::AskRunningCopyToRaise(const QByteArray& request, int timeoutMs) const {
    QLocalSocket socket;
    socket.connectToServer(m_key);
    if (!socket.waitForConnected(kTryIntervalMs))
        return false;
    socket.write(request);
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

void SingleInstance::SetHandler(Handler handler) {
    m_handler = std::move(handler);
    if (!m_handler)
        return;
    std::vector<Waiting> waiting;
    waiting.swap(m_waiting);
    for (const Waiting& request : waiting) {
        if (request.socket)
            Serve(request.socket, request.arguments);
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
    const QByteArray line = socket->readLine(kMaxRequestBytes + 1);
    const QList<QByteArray> parts = line.chopped(1).split('\t');
    if (!line.endsWith('\n') || parts.front() != kRaiseRequest) {
        socket->abort();
        return;
    }
    std::vector<std::string> arguments;
    for (qsizetype i = 1; i < parts.size(); ++i)
        arguments.push_back(parts[i].toStdString());
    if (m_handler) {
        Serve(socket, arguments);
    } else {
        m_waiting.push_back({socket, std::move(arguments)});
    }
}

void SingleInstance::Raise(QWidget* window) {
    if (!window)
        return;
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->raise();
    window->activateWindow();
    DebugOutput("Raise\n");
}

void SingleInstance::Serve(QLocalSocket* socket, const std::vector<std::string>& arguments) {
    // The handler may open a window: the socket stays ours meanwhile.
    const QPointer<QLocalSocket> guard(socket);
    m_handler(arguments);
    if (!guard)
        return;
    socket->write(kRaisedAnswer);
    socket->flush();
    socket->disconnectFromServer();
}

}  // namespace kavrel
