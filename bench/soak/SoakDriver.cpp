#include "bench/soak/SoakDriver.h"

#include "app/COrvaneDlg.h"
#include "skin/ControlIds.h"
#include "video/CVideoAtom.h"
#include "video/VideoPipeline.h"

namespace kavrel::soak {

SoakDriver::SoakDriver(COrvaneDlg& window, SoakOptions options)
    : m_window(window), m_options(options), m_sampler(double(options.settle.count())) {
    m_breakText = m_window.LoadText(u"connect_break");
    m_timeoutText = m_window.LoadText(u"connect_timeout");
    m_failedText = m_window.LoadText(u"connect_failed");
    connect(&m_window, &COrvaneDlg::statusShown, this, &SoakDriver::OnStatus);

    m_sampleTimer.setInterval(std::chrono::seconds(1));
    connect(&m_sampleTimer, &QTimer::timeout, this, &SoakDriver::OnSampleTick);
    m_channelTimer.setInterval(m_options.channelEvery);
    connect(&m_channelTimer, &QTimer::timeout, this, &SoakDriver::OnChannelTick);
    m_endTimer.setSingleShot(true);
    m_endTimer.setInterval(m_options.duration);
    connect(&m_endTimer, &QTimer::timeout, this, [this] {
        m_sampleTimer.stop();
        m_channelTimer.stop();
        OnSampleTick();  // the end figure
        emit finished();
    });
}

void SoakDriver::Start() {
    if (m_options.samples) {
        std::fprintf(m_options.samples,
                     "seconds,resident_kb,cpu_percent,decoded,drawn,dropped,discarded,refused,"
                     "decode_failures,queued,watchdog_restarts\n");
    }
    m_sampler.Sample();
    PressCommand(control::kPlay);
    m_sampleTimer.start();
    if (m_options.channelEvery.count() > 0 && m_options.channels > 1)
        m_channelTimer.start();
    m_endTimer.start();
}

void SoakDriver::PressCommand(int id) {
    m_inOwnCommand = true;
    m_window.OnCommand(id);
    m_inOwnCommand = false;
}

void SoakDriver::OnStatus(const QString& text) {
    if (m_breakPending) {
        m_breakPending = false;
        if (text == m_timeoutText)
            ++m_counts.loginTimeouts;
        else
            ++m_counts.watchdogRestarts;
    }
    if (text == m_failedText)
        ++m_counts.connectFailures;
    if (!m_inOwnCommand && text == m_breakText)
        m_breakPending = true;
}

void SoakDriver::OnChannelTick() {
    const int channel = m_nextChannel;
    m_nextChannel = (m_nextChannel + 1) % m_options.channels;
    ++m_counts.channelChanges;
    PressCommand(control::kFirstChannel + channel);
}

void SoakDriver::OnSampleTick() {
    // A reconnect that failed (the server was restarting) leaves the idle
    // face: press Play as the user would.
    if (!m_window.PlayFaceActive() && m_endTimer.isActive()) {
        ++m_counts.playPressedAgain;
        PressCommand(control::kPlay);
    }
    const ProcessSample& sample = m_sampler.Sample();
    VideoPipeline& pipeline = m_window.VideoWindow()->Pipeline();
    const PipelineCounters c = pipeline.Counters();
    if (m_options.samples) {
        std::fprintf(m_options.samples, "%.1f,%lld,%.1f,%llu,%llu,%llu,%llu,%llu,%llu,%zu,%d\n",
                     sample.seconds, (long long)sample.residentKb, sample.cpuPercent,
                     (unsigned long long)c.framesDecoded, (unsigned long long)c.picturesDrawn,
                     (unsigned long long)c.framesDropped, (unsigned long long)c.framesDiscarded,
                     (unsigned long long)c.framesRefused, (unsigned long long)c.decodeFailures,
                     pipeline.QueuedFrames(), m_counts.watchdogRestarts);
        std::fflush(m_options.samples);
    }
    const size_t count = m_sampler.Samples().size();
    if (count % 60 == 1) {
        std::printf(
            "soak: %5.0f s  resident %6lld KB  cpu %5.1f %%  decoded %llu  dropped %llu  "
            "restarts %d\n",
            sample.seconds, (long long)sample.residentKb, sample.cpuPercent,
            (unsigned long long)c.framesDecoded, (unsigned long long)c.framesDropped,
            m_counts.watchdogRestarts);
        std::fflush(stdout);
    }
}

bool SoakDriver::PrintSummary(std::FILE* out) const {
    const ProcessSampler::Summary s = m_sampler.Summarise();
    const PipelineCounters c = m_window.VideoWindow()->Pipeline().Counters();
    auto mb = [](int64_t kb) { return double(kb) / 1024.0; };
    std::fprintf(out, "soak summary after %.0f s\n",
                 m_sampler.Samples().empty() ? 0.0 : m_sampler.Samples().back().seconds);
    std::fprintf(out, "  memory (VmRSS): start %.1f MB, peak %.1f MB (at %.0f s), end %.1f MB\n",
                 mb(s.startKb), mb(s.peakKb), s.peakAtSeconds, mb(s.endKb));
    std::fprintf(out,
                 "  memory after the first %lld s (%d samples): first %.1f MB, min %.1f MB, "
                 "max %.1f MB, end %.1f MB, trend %+.1f KB/min\n",
                 (long long)m_options.settle.count(), s.settledSamples, mb(s.settledStartKb),
                 mb(s.settledMinKb), mb(s.settledMaxKb), mb(s.endKb), s.settledSlopeKbPerMinute);
    std::fprintf(out, "  cpu: mean %.1f %% of one core, peak %.1f %% (1 s samples)\n",
                 s.meanCpuPercent, s.peakCpuPercent);
    std::fprintf(out,
                 "  frames: queued %llu, decoded %llu, drawn %llu, dropped %llu (drop policy), "
                 "discarded %llu (released unplayed by a stop), refused %llu, decode failures "
                 "%llu\n",
                 (unsigned long long)c.framesAdded, (unsigned long long)c.framesDecoded,
                 (unsigned long long)c.picturesDrawn, (unsigned long long)c.framesDropped,
                 (unsigned long long)c.framesDiscarded, (unsigned long long)c.framesRefused,
                 (unsigned long long)c.decodeFailures);
    std::fprintf(out,
                 "  session: channel changes %d, watchdog restarts %d, login time-outs %d, "
                 "failed connects %d, Play pressed again %d\n",
                 m_counts.channelChanges, m_counts.watchdogRestarts, m_counts.loginTimeouts,
                 m_counts.connectFailures, m_counts.playPressedAgain);
    std::fflush(out);
    return c.framesDecoded > 0;
}

}  // namespace kavrel::soak
