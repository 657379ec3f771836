#pragma once
// A tile of the camera wall: a video window that also draws, over the picture
// on screen only, its session's short state in its top left corner, a thin
// highlighted frame when selected, and a hint when it shows no camera. The
// picture itself (LatestPicture, Capture) stays untouched.
//
// Thread: the user-interface thread.

#include <QString>

#include "video/CVideoAtom.h"

namespace kavrel {

class ViewingSession;

class WallTile : public CVideoAtom {
  public:
    explicit WallTile(QWidget* owner) : CVideoAtom(owner) {}

    // The session whose state the corner shows; it must outlive its use here.
    void SetSession(const ViewingSession* session) { m_session = session; }
    void SetSelected(bool selected);
    bool IsSelected() const { return m_selected; }
    // Shown in the middle while the tile has no camera; empty: a camera.
    void SetEmptyHint(const QString& hint);
    const QString& EmptyHint() const { return m_emptyHint; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    // "…" while the session connects, the count-down while a retry waits,
    // nothing while pictures come or nobody watches.
    QString StateText() const;

    const ViewingSession* m_session = nullptr;
    bool m_selected = false;
    QString m_emptyHint;
};

}  // namespace kavrel
