#include "video/CVideoAtom.h"

#include <QMetaObject>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <cstring>

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
}

CVideoAtom::~CVideoAtom() {
    m_pipeline.StopDecoding();
}

void CVideoAtom::StartDecoding(const StreamFormatInfo& format) {
    m_pipeline.StartDecoding(format);
}

void CVideoAtom::StopDecoding() {
    m_pipeline.StopDecoding();
    {
        std::lock_guard lock(m_slotMutex);
        m_slot = QImage();
        m_slotFresh = false;
    }
    m_shown = QImage();
    update();
}

void CVideoAtom::AddFrame(const uint8_t* bytes, int length, int keyFrame) {
    m_pipeline.AddFrame(bytes, length, keyFrame);
}

void CVideoAtom::RequestSnapshot() {
    m_pipeline.RequestSnapshot();
}

void CVideoAtom::SetFullScreen(bool on, bool turned) {
    m_fullScreen = on;
    m_pipeline.SetFullScreen(on && turned);
    update();
}

void CVideoAtom::SetKeepAspect(bool on) {
    m_keepAspect = on;
    update();
}

QRect CVideoAtom::PictureTarget(const QRect& area, QSize picture, bool keepAspect) {
    if (!keepAspect || picture.isEmpty() || area.isEmpty())
        return area;
    const QSize fitted = picture.scaled(area.size(), Qt::KeepAspectRatio);
    QRect target(QPoint(), fitted);
    target.moveCenter(area.center());
    return target;
}

bool CVideoAtom::IsFullScreen() const {
    return m_fullScreen;
}

QImage CVideoAtom::LatestPicture() const {
    return m_shown;
}

void CVideoAtom::OnPicture(const uint16_t* pixels, int width, int height) {
    {
        std::lock_guard lock(m_slotMutex);
        if (m_slot.width() != width || m_slot.height() != height) {
            m_slot = QImage(width, height, QImage::Format_RGB16);
        }
        // bits() detaches if the UI thread still shares this image, so the
        // picture on screen is never written while it may be painted.
        uchar* target = m_slot.isNull() ? nullptr : m_slot.bits();
        if (target == nullptr)
            return;  // no memory for the copy: skip this picture
        const size_t rowBytes = size_t(width) * sizeof(uint16_t);
        for (int row = 0; row < height; ++row) {
            std::memcpy(target + size_t(row) * size_t(m_slot.bytesPerLine()),
                        pixels + size_t(row) * size_t(width), rowBytes);
        }
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
        // Swap rather than copy: the decode thread fills the old picture's
        // memory next time instead of allocating a new one.
        m_shown.swap(m_slot);
        m_slotFresh = false;
    }
    update();
    emit pictureShown();
}

void CVideoAtom::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const QRect whole = rect();
    QRect area = whole;
    if (!m_fullScreen) {
        // The thin border, then the picture over the client area inside it.
        painter.setPen(Qt::black);
        painter.drawRect(whole.adjusted(0, 0, -1, -1));
        area = contentsRect();
    }
    const QRect target = PictureTarget(area, m_shown.size(), m_keepAspect);
    if (m_shown.isNull() || target != area)
        painter.fillRect(area, Qt::black);
    if (!m_shown.isNull())
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
