#include "bench/soak/WallSoak.h"

#include <QDateTime>
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "app/CameraWall.h"
#include "video/CVideoAtom.h"

namespace kavrel::soak {

int ReadThreadCount() {
    return int(ReadStatusField("Threads:"));
}

int ReadDescriptorCount() {
    std::error_code error;
    int count = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error))
        ++count;
    return std::max(0, count - 1);  // less the one the listing itself holds open
}

WallSoak::WallSoak(WallSoakOptions options)
    : m_options(std::move(options)), m_lastPictureMs(kTiles, -1) {
    m_window.resize(1280, 1024);
    m_window.setWindowTitle("kavrel-soak wall");
    m_wall = new CameraWall(&m_window);
    m_wall->setGeometry(m_window.rect());
    m_sampleTimer.setInterval(std::chrono::seconds(1));
    connect(&m_sampleTimer, &QTimer::timeout, this, &WallSoak::OnSampleTick);
    m_endTimer.setSingleShot(true);
    m_endTimer.setInterval(m_options.duration);
    connect(&m_endTimer, &QTimer::timeout, this, [this] {
        m_sampleTimer.stop();
        OnSampleTick();  // the end figure
        emit finished();
    });
}

// The sessions end with the wall, before the window they draw into.
WallSoak::~WallSoak() {
    delete m_wall;
}

void WallSoak::Start() {
    const size_t servers = m_options.servers.size();
    WallView view;
    view.layout = WallLayout::Grid4;
    for (int index = 0; index < kTiles; ++index)
        view.tiles.push_back({m_options.servers[size_t(index) % servers], ProtocolVariant::Current,
                              int(size_t(index) / servers)});
    CameraWall::Setup setup;
    setup.server = m_options.servers.front();
    setup.snapshotFolder = m_snapshots.path().toStdString();
    m_window.show();
    m_wall->show();
    m_clock.start();
    m_wall->Show(view, setup);
    for (int index = 0; index < kTiles; ++index) {
        connect(m_wall->Tile(index), &CVideoAtom::pictureShown, this,
                [this, index] { m_lastPictureMs[size_t(index)] = m_clock.elapsed(); });
    }
    if (m_options.samples) {
        std::fprintf(m_options.samples,
                     "epoch,seconds,resident_kb,threads,fds,cpu_percent,ui_late_ms,plays");
        for (int index = 0; index < kTiles; ++index)
            std::fprintf(m_options.samples, ",age%d", index);
        std::fprintf(m_options.samples, "\n");
    }
    m_probe.Reset();
    m_sampleTimer.start();
    m_endTimer.start();
}

int WallSoak::TilesWithPictures() const {
    return int(std::count_if(m_lastPictureMs.begin(), m_lastPictureMs.end(),
                             [](qint64 at) { return at >= 0; }));
}

void WallSoak::OnSampleTick() {
    if (++m_ticks % int(kReplayEvery.count()) == 0 && m_endTimer.isActive()) {
        for (int index = 0; index < kTiles; ++index)
            m_playPresses += m_wall->Session(index)->Watching() ? 0 : 1;
        m_wall->StartAll();
    }
    const ProcessSample& sample = m_sampler.Sample();
    const long long lateMs = m_probe.MaxLateness().count();
    m_probe.Reset();
    if (!m_options.samples)
        return;
    const qint64 now = m_clock.elapsed();
    std::fprintf(m_options.samples, "%.3f,%.1f,%lld,%d,%d,%.1f,%lld,%d",
                 double(QDateTime::currentMSecsSinceEpoch()) / 1000.0, sample.seconds,
                 (long long)sample.residentKb, ReadThreadCount(), ReadDescriptorCount(),
                 sample.cpuPercent, lateMs, m_playPresses);
    for (qint64 at : m_lastPictureMs)
        std::fprintf(m_options.samples, ",%lld", at < 0 ? -1LL : (long long)(now - at));
    std::fprintf(m_options.samples, "\n");
    std::fflush(m_options.samples);
}

}  // namespace kavrel::soak
