// Recording from the main window: R records the session the commands act on
// (the single view, or the selected tile), Shift+R every tile shown, and the
// right-click menu has both. While a session records, its video window (or
// tile) shows a red dot with the elapsed time in its top right corner.
// User-interface thread only.

#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QTimer>

#include "app/COrvaneDlg.h"
#include "app/CameraWall.h"
#include "app/OffScreenRecordings.h"
#include "app/SessionRecording.h"
#include "app/WallTour.h"
#include "config/StreamUrl.h"
#include "settings/HistoryEntry.h"
#include "skin/CSkinButton.h"
#include "skin/CSkinStatic.h"
#include "video/CVideoAtom.h"

namespace kavrel {
namespace {

constexpr int kBadgeTickMs = 500;

// "m:ss", or "h:mm:ss" from an hour on.
QString ElapsedText(std::chrono::steady_clock::duration elapsed) {
    const auto total = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
    const QChar zero(u'0');
    if (total >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(total / 3600)
            .arg((total / 60) % 60, 2, 10, zero)
            .arg(total % 60, 2, 10, zero);
    return QStringLiteral("%1:%2").arg(total / 60).arg(total % 60, 2, 10, zero);
}

// The red dot and elapsed time over a video window: a child widget drawn over
// the picture on screen only, so snapshots and the picture stay untouched.
// Its place is the video window's (CVideoAtom::Overlays), which the other
// texts over the picture leave free; no place, no badge.
class RecordBadge : public QWidget {
    Q_OBJECT

  public:
    explicit RecordBadge(CVideoAtom* video) : QWidget(video), m_video(video) {
        setObjectName(QStringLiteral("recordBadge"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void Show(const QString& text) {
        m_video->SetRecordText(text);
        const QRect place = m_video->Overlays().record.box;
        if (place.isEmpty()) {
            hide();
            return;
        }
        setGeometry(place);
        if (m_text != text) {
            m_text = text;
            update();
        }
        show();
        raise();
    }
    void Hide() {
        m_video->SetRecordText({});
        hide();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillRect(rect(), QColor(0, 0, 0, 160));
        const int dot = height() - 8;
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(230, 0, 0));
        painter.drawEllipse(QRect(4, 4, dot, dot));
        painter.setPen(Qt::white);
        painter.drawText(rect().adjusted(dot + 8, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                         m_text);
    }

  private:
    CVideoAtom* const m_video;  // the parent
    QString m_text;
};

// Shows or hides the badge of `video` for `session`; true while it records.
bool SyncBadge(CVideoAtom* video, ViewingSession* session) {
    if (!video)
        return false;
    auto* badge = video->findChild<RecordBadge*>(QString(), Qt::FindDirectChildrenOnly);
    const bool recording = session && session->Recording().Active() && video->isVisible();
    if (!recording) {
        if (badge)
            badge->Hide();
        return false;
    }
    if (!badge)
        badge = new RecordBadge(video);
    badge->Show(ElapsedText(session->Recording().Elapsed()));
    return true;
}

}  // namespace

void COrvaneDlg::ConnectRecordSignals() {
    m_recordTick = new QTimer(this);
    m_recordTick->setInterval(kBadgeTickMs);
    connect(m_recordTick, &QTimer::timeout, this, &COrvaneDlg::UpdateRecordBadges);

    m_offScreenMark = new QLabel(this);
    m_offScreenMark->setObjectName(QStringLiteral("offScreenMark"));
    m_offScreenMark->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_offScreenMark->setAlignment(Qt::AlignCenter);
    m_offScreenMark->setStyleSheet(QStringLiteral(
        "QLabel { background: rgba(0, 0, 0, 160); color: rgb(255, 80, 80); padding: 1px 4px; }"));
    m_offScreenMark->hide();
    connect(m_offScreen, &OffScreenRecordings::countChanged, this,
            &COrvaneDlg::UpdateOffScreenMark);
    // Recording texts reach the line even while a tour keeps it.
    connect(m_offScreen, &OffScreenRecordings::statusShown, this, &COrvaneDlg::PutStatusText);
    connect(m_wall, &CameraWall::recordingStatusShown, this, &COrvaneDlg::PutStatusText);
}

void COrvaneDlg::UpdateOffScreenMark() {
    const int count = m_offScreen ? m_offScreen->Count() : 0;
    if (count == 0) {
        m_offScreenMark->hide();
        return;
    }
    m_offScreenMark->setText(FillNumber(LoadText(u"offscreen_mark"), count));
    m_offScreenMark->show();
    PlaceOffScreenMark();
    m_offScreenMark->raise();
}

void COrvaneDlg::PlaceOffScreenMark() {
    // A hidden mark is placed when it is shown.
    if (!m_offScreenMark || !m_titleLabel || m_offScreenMark->isHidden())
        return;
    m_offScreenMark->setFont(font());
    const QSize size = m_offScreenMark->sizeHint();
    if (m_fullScreen) {
        // The middle of the top edge: the tiles' own marks take their corners.
        m_offScreenMark->setGeometry((width() - size.width()) / 2, 4, size.width(), size.height());
        return;
    }
    // In the title bar, left of its exit button: the pictures' corners
    // belong to their own marks.
    const QRect title = m_titleLabel->geometry();
    const int right = m_titleExit && m_titleExit->geometry().intersects(title)
                          ? m_titleExit->geometry().left()
                          : title.right();
    m_offScreenMark->setGeometry(right - 4 - size.width(),
                                 title.top() + (title.height() - size.height()) / 2, size.width(),
                                 size.height());
}

void COrvaneDlg::OnRecordKey(bool everyTile) {
    const auto toggle = [this](ViewingSession& session) {
        session.Recording().SetFileLength(std::chrono::minutes(m_preferences.clipMinutes));
        session.ToggleRecording();
    };
    if (everyTile && m_wallOn && m_wall && m_wall->HasTiles()) {
        // Every tile records when one did not; otherwise all stop.
        bool all = true;
        for (int index = 0; index < m_wall->Tiles(); ++index) {
            ViewingSession* session = m_wall->Session(index);
            all = all && (!session->Watching() || session->Recording().Active());
        }
        for (int index = 0; index < m_wall->Tiles(); ++index) {
            ViewingSession* session = m_wall->Session(index);
            if (all ? session->Recording().Active()
                    : session->Watching() && !session->Recording().Active())
                toggle(*session);
        }
    } else {
        toggle(ActiveSession());
    }
    UpdateRecordBadges();
}

void COrvaneDlg::UpdateRecordBadges() {
    bool any = SyncBadge(m_videoWindow, m_session.get());
    if (m_wall) {
        for (int index = 0; index < m_wall->Tiles(); ++index)
            any = SyncBadge(m_wall->Tile(index), m_wall->Session(index)) || any;
    }
    if (any && !m_recordTick->isActive())
        m_recordTick->start();
    else if (!any)
        m_recordTick->stop();
}

void COrvaneDlg::AddRecordMenuEntries(QMenu* menu) {
    QAction* record = menu->addAction(LoadText(u"cmd_record") + QStringLiteral("\tR"));
    record->setCheckable(true);
    record->setChecked(ActiveSession().Recording().Active());
    connect(record, &QAction::triggered, this, [this] { OnRecordKey(false); });
    if (m_wallOn) {
        QAction* all = menu->addAction(LoadText(u"cmd_record_all") + QStringLiteral("\tShift+R"));
        connect(all, &QAction::triggered, this, [this] { OnRecordKey(true); });
    }
    if (m_offScreen->Count() == 0)
        return;
    // The cameras recording while no view shows them, each with its stop.
    QMenu* offScreen = menu->addMenu(LoadText(u"offscreen_recordings"));
    const QString channelText = LoadText(u"cmd_channel");
    for (int index = 0; index < m_offScreen->Count(); ++index) {
        const TileSource& source = m_offScreen->Source(index);
        QString camera =
            QString::fromStdU16String(ServerDisplayText(source.server.address, source.server.port));
        if (!IsStreamUrl(source.server.address))
            camera += QLatin1Char(' ') + FillNumber(channelText, source.channel + 1);
        QAction* stop =
            offScreen->addAction(LoadText(u"offscreen_stop").replace(QStringLiteral("%s"), camera));
        // By the session, not the index: the list may change before the click.
        connect(stop, &QAction::triggered, this,
                [this, session = QPointer<ViewingSession>(m_offScreen->Session(index))] {
                    m_offScreen->StopRecording(session.data());
                });
    }
}

}  // namespace kavrel

#include "COrvaneDlgRecord.moc"
