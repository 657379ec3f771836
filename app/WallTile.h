#pragma once
// A tile of the camera wall: a video window that also draws, over the picture
// on screen only, why it shows no picture in its top left corner (its
// session's short state, a refused login, a channel the server lacks, a
// stream that cannot be decoded), a thin
// highlighted frame when selected, and a hint when it shows no camera. The
// picture itself (LatestPicture, Capture) stays untouched.
//
// Thread: the user-interface thread.

#include <QString>
#include <QTimer>
#include <chrono>

#include "video/CVideoAtom.h"

namespace kavrel {

class ViewingSession;

class WallTile : public CVideoAtom {
  public:
    static constexpr std::chrono::milliseconds kStateCheck{1000};

    explicit WallTile(QWidget* owner);

    // The session whose state the corner shows; it must outlive its use here.
    void SetSession(const ViewingSession* session) { m_session = session; }
    void SetSelected(bool selected);
    bool IsSelected() const { return m_selected; }
    // Shown in the middle while the tile has no camera; empty: a camera.
    void SetEmptyHint(const QString& hint);
    const QString& EmptyHint() const { return m_emptyHint; }
    // The server lacks the tile's channel: the tile stays black and says so.
    void SetChannelMissing(bool missing);
    bool ChannelMissing() const { return m_channelMissing; }
    // What the corner says now (empty: nothing).
    QString StateText() const;

  protected:
    QString CornerState() const override { return StateText(); }
    void paintEvent(QPaintEvent* event) override;

  private:
    const ViewingSession* m_session = nullptr;
    bool m_selected = false;
    bool m_channelMissing = false;
    QString m_shownState;  // the state the last paint drew
    QTimer m_stateCheck;
    QString m_emptyHint;
};

}  // namespace kavrel
