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

#include <QImage>
#include <QString>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "video/PictureSink.h"
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
    void RequestSnapshot();                                         // UI thread

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
    VideoPipeline& Pipeline() { return m_pipeline; }

  signals:
    void tapped();        // a left-button press in the window (consumed)
    void doubleTapped();  // a left-button double-click (its first press was a tap)
    void pictureShown();  // UI thread, after a new picture arrived
    void snapshotWritten(bool ok, QString path);  // UI thread

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    // PictureSink, on the decode thread.
    bool HasPictureBuffer() const override { return true; }
    uint32_t* PictureBuffer(int width, int height, ptrdiff_t* stride) override;
    void OnPictureReady(int decodedWidth, int decodedHeight) override;
    // PictureSink, mostly on the snapshot worker's thread: posted on. The
    // pipeline, a member, stops these calls before the QObject goes, and
    // whatever was posted by then is dropped with it.
    void OnSnapshotWritten(bool ok, const std::string& path) override;

    void TakeLatestPicture();  // UI thread, posted by OnPictureReady
    // UI thread: tells the pipeline the view, and asks for the held picture
    // again when it changed.
    void UpdateView();

    QImage m_back;       // the decode thread's alone: the picture being converted
    QSize m_backSource;  // the decode thread's alone: its decoded size

    mutable std::mutex m_slotMutex;
    QImage m_slot;             // guarded by m_slotMutex: the newest picture not yet taken
    QSize m_slotSource;        // guarded by m_slotMutex
    bool m_slotFresh = false;  // guarded by m_slotMutex
    std::atomic<bool> m_takePosted{false};  // a TakeLatestPicture is on its way

    QImage m_shown;             // UI thread: what paintEvent draws
    QSize m_shownSource;        // UI thread
    bool m_fullScreen = false;  // UI thread
    bool m_turned = false;      // UI thread
    bool m_keepAspect = false;  // UI thread
    PictureView m_view;         // UI thread: the view last given to the pipeline

    VideoPipeline m_pipeline;  // its decode thread calls back into this object
};

}  // namespace kavrel
