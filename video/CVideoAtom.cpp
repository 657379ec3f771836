#include "video/CVideoAtom.h"

#include <QMetaObject>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTransform>
#include <cmath>
#include <utility>

namespace kavrel {

CVideoAtom::CVideoAtom(QWidget* owner) : QWidget(owner), m_pipeline(this) {
    setObjectName(QString::number(kControlId));
    setWindowTitle(QStringLiteral("Video"));
    // The thin border takes one pixel on each side; the picture fills the rest.
    setContentsMargins(1, 1, 1, 1);
    // Every pixel is painted each time: Qt need not clear the background first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (owner != nullptr)
        show();
    UpdateView();
}

CVideoAtom::~CVideoAtom() {
    m_pipeline.StopDecoding();
}

void CVideoAtom::StartDecoding(const VideoFormat& format) {
    m_pipeline.StartDecoding(format);
}

void CVideoAtom::StopDecoding() {
    m_pipeline.StopDecoding();
}

void CVideoAtom::AddFrame(const uint8_t* bytes, int length, int keyFrame) {
    m_pipeline.AddFrame(bytes, length, keyFrame);
}

void CVideoAtom::RequestSnapshot() {
    m_pipeline.RequestSnapshot();
}

void CVideoAtom::SetFullScreen(bool on, bool turned) {
    const bool turn = on && turned;
    // The held picture turns at once; the decode thread's exact one follows.
    if (turn != m_turned && !m_shown.isNull())
        m_shown = m_shown.transformed(QTransform().rotate(turn ? 90 : -90));
    m_fullScreen = on;
    m_turned = turn;
    UpdateView();
    update();
}

bool CVideoAtom::IsFullScreen() const {
    return m_fullScreen;
}

void CVideoAtom::SetKeepAspect(bool on) {
    m_keepAspect = on;
    UpdateView();
    update();
}

QRect CVideoAtom::PictureArea() const {
    return m_fullScreen ? rect() : contentsRect();
}

QImage CVideoAtom::LatestPicture() const {
    return m_shown;
}

void CVideoAtom::UpdateView() {
    const QRect area = PictureArea();
    const qreal ratio = devicePixelRatioF();
    const PictureView view{std::max(1, int(std::lround(area.width() * ratio))),
                           std::max(1, int(std::lround(area.height() * ratio))), m_turned,
                           m_keepAspect};
    if (view == m_view)
        return;
    m_view = view;
    m_pipeline.SetView(view);
    m_pipeline.Redraw();
}

uint32_t* CVideoAtom::PictureBuffer(int width, int height, ptrdiff_t* stride) {
    if (m_back.width() != width || m_back.height() != height)
        m_back = QImage(width, height, QImage::Format_RGB32);
    // bits() detaches if someone still shares this image (a LatestPicture
    // copy), so a picture somebody holds is never written.
    uchar* bits = m_back.isNull() ? nullptr : m_back.bits();
    if (bits == nullptr)
        return nullptr;  // no memory: this picture is skipped
    *stride = m_back.bytesPerLine() / ptrdiff_t(sizeof(uint32_t));
    return reinterpret_cast<uint32_t*>(bits);
}

void CVideoAtom::OnPictureReady(int decodedWidth, int decodedHeight) {
    m_backSource = QSize(decodedWidth, decodedHeight);
    {
        std::lock_guard lock(m_slotMutex);
        // A picture not taken yet is replaced: the newest wins. Its memory
        // is filled next time instead of allocating new.
        m_slot.swap(m_back);
        std::swap(m_slotSource, m_backSource);
        m_slotFresh = true;
    }
    if (!m_takePosted.exchange(true)) {
        QMetaObject::invokeMethod(this, &CVideoAtom::TakeLatestPicture, Qt::QueuedConnection);
    }
}

void CVideoAtom::OnSnapshotWritten(bool ok, const std::string& path) {
    const QString text = QString::fromStdString(path);
    QMetaObject::invokeMethod(
        this, [this, ok, text] { emit snapshotWritten(ok, text); }, Qt::QueuedConnection);
}

void CVideoAtom::TakeLatestPicture() {
    m_takePosted.store(false);
    {
        std::lock_guard lock(m_slotMutex);
        if (!m_slotFresh)
            return;
        m_shown.swap(m_slot);
        std::swap(m_shownSource, m_slotSource);
        m_slotFresh = false;
    }
    update();
    // Nothing in the protocol names the codec, and the statistics line has no
    // room for it: the tooltip says which one the decoder found.
    const QString codec = QString::fromUtf8(CodecName(m_pipeline.Codec()));
    if (toolTip() != codec)
        setToolTip(codec);
    emit pictureShown();
}

void CVideoAtom::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    UpdateView();
}

void CVideoAtom::paintEvent(QPaintEvent* /*event*/) {
    UpdateView();  // the device pixel ratio may have changed with the monitor
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const QRect area = PictureArea();
    if (!m_fullScreen) {
        painter.setPen(Qt::black);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    if (m_shown.isNull()) {
        painter.fillRect(area, Qt::black);
        return;
    }
    // In device pixels: a picture made for this view lands 1:1; one made for
    // an earlier view is stretched until its successor comes.
    const qreal ratio = devicePixelRatioF();
    const QSize device(m_view.width, m_view.height);
    const QSize fitted = m_keepAspect ? m_shown.size().scaled(device, Qt::KeepAspectRatio) : device;
    if (fitted != device)
        painter.fillRect(area, Qt::black);
    const QRectF target(area.x() + ((device.width() - fitted.width()) / 2) / ratio,
                        area.y() + ((device.height() - fitted.height()) / 2) / ratio,
                        fitted.width() / ratio, fitted.height() / ratio);
    painter.drawImage(target, m_shown);
}

void CVideoAtom::mousePressEvent(QMouseEvent* event) {
    event->accept();
    // The right button opens the owner's menu (a context-menu event) instead.
    if (event->button() == Qt::LeftButton)
        emit tapped();
}

void CVideoAtom::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton)
        emit doubleTapped();
}

}  // namespace kavrel
