#pragma once
// The cameras that record while no view shows them.
//
// A recording belongs to the camera, not to the view that showed it. When a
// page turn, a tour step, a smaller layout, G or a double-click takes a
// recording camera off the screen, its session comes here: it keeps its
// connection and its recording and decodes nothing (it has no video window).
// It stays until the user stops that recording (R on the camera when a view
// shows it again, or its entry in the right-click menu), its recording ends
// by itself (a full disk), or the program ends. A view that shows the camera
// again takes its session back, connection, recording and all.
//
// A session whose recording ended is kept, disconnected, until its files are
// closed, so that the status line can still name them.
//
// Thread: the user-interface thread owns this object and its sessions.

#include <QObject>
#include <QString>
#include <memory>
#include <vector>

#include "app/ViewingSession.h"
#include "settings/WallView.h"

namespace kavrel {

class OffScreenRecordings : public QObject {
    Q_OBJECT

  public:
    explicit OffScreenRecordings(QObject* parent = nullptr);
    // Ends every session; their files close on threads of their own
    // (SessionRecording::WaitForClosingFiles).
    ~OffScreenRecordings() override;

    // Takes the session of camera `source`. A session that does not record
    // ends here instead (there is nothing to keep it for).
    void Keep(const TileSource& source, std::unique_ptr<ViewingSession> session);
    // The session of `source`'s camera, taken out (the caller gives it a
    // video window); null when that camera does not record off screen.
    std::unique_ptr<ViewingSession> Take(const TileSource& source);

    int Count() const { return int(m_cameras.size()); }
    // Entry `index` (0 to Count() - 1): its camera and its session.
    const TileSource& Source(int index) const;
    ViewingSession* Session(int index) const;
    // Ends the recording of `session`, one of the entries, then its
    // connection (nothing for any other session).
    void StopRecording(const ViewingSession* session);
    // Ends every session now (the program's end).
    void Clear();

  signals:
    void countChanged(int count);
    // The recording texts of the sessions kept here (a file started, saved
    // or failed).
    void statusShown(const QString& text);

  private:
    struct Camera {
        TileSource source;
        std::unique_ptr<ViewingSession> session;
    };
    void OnFilesClosed(ViewingSession* session);

    std::vector<Camera> m_cameras;
    // Stopped sessions whose files are still being closed.
    std::vector<std::unique_ptr<ViewingSession>> m_closing;
};

}  // namespace kavrel
