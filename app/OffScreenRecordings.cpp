#include "app/OffScreenRecordings.h"

#include <QMetaObject>
#include <algorithm>

#include "app/CameraWall.h"
#include "app/SessionRecording.h"

namespace kavrel {

OffScreenRecordings::OffScreenRecordings(QObject* parent) : QObject(parent) {}

OffScreenRecordings::~OffScreenRecordings() {
    Clear();
}

void OffScreenRecordings::Keep(const TileSource& source, std::unique_ptr<ViewingSession> session) {
    if (!session)
        return;
    session->SetVideo(nullptr);
    if (!session->Recording().Active())
        return;  // ends here: nothing to keep it for
    ViewingSession* kept = session.get();
    // Whoever showed it has let go of it: only its recording speaks now.
    disconnect(kept, nullptr, nullptr, nullptr);
    disconnect(&kept->Recording(), &SessionRecording::activeChanged, nullptr, nullptr);
    connect(kept, &ViewingSession::recordingStatusShown, this, &OffScreenRecordings::statusShown);
    connect(&kept->Recording(), &SessionRecording::activeChanged, this, [this, kept](bool active) {
        // Later, not inside the recording's own signal: the stop ends the session.
        if (!active)
            QMetaObject::invokeMethod(
                this, [this, kept] { StopRecording(kept); }, Qt::QueuedConnection);
    });
    m_cameras.push_back(Camera{source, std::move(session)});
    emit countChanged(Count());
}

std::unique_ptr<ViewingSession> OffScreenRecordings::Take(const TileSource& source) {
    const auto found = std::find_if(m_cameras.begin(), m_cameras.end(), [&](const Camera& camera) {
        return SameCamera(camera.source, source);
    });
    if (found == m_cameras.end())
        return nullptr;
    std::unique_ptr<ViewingSession> session = std::move(found->session);
    m_cameras.erase(found);
    disconnect(session.get(), nullptr, this, nullptr);
    disconnect(&session->Recording(), nullptr, this, nullptr);
    emit countChanged(Count());
    return session;
}

const TileSource& OffScreenRecordings::Source(int index) const {
    return m_cameras.at(size_t(index)).source;
}

ViewingSession* OffScreenRecordings::Session(int index) const {
    if (index < 0 || index >= Count())
        return nullptr;
    return m_cameras[size_t(index)].session.get();
}

void OffScreenRecordings::StopRecording(const ViewingSession* session) {
    const auto found = std::find_if(m_cameras.begin(), m_cameras.end(), [&](const Camera& camera) {
        return camera.session.get() == session;
    });
    if (found == m_cameras.end())
        return;
    std::unique_ptr<ViewingSession> stopped = std::move(found->session);
    m_cameras.erase(found);
    disconnect(&stopped->Recording(), &SessionRecording::activeChanged, this, nullptr);
    // Stop ends the recording (its file starts closing) and the connection.
    stopped->Stop();
    if (stopped->Recording().ClosingFiles()) {
        ViewingSession* closing = stopped.get();
        connect(&closing->Recording(), &SessionRecording::filesClosed, this,
                [this, closing] { OnFilesClosed(closing); });
        m_closing.push_back(std::move(stopped));
    }
    emit countChanged(Count());
}

void OffScreenRecordings::OnFilesClosed(ViewingSession* session) {
    // Later: this runs inside the session's recording.
    QMetaObject::invokeMethod(
        this,
        [this, session] {
            std::erase_if(m_closing, [session](const std::unique_ptr<ViewingSession>& closing) {
                return closing.get() == session;
            });
        },
        Qt::QueuedConnection);
}

void OffScreenRecordings::Clear() {
    const bool any = !m_cameras.empty();
    m_cameras.clear();
    m_closing.clear();
    if (any)
        emit countChanged(0);
}

}  // namespace kavrel
