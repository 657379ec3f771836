#pragma once
// What the viewer measures of one session's stream over the last minute
// (video/FrameTimeline.h), and the statistics panel it gives the session's
// video window while that window shows one.
//
// Where the numbers come from, without a lock of their own on any hot path:
//  - frames and bytes received, frames decoded and their decode time, frames
//    dropped: the pipeline's running counters (atomics the receive and decode
//    threads bump anyway), whose growth is sampled here;
//  - each picture's arrival and decode stamps travel with the picture to the
//    user-interface thread, and the paint that shows it reports them with the
//    time it was painted (CVideoAtom::picturePainted): latency is painted
//    minus arrival.
// Sampling happens at each painted picture and once a second, so counts land
// in the right second even while no picture is painted.
//
// The panel is rebuilt every kRefresh while the video window's statistics are
// on, and never while they are off.
//
// Thread: the user-interface thread, which owns this object.

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <string_view>

#include "video/FrameTimeline.h"
#include "video/StatisticsPanel.h"
#include "video/VideoPipeline.h"

namespace kavrel {

class CVideoAtom;

class StreamMonitor : public QObject {
    Q_OBJECT

  public:
    static constexpr std::chrono::milliseconds kRefresh{500};
    static constexpr std::chrono::milliseconds kSampling{1000};

    using TextLookup = std::function<QString(std::u16string_view key)>;
    // Watches `video` (which must outlive this object) from now on; `text`
    // gives the panel's labels.
    StreamMonitor(CVideoAtom* video, TextLookup text, QObject* parent = nullptr);

    // The last minute, counted up to now.
    FrameTimelineSummary Summary();
    // The panel for the numbers of `summary` and the graph up to `now`.
    StatisticsPanel MakePanel(const FrameTimelineSummary& summary, FrameClock::time_point now);
    // The numbers as the panel writes them (fixed decimals, QLocale).
    static QString Milliseconds(double ms);
    static QString PerSecond(double rate);

  private:
    void Sample(FrameClock::time_point now);
    void OnPainted(const FrameStamps& stamps, FrameClock::time_point paintedAt);
    void OnShownChanged(bool on);
    void Refresh();

    CVideoAtom* const m_video;
    const TextLookup m_text;
    FrameTimeline m_timeline;
    PipelineCounters m_seen;  // the counters at the last sample
    QTimer m_timer;           // sampling, and the panel's refresh while shown
};

}  // namespace kavrel
