#include "app/StreamMonitor.h"

#include <QLocale>
#include <QSize>

#include "video/CVideoAtom.h"
#include "video/StreamCodec.h"

namespace kavrel {
namespace {

// Shown for a number nothing has measured yet.
const QString kNone = QStringLiteral("\u2013");

}  // namespace

StreamMonitor::StreamMonitor(CVideoAtom* video, TextLookup text, QObject* parent)
    : QObject(parent), m_video(video), m_text(std::move(text)) {
    m_seen = m_video->Pipeline().Counters();
    m_video->Pipeline().TakeLongestDecode();
    connect(m_video, &CVideoAtom::picturePainted, this, &StreamMonitor::OnPainted);
    connect(m_video, &CVideoAtom::statisticsShownChanged, this, &StreamMonitor::OnShownChanged);
    connect(&m_timer, &QTimer::timeout, this, &StreamMonitor::Refresh);
    OnShownChanged(m_video->StatisticsShown());
}

void StreamMonitor::Sample(FrameClock::time_point now) {
    VideoPipeline& pipeline = m_video->Pipeline();
    const PipelineCounters counters = pipeline.Counters();
    const auto longest = pipeline.TakeLongestDecode();
    m_timeline.AddReceived(now,
                           (counters.framesAdded + counters.framesRefused) -
                               (m_seen.framesAdded + m_seen.framesRefused),
                           counters.bytesAdded - m_seen.bytesAdded);
    m_timeline.AddDecoded(
        now, counters.framesDecoded - m_seen.framesDecoded,
        std::chrono::nanoseconds(counters.decodeNanoseconds - m_seen.decodeNanoseconds), longest);
    m_timeline.AddDropped(now, counters.framesDropped - m_seen.framesDropped);
    m_seen = counters;
}

void StreamMonitor::OnPainted(const FrameStamps& stamps, FrameClock::time_point paintedAt) {
    Sample(paintedAt);
    m_timeline.AddShown(paintedAt, paintedAt - stamps.arrival);
}

FrameTimelineSummary StreamMonitor::Summary() {
    const auto now = FrameClock::now();
    Sample(now);
    return m_timeline.Summarise(now);
}

void StreamMonitor::OnShownChanged(bool on) {
    m_timer.start(on ? kRefresh : kSampling);
    if (on)
        Refresh();
}

void StreamMonitor::Refresh() {
    const auto now = FrameClock::now();
    Sample(now);
    if (m_video->StatisticsShown())
        m_video->SetStatisticsPanel(MakePanel(m_timeline.Summarise(now), now));
}

QString StreamMonitor::Milliseconds(double ms) {
    return ms < 0 ? kNone : QLocale().toString(ms, 'f', 1);
}

QString StreamMonitor::PerSecond(double rate) {
    return QLocale().toString(rate, 'f', 1);
}

StatisticsPanel StreamMonitor::MakePanel(const FrameTimelineSummary& summary,
                                         FrameClock::time_point now) {
    const QLocale locale;
    const QString slash = QStringLiteral(" / ");
    const QSize size = m_video->LatestPictureSource();
    const QString codec = QString::fromUtf8(CodecName(m_video->Pipeline().Codec()));

    StatisticsPanel panel;
    panel.rows = {
        {m_text(u"stats_codec"), codec.isEmpty() ? kNone : codec},
        {m_text(u"stats_size"), size.isEmpty()
                                    ? kNone
                                    : locale.toString(size.width()) + QStringLiteral(" \u00d7 ") +
                                          locale.toString(size.height())},
        {m_text(u"stats_fps"),
         PerSecond(summary.receivedPerSecond) + slash + PerSecond(summary.shownPerSecond)},
        {m_text(u"stats_dropped"), locale.toString(qulonglong(summary.dropped))},
        {m_text(u"stats_decode"),
         Milliseconds(summary.decodeMeanMs) + slash + Milliseconds(summary.decodeMaxMs)},
        {m_text(u"stats_latency"),
         Milliseconds(summary.latencyMedianMs) + slash + Milliseconds(summary.latencyP95Ms)},
        {m_text(u"stats_bitrate"), locale.toString(qlonglong(summary.bitRateKbps + 0.5))},
    };
    for (std::u16string_view key :
         {u"stats_codec_short", u"stats_size_short", u"stats_fps_short", u"stats_dropped_short",
          u"stats_decode_short", u"stats_latency_short", u"stats_bitrate_short"})
        panel.shortLabels.push_back(m_text(key));
    panel.graphTitle = m_text(u"stats_graph");
    panel.latencyLabel = m_text(u"stats_graph_latency");
    panel.bitRateLabel = m_text(u"stats_graph_bitrate");
    for (const FrameTimelinePoint& point : m_timeline.History(now)) {
        panel.latencyMs.push_back(point.latencyMedianMs);
        panel.bitRateKbps.push_back(point.bitRateKbps);
    }
    return panel;
}

}  // namespace kavrel
