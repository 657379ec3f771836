#pragma once
// The video window of the main window: owns the video pipeline and shows its
// pictures.
//
// Pictures cross from the decode thread to the user-interface thread as
// "latest picture wins": the decode thread copies each finished picture into
// a one-picture slot under m_slotMutex and posts at most one repaint request;
// the user-interface thread takes whatever is newest and paints it. No queue
// of pictures ever builds up.
//
// Painting: black before the first picture and after StopDecoding; otherwise
// the latest picture, stretched without smoothing over the client area inside
// the thin border (normal view) or over the whole widget (full screen: the
// main window makes the widget cover the monitor), turned a quarter turn
// clockwise when full screen asks for it. With "keep aspect" the picture is
// scaled as large as fits without distortion, centred, with black bars. A
// repaint in between shows the latest picture again.

#include <QImage>
#include <QString>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "protocol/WireFormat.h"
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

    void StartDecoding(const StreamFormatInfo& format);  // receive thread or UI thread
    void StopDecoding();                                 // UI thread; paints black afterwards
    void AddFrame(const uint8_t* bytes, int length, int keyFrame);  // receive thread
    void RequestSnapshot();                                         // UI thread

    // UI thread. The decode thread reads the mode once per picture; the
    // picture on screen changes orientation with the next picture. `turned`
    // (full screen only): the picture is drawn a quarter turn round, for a
    // monitor taller than wide.
    void SetFullScreen(bool on, bool turned = true);
    bool IsFullScreen() const;
    // UI thread: keep the picture's aspect (black bars) instead of stretching it.
    void SetKeepAspect(bool on);
    bool KeepAspect() const { return m_keepAspect; }
    // Where the picture goes inside `area` for a picture of `picture` pixels.
    static QRect PictureTarget(const QRect& area, QSize picture, bool keepAspect);

    // UI thread: the picture painted last (null before the first picture and
    // after StopDecoding). Format_RGB16; turned in full screen.
    QImage LatestPicture() const;
    VideoPipeline& Pipeline() { return m_pipeline; }

  signals:
    void tapped();        // a left-button press in the window (consumed)
    void doubleTapped();  // a left-button double-click (its first press was a tap)
    void pictureShown();  // UI thread, after a new picture arrived
    void snapshotWritten(bool ok, QString path);  // UI thread

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

  private:
    // PictureSink, on the decode thread.
    void OnPicture(const uint16_t* pixels, int width, int height) override;
    void OnSnapshotWritten(bool ok, const std::string& path) override;

    void TakeLatestPicture();  // UI thread, posted by OnPicture

    mutable std::mutex m_slotMutex;
    QImage m_slot;             // guarded by m_slotMutex: the newest picture not yet taken
    bool m_slotFresh = false;  // guarded by m_slotMutex
    std::atomic<bool> m_takePosted{false};  // a TakeLatestPicture is on its way

    QImage m_shown;             // UI thread: what paintEvent draws
    bool m_fullScreen = false;  // UI thread
    bool m_keepAspect = false;  // UI thread

    VideoPipeline m_pipeline;  // its decode thread calls back into this object
};

}  // namespace kavrel
