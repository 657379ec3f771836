#pragma once
// The video window of the main window: owns the video pipeline and shows its
// pictures.
//
// The decode thread converts each picture at the size the window shows it
// (in device pixels, turned or not, filling the area or keeping its aspect:
// the pipeline's PictureView, which this window keeps up to date) straight
// into a back image. Pictures cross to the user-interface thread as "latest
// picture wins": a finished back image is swapped into a one-picture slot
// under m_slotMutex and at most one take is posted; the user-interface thread
// swaps the newest into the image it paints. Nothing is copied and no queue
// of pictures builds up.
//
// Painting: black before the first picture; otherwise the picture shown last,
// drawn 1:1 over the client area inside the thin border (normal view) or over
// the whole widget (full screen: the main window makes the widget cover the
// monitor), with black bars when it keeps its aspect. The picture stays
// between streams (a stop, a channel change, a reconnect) until the next one
// replaces it. After the view changed, the held picture is stretched into the
// new place (turned at once when the turn changed) until the decode thread
// has converted it again for the new view, which it does at once.
//
// Digital zoom (DigitalZoom.h): the wheel zooms round the pointer, a left
// drag pans the zoomed picture; the zoom's part of the picture goes to the
// pipeline with the view, so the decode thread converts only that part, at
// the size shown. While zoomed, a left press that might begin a drag is
// reported as a tap at its release, and only if the pointer stayed within
// the platform's drag distance: clicks, double-clicks and the right-click
// menu mean what they did. A small badge ("2.5x") shows the factor.
//
// A window whose decoding fell behind its stream shows key frames only
// (VideoPipeline::KeyFramesOnly) and says so in a corner, with the owner's
// localised text, until it keeps up again.
//
// Every text over the picture (those badges, the statistics panel, a wall
// tile's state, the REC badge its owner places) has its place from
// LayOutOverlays (OverlayLayout.h), so none covers another.

#include <QFont>
#include <QImage>
#include <QString>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "video/DigitalZoom.h"
#include "video/FrameTimeline.h"
#include "video/OverlayLayout.h"
#include "video/PictureSink.h"
#include "video/StatisticsPanel.h"
#include "video/VideoPipeline.h"

namespace kavrel {

class CVideoAtom : public QWidget, private PictureSink {
    Q_OBJECT

  public:
    static constexpr int kControlId = 236;

    // objectName "236", windowTitle "Video", a thin border; a visible child of
    // `owner` (a widget without owner is left for the caller to show).
    explicit CVideoAtom(QWidget* owner);
    ~CVideoAtom() override;  // stops decoding first

    void StartDecoding(const VideoFormat& format);                  // receive thread or UI thread
    void StopDecoding();                                            // UI thread; the picture stays
    void AddFrame(const uint8_t* bytes, int length, int keyFrame);  // receive thread
    // Receive thread: the same, stamped with the frame's arrival.
    void AddFrame(const uint8_t* bytes, int length, int keyFrame, FrameClock::time_point arrival);
    // Receive thread: the same around bytes shared with others (no copy).
    void AddFrame(SharedFrameBytes bytes, int keyFrame, FrameClock::time_point arrival);
    // UI thread: the next picture, whole or (kView) the part the view shows,
    // at the decoded size.
    void RequestSnapshot(SnapshotKind kind = SnapshotKind::kPicture);

    // UI thread: the digital zoom. ZoomAt zooms `steps` levels in (or out)
    // round `at`, a point in widget coordinates (as the wheel does).
    const DigitalZoom& Zoom() const { return m_zoom; }
    void ZoomAt(int steps, const QPointF& at);
    void ResetZoom();
    // UI thread: the camera the window shows (any text that names it); a
    // window that starts showing another camera starts at the whole picture.
    void ShowCamera(const QString& camera);

    // UI thread. `turned` (full screen only): the picture is drawn a quarter
    // turn round, for a monitor taller than wide.
    void SetFullScreen(bool on, bool turned = true);
    bool IsFullScreen() const;
    // UI thread: keep the picture's aspect (black bars) instead of stretching it.
    void SetKeepAspect(bool on);
    bool KeepAspect() const { return m_keepAspect; }
    // The rectangle pictures are shown in: inside the border, or the whole
    // widget in full screen.
    QRect PictureArea() const;

    // UI thread: the picture painted (null before the first picture).
    // Format_RGB32 (the window surface's own form, drawn without conversion),
    // in device pixels, at the size and turn it was converted for.
    QImage LatestPicture() const;
    // The decoded size of that picture (empty before the first).
    QSize LatestPictureSource() const { return m_shownSource; }
    // The part of the picture it shows (the zoom's when it was converted).
    ViewRect LatestPicturePart() const { return m_shownPart; }
    VideoPipeline& Pipeline() { return m_pipeline; }
    const VideoPipeline& Pipeline() const { return m_pipeline; }

