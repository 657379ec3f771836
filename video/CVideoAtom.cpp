#include "video/CVideoAtom.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QStyleHints>
#include <QTransform>
#include <QWheelEvent>
#include <algorithm>
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
    UpdateKeyFramesOnlyMark();
}

void CVideoAtom::SetKeyFramesOnlyText(const QString& text) {
    m_keyFramesOnlyText = text;
    update();
}

void CVideoAtom::UpdateKeyFramesOnlyMark() {
    const bool mark = m_pipeline.KeyFramesOnly();
    if (mark == m_markKeyFramesOnly)
        return;
    m_markKeyFramesOnly = mark;
    update();
}

void CVideoAtom::AddFrame(const uint8_t* bytes, int length, int keyFrame) {
    m_pipeline.AddFrame(bytes, length, keyFrame);
}

void CVideoAtom::AddFrame(const uint8_t* bytes, int length, int keyFrame,
                          FrameClock::time_point arrival) {
    m_pipeline.AddFrame(bytes, length, keyFrame, arrival);
}

void CVideoAtom::AddFrame(SharedFrameBytes bytes, int keyFrame, FrameClock::time_point arrival) {
    m_pipeline.AddFrame(std::move(bytes), keyFrame, arrival);
}

void CVideoAtom::RequestSnapshot(SnapshotKind kind) {
    m_pipeline.RequestSnapshot(kind);
}

void CVideoAtom::ZoomAt(int steps, const QPointF& at) {
    const QPointF fraction = UprightFraction(at);
    if (!m_zoom.ZoomAt(steps, fraction.x(), fraction.y()))
        return;
    UpdateView();
    update();
}

void CVideoAtom::ShowCamera(const QString& camera) {
    if (!m_camera.isEmpty() && camera != m_camera)
        ResetZoom();
    m_camera = camera;
}

void CVideoAtom::ResetZoom() {
    m_zoom.Reset();
    UpdateView();
    update();
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
                           m_keepAspect, m_zoom.Part()};
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

void CVideoAtom::OnPictureReady(int decodedWidth, int decodedHeight, const ViewRect& part) {
    m_backSource = QSize(decodedWidth, decodedHeight);
    m_backPart = part;
    m_backStamps = m_pipeline.PictureStamps();
    {
        std::lock_guard lock(m_slotMutex);
        // A picture not taken yet is replaced: the newest wins. Its memory
        // is filled next time instead of allocating new.
        m_slot.swap(m_back);
        std::swap(m_slotSource, m_backSource);
        std::swap(m_slotPart, m_backPart);
        std::swap(m_slotStamps, m_backStamps);
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
    const QSize wasSize = m_shown.size();
    const ViewRect wasPart = m_shownPart;
    {
        std::lock_guard lock(m_slotMutex);
        if (!m_slotFresh)
            return;
        m_shown.swap(m_slot);
        std::swap(m_shownSource, m_slotSource);
        std::swap(m_shownPart, m_slotPart);
        // A picture replaced before any paint showed it was never shown.
        std::swap(m_shownStamps, m_slotStamps);
        m_slotFresh = false;
    }
    // The next picture of the same view covers exactly what the last one did:
    // the border, the bars and the badge have not changed.
    if (m_shown.size() == wasSize && m_shownPart == wasPart && m_shownPart == m_view.part &&
        !m_zoom.IsZoomed())
        update(PictureRect().toAlignedRect());
    else
        update();
    // Checked with each picture: in key-frames-only decoding one comes each
    // GOP, so the mark appears with the first picture it applies to.
    UpdateKeyFramesOnlyMark();
    // Nothing in the protocol names the codec, and the statistics line has no
    // room for it: the tooltip says which one the decoder found.
    // Compared as a value: this runs for every picture, the text only changes
    // with the codec.
    const VideoCodec codec = m_pipeline.Codec();
    if (codec != m_toolTipCodec) {
        m_toolTipCodec = codec;
        setToolTip(QString::fromUtf8(CodecName(codec)));
    }
    emit pictureShown();
}

void CVideoAtom::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    UpdateView();
}

