#pragma once
// Drives a 4x4 camera wall for a soak run with faults: the real CameraWall,
// its 16 tiles spread over the given servers (tile i plays channel i / n of
// server i mod n), shown in a top-level window. Every second it writes one
// CSV line: wall-clock time, resident memory, threads, open descriptors, CPU,
// the user-interface thread's worst lateness over that second, and each
// tile's age of its last picture. bench/soak_wall.sh reads it beside its
// fault log and gives the verdict.
//
// A tile whose login was refused stops for good, as it does for a user (a
// wrong password is not retried). A user who sees it presses Play again; the
// driver does that every kReplayEvery for the tiles that stand idle, as the
// wall's Play does (StartAll starts only those not watching).
//
// Thread: the user-interface thread only (timers and the tiles' signals).

#include <QElapsedTimer>
#include <QObject>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdio>
#include <vector>

#include "app/UiStallProbe.h"
#include "bench/soak/ProcessSampler.h"
#include "config/ServerSettings.h"

namespace kavrel {
class CameraWall;
}

namespace kavrel::soak {

struct WallSoakOptions {
    std::vector<ServerSettings> servers;  // at least one
    std::chrono::seconds duration{3600};
    std::FILE* samples = nullptr;  // one CSV line per second
};

// Threads and open descriptors of this process (0 when /proc cannot be read).
int ReadThreadCount();
int ReadDescriptorCount();

class WallSoak : public QObject {
    Q_OBJECT

  public:
    static constexpr int kTiles = 16;
    static constexpr std::chrono::seconds kReplayEvery{5};

    explicit WallSoak(WallSoakOptions options);
    ~WallSoak() override;

    // Shows the wall and starts its tiles; `finished` comes after the duration.
    void Start();
    // Tiles that showed a picture at least once.
    int TilesWithPictures() const;
    int PlayPresses() const { return m_playPresses; }

  signals:
    void finished();

  private:
    void OnSampleTick();

    const WallSoakOptions m_options;
    QTemporaryDir m_snapshots;
    QWidget m_window;
    CameraWall* m_wall = nullptr;  // child of m_window
    ProcessSampler m_sampler{0};
    UiStallProbe m_probe;
    QElapsedTimer m_clock;
    std::vector<qint64> m_lastPictureMs;  // by tile, -1 before the first
    QTimer m_sampleTimer;
    QTimer m_endTimer;
    int m_ticks = 0;
    int m_playPresses = 0;  // tiles Play was pressed again for
};

}  // namespace kavrel::soak