    // UI thread: the corner text shown while only key frames are decoded
    // (none by default: the owner gives it in the user's language).
    void SetKeyFramesOnlyText(const QString& text);
    // UI thread: the corner text is shown now.
    bool ShowsKeyFramesOnly() const { return m_markKeyFramesOnly; }
    // UI thread: one line centred over the black area while no picture has
    // been shown (empty: none), in `font`; the owner says in it how to get one.
    void SetIdleText(const QString& text, const QFont& font);
    const QString& IdleText() const { return m_idleText; }
    // The line is drawn now: a text is set and no picture is there.
    bool ShowsIdleText() const { return !m_idleText.isEmpty() && m_shown.isNull(); }
    // UI thread: the statistics panel over the picture, on or off. This is
    // the one switch per window (a tile of a wall included); whoever keeps
    // the statistics hears statisticsShownChanged and supplies the panel
    // while it is on. Off, nothing is drawn and nothing is refreshed.
    void SetStatisticsShown(bool on);
    bool StatisticsShown() const { return m_statisticsShown; }
    // UI thread: the panel's texts; repaints when they changed.
    void SetStatisticsPanel(const StatisticsPanel& panel);
    const StatisticsPanel& CurrentStatisticsPanel() const { return m_statisticsPanel; }
    // Where the panel is drawn (empty while it is off).
    QRect StatisticsPanelArea() const;
    // UI thread: the REC badge's text (empty: none), so that the other texts
    // leave it its corner; the badge itself is the owner's widget, placed at
    // Overlays().record.
    void SetRecordText(const QString& text);
    // Where each text over the picture goes now.
    OverlayLayout Overlays() const;

  signals:
    void tapped();        // a left-button press in the window (consumed)
    void doubleTapped();  // a left-button double-click (its first press was a tap)
    void pictureShown();  // UI thread, after a new picture arrived
    void snapshotWritten(bool ok, QString path);  // UI thread
    // UI thread, from the paint that first shows a decoded picture: its
    // frame's stamps and when it was painted. Receivers must not repaint.
    void picturePainted(const kavrel::FrameStamps& stamps,
                        kavrel::FrameClock::time_point paintedAt);
    void statisticsShownChanged(bool on);

  protected:
    // The state a subclass shows in the top-left corner (none here).
    virtual QString CornerState() const { return {}; }
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    // PictureSink, on the decode thread.
    bool HasPictureBuffer() const override { return true; }
    uint32_t* PictureBuffer(int width, int height, ptrdiff_t* stride) override;
    void OnPictureReady(int decodedWidth, int decodedHeight, const ViewRect& part) override;
    // PictureSink, mostly on the snapshot worker's thread: posted on. The
    // pipeline, a member, stops these calls before the QObject goes, and
    // whatever was posted by then is dropped with it.
    void OnSnapshotWritten(bool ok, const std::string& path) override;

    void TakeLatestPicture();  // UI thread, posted by OnPictureReady
    // UI thread: tells the pipeline the view, and asks for the held picture
    // again when it changed.
    void UpdateView();
    // Where the picture lies in the widget (inside any aspect bars).
    QRectF PictureRect() const;
    // A point in widget coordinates as fractions of the picture shown, along
    // the upright picture's axes (so through the turn, if any).
    QPointF UprightFraction(const QPointF& at) const;
    OverlayTexts OverlayTextsNow() const;  // UI thread: what Overlays lays out
    void PaintOverlays(QPainter& painter) const;
    void UpdateKeyFramesOnlyMark();  // UI thread: follows the pipeline

    QImage m_back;        // the decode thread's alone: the picture being converted
    QSize m_backSource;   // the decode thread's alone: its decoded size
    ViewRect m_backPart;  // the decode thread's alone: the part it shows

    mutable std::mutex m_slotMutex;
    QImage m_slot;             // guarded by m_slotMutex: the newest picture not yet taken
    QSize m_slotSource;        // guarded by m_slotMutex
    ViewRect m_slotPart;       // guarded by m_slotMutex
    bool m_slotFresh = false;  // guarded by m_slotMutex
    std::atomic<bool> m_takePosted{false};  // a TakeLatestPicture is on its way

    QImage m_shown;                                    // UI thread: what paintEvent draws
    QSize m_shownSource;                               // UI thread
    ViewRect m_shownPart;                              // UI thread: the part m_shown was made for
    VideoCodec m_toolTipCodec = VideoCodec::kUnknown;  // UI thread: the codec the tooltip names
    bool m_fullScreen = false;                         // UI thread
    bool m_turned = false;                             // UI thread
    bool m_keepAspect = false;                         // UI thread
    PictureView m_view;  // UI thread: the view last given to the pipeline
    DigitalZoom m_zoom;  // UI thread
    QString m_camera;    // UI thread: the camera last shown (empty: none yet)
    // UI thread: the left button's press, while held.
    struct Press {
        QPointF at;    // where it went down
        QPointF last;  // where the drag was last applied
        bool held = false;
        bool dragging = false;  // moved beyond the drag distance while zoomed
        bool tapped = false;    // reported as a tap at the press (not zoomed)
    };
    Press m_press;
    int m_wheelRemainder = 0;          // UI thread: wheel movement short of a step
    QString m_keyFramesOnlyText;       // UI thread
    bool m_markKeyFramesOnly = false;  // UI thread: the text is drawn
    QString m_recordText;              // UI thread
    QString m_idleText;                // UI thread
    QFont m_idleFont;                  // UI thread

    // The frame stamps of each picture travel with it: decode thread, slot
    // (m_slotMutex), then the user-interface thread until a paint counted it.
    FrameStamps m_backStamps;           // the decode thread's alone
    FrameStamps m_slotStamps;           // guarded by m_slotMutex
    FrameStamps m_shownStamps;          // UI thread
    bool m_statisticsShown = false;     // UI thread
    StatisticsPanel m_statisticsPanel;  // UI thread

    VideoPipeline m_pipeline;  // its decode thread calls back into this object
};

}  // namespace kavrel