void CVideoAtom::paintEvent(QPaintEvent* event) {
    UpdateView();  // the device pixel ratio may have changed with the monitor
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const QRect area = PictureArea();
    // A new picture repaints only its own rectangle, inside the border.
    if (!m_fullScreen && !area.contains(event->rect())) {
        painter.setPen(Qt::black);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    if (m_shown.isNull()) {
        painter.fillRect(area, Qt::black);
        if (!m_idleText.isEmpty()) {
            // Light on the black, one line: a long server name is cut short
            // rather than wrapped over the middle of the window.
            painter.setFont(m_idleFont);
            painter.setPen(QColor(200, 200, 200));
            const QRect line = area.adjusted(4, 0, -4, 0);
            painter.drawText(
                line, Qt::AlignCenter,
                QFontMetrics(m_idleFont).elidedText(m_idleText, Qt::ElideMiddle, line.width()));
        }
        PaintOverlays(painter);
        return;
    }
    // In device pixels: a picture made for this view lands 1:1; one made for
    // an earlier view is stretched until its successor comes.
    const QRectF target = PictureRect();
    if (target != QRectF(area)) {
        // Only the bars: the picture covers the rest. A picture on fractional
        // logical coordinates has the whole area cleared under it instead.
        const QRect whole = target.toRect();
        if (QRectF(whole) == target) {
            for (const QRect& bar : QRegion(area).subtracted(QRegion(whole)))
                painter.fillRect(bar, Qt::black);
        } else {
            painter.fillRect(area, Qt::black);
        }
    }
    if (m_shownPart == m_view.part) {
        painter.drawImage(target, m_shown);
    } else {
        // Made for another part (the zoom moved): placed where that part lies
        // in the part shown now, until the decode thread's picture comes.
        const ViewRect was = m_turned ? m_shownPart.Turned() : m_shownPart;
        const ViewRect now = m_turned ? m_view.part.Turned() : m_view.part;
        const double scaleX = target.width() / now.width;
        const double scaleY = target.height() / now.height;
        painter.fillRect(target, Qt::black);
        painter.save();
        painter.setClipRect(target);
        painter.drawImage(
            QRectF(target.x() + (was.x - now.x) * scaleX, target.y() + (was.y - now.y) * scaleY,
                   was.width * scaleX, was.height * scaleY),
            m_shown);
        painter.restore();
    }
    PaintOverlays(painter);
    if (m_shownStamps.Stamped()) {
        const FrameStamps stamps = std::exchange(m_shownStamps, FrameStamps{});
        emit picturePainted(stamps, FrameClock::now());
    }
}

void CVideoAtom::SetStatisticsShown(bool on) {
    if (on == m_statisticsShown)
        return;
    m_statisticsShown = on;
    if (!on)
        m_statisticsPanel = StatisticsPanel{};
    update();
    emit statisticsShownChanged(on);
}

void CVideoAtom::SetStatisticsPanel(const StatisticsPanel& panel) {
    if (!m_statisticsShown || panel == m_statisticsPanel)
        return;
    const QRect before = StatisticsPanelArea();
    m_statisticsPanel = panel;
    update(before.united(StatisticsPanelArea()));
}

QRect CVideoAtom::StatisticsPanelArea() const {
    if (!m_statisticsShown || m_statisticsPanel.rows.empty())
        return QRect();
    return Overlays().statistics.box;
}

void CVideoAtom::SetRecordText(const QString& text) {
    if (text == m_recordText)
        return;
    // The other texts may move for it (or back): all of them repaint.
    m_recordText = text;
    update();
}

OverlayLayout CVideoAtom::Overlays() const {
    return LayOutOverlays(fontMetrics(), PictureArea(), OverlayTextsNow());
}

OverlayTexts CVideoAtom::OverlayTextsNow() const {
    OverlayTexts texts;
    texts.state = CornerState();
    texts.record = m_recordText;
    if (!m_shown.isNull()) {
        if (m_zoom.IsZoomed())
            texts.zoom = QString::fromStdString(m_zoom.BadgeText());
        if (m_markKeyFramesOnly)
            texts.keyFramesOnly = m_keyFramesOnlyText;
    }
    if (m_statisticsShown && !m_statisticsPanel.rows.empty())
        texts.statistics = &m_statisticsPanel;
    return texts;
}

void CVideoAtom::SetIdleText(const QString& text, const QFont& font) {
    if (text == m_idleText && font == m_idleFont)
        return;
    m_idleText = text;
    m_idleFont = font;
    if (m_shown.isNull())
        update();
}

void CVideoAtom::PaintOverlays(QPainter& painter) const {
    const OverlayTexts texts = OverlayTextsNow();
    // The REC badge is its owner's widget: with no other text there is
    // nothing to draw here, and no layout to make (most paints).
    if (texts.state.isEmpty() && texts.zoom.isEmpty() && texts.keyFramesOnly.isEmpty() &&
        texts.statistics == nullptr)
        return;
    const OverlayLayout layout = LayOutOverlays(fontMetrics(), PictureArea(), texts);
    const auto badge = [&painter](const OverlayBadge& badge, const QColor& colour) {
        if (badge.box.isEmpty())
            return;
        painter.fillRect(badge.box, QColor(0, 0, 0, 160));
        painter.setPen(colour);
        painter.drawText(badge.textBox, Qt::AlignCenter, badge.text);
    };
    badge(layout.state, Qt::white);
    badge(layout.zoom, Qt::white);
    badge(layout.keyFramesOnly, QColor(255, 200, 0));
    PaintStatisticsPanel(painter, layout.statistics, m_statisticsPanel);
}

QRectF CVideoAtom::PictureRect() const {
    const QRect area = PictureArea();
    const qreal ratio = devicePixelRatioF();
    const QSize device(m_view.width, m_view.height);
    const QSize fitted = m_keepAspect && !m_shown.isNull()
                             ? m_shown.size().scaled(device, Qt::KeepAspectRatio)
                             : device;
    return QRectF(area.x() + ((device.width() - fitted.width()) / 2) / ratio,
                  area.y() + ((device.height() - fitted.height()) / 2) / ratio,
                  fitted.width() / ratio, fitted.height() / ratio);
}

QPointF CVideoAtom::UprightFraction(const QPointF& at) const {
    const QRectF picture = PictureRect();
    if (picture.isEmpty())
        return QPointF(0.5, 0.5);
    const double x = std::clamp((at.x() - picture.x()) / picture.width(), 0.0, 1.0);
    const double y = std::clamp((at.y() - picture.y()) / picture.height(), 0.0, 1.0);
    // Turned, the screen's columns are the picture's rows from the bottom.
    return m_turned ? QPointF(y, 1.0 - x) : QPointF(x, y);
}

void CVideoAtom::mousePressEvent(QMouseEvent* event) {
    event->accept();
    // The right button opens the owner's menu (a context-menu event) instead.
    if (event->button() != Qt::LeftButton)
        return;
    m_press = Press{event->position(), event->position(), true, false, false};
    // Not zoomed there is nothing to drag: the tap is the press, as ever.
    if (!m_zoom.IsZoomed()) {
        m_press.tapped = true;
        emit tapped();
    }
}

void CVideoAtom::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (!m_press.held || !(event->buttons() & Qt::LeftButton) || !m_zoom.IsZoomed())
        return;
    const QPointF at = event->position();
    if (!m_press.dragging) {
        const int distance = QGuiApplication::styleHints()->startDragDistance();
        if ((at - m_press.at).manhattanLength() < distance)
            return;
        m_press.dragging = true;
    }
    const QRectF picture = PictureRect();
    if (picture.isEmpty())
        return;
    const double dx = (at.x() - m_press.last.x()) / picture.width();
    const double dy = (at.y() - m_press.last.y()) / picture.height();
    m_press.last = at;
    // Turned, moving along the screen's columns moves along the picture's rows.
    const bool moved = m_turned ? m_zoom.PanBy(dy, -dx) : m_zoom.PanBy(dx, dy);
    if (moved) {
        UpdateView();
        update();
    }
}

void CVideoAtom::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton || !m_press.held)
        return;
    const Press press = std::exchange(m_press, Press{});
    if (!press.tapped && !press.dragging)
        emit tapped();
}

void CVideoAtom::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    // Its first press and release were the tap already; no drag follows.
    m_press = Press{};
    emit doubleTapped();
}

void CVideoAtom::wheelEvent(QWheelEvent* event) {
    event->accept();
    // 120 is one notch; finer wheels and touchpads add up to it.
    m_wheelRemainder += event->angleDelta().y();
    const int steps = m_wheelRemainder / 120;
    m_wheelRemainder -= steps * 120;
    if (steps != 0)
        ZoomAt(steps, event->position());
}

}  // namespace kavrel
