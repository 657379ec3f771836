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
#include "settings/HistoryEntry.h"
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
class RecordBadge : public QWidget {
  public:
    explicit RecordBadge(QWidget* video) : QWidget(video) {
        setObjectName(QStringLiteral("recordBadge"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    void Show(const QString& text) {
        const QFontMetrics metrics(font());
        const int height = metrics.height() + 4;
        const int width = height + metrics.horizontalAdvance(text) + 8;
        setGeometry(parentWidget()->width() - width - 4, 4, width, height);
        if (m_text != text) {
            m_text = text;
            update();
        }
        show();
        raise();
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
            badge->hide();
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
    connect(m_offScreen, &OffScreenRecordings::statusShown, this, &COrvaneDlg::ShowText);
}

void COrvaneDlg::UpdateOffScreenMark() {
    const int count = m_offScreen ? m_offScreen->Count() : 0;
    if (count == 0) {
        m_offScreenMark->hide();
        return;
    }
    m_offScreenMark->setText(FillNumber(LoadText(u"offscreen_mark"), count));
    PlaceOffScreenMark();
    m_offScreenMark->show();
    m_offScreenMark->raise();
}

void COrvaneDlg::PlaceOffScreenMark() {
    if (!m_offScreenMark)
        return;
    // The bottom right corner of the video area: the corner no picture's
    // own marks take.
    const QRect area = m_fullScreen ? rect() : m_videoWindowRect;
    m_offScreenMark->setFont(font());
    const QSize size = m_offScreenMark->sizeHint();
    m_offScreenMark->setGeometry(area.right() - 4 - size.width(), area.bottom() - 4 - size.height(),
                                 size.width(), size.height());
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
        const QString camera = QString::fromStdU16String(
                                   ServerDisplayText(source.server.address, source.server.port)) +
                               QLatin1Char(' ') + FillNumber(channelText, source.channel + 1);
        QAction* stop =
            offScreen->addAction(LoadText(u"offscreen_stop").replace(QStringLiteral("%s"), camera));
        // By the session, not the index: the list may change before the click.
        connect(stop, &QAction::triggered, this,
                [this, session = QPointer<ViewingSession>(m_offScreen->Session(index))] {
                    for (int at = 0; at < m_offScreen->Count(); ++at) {
                        if (m_offScreen->Session(at) == session.data())
                            m_offScreen->StopRecording(at);
                    }
                });
    }
}

}  // namespace kavrel
