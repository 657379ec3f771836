// kavrel-clockwatch: says when a CPU of this machine did not run at all, as
// the host freezes a virtual machine's CPUs (its own work, a snapshot, memory
// it reclaims) without counting it as stolen time.
//
//   kavrel-clockwatch [--period-ms 2] [--late-ms 8]
//
// One thread per CPU the process may run on, pinned to it, sleeps to an
// absolute deadline every PERIOD. As root it runs first-in-first-out ahead
// of every normal thread, so a wake-up LATE or more after its deadline means
// that the CPU itself did not run; each such wake-up is one line on stdout:
//
//   CPU DEADLINE LATE_MS      (DEADLINE: seconds since the epoch)
//
// Where every CPU has such a stretch at the same time, the whole machine
// stood still. Without the right to run first, a busy machine delays it too:
// it says so on stderr and goes on, and its lines then mean less.
// SIGINT or SIGTERM ends it. Exit status: 0 after a signal, 2 for bad options.

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

std::atomic<bool> g_stop{false};
std::mutex g_out;

void OnSignal(int) {
    g_stop.store(true);
}

int64_t Nanoseconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void Watch(int cpu, int64_t period, int64_t late) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    pthread_setaffinity_np(pthread_self(), sizeof one, &one);
    int64_t deadline = Nanoseconds(CLOCK_MONOTONIC) + period;
    while (!g_stop.load(std::memory_order_relaxed)) {
        const timespec at{time_t(deadline / 1000000000), long(deadline % 1000000000)};
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
        const int64_t now = Nanoseconds(CLOCK_MONOTONIC);
        if (now - deadline >= late) {
            // Where the deadline lay on the wall clock, which the soak's
            // samples are stamped with.
            const int64_t wall = Nanoseconds(CLOCK_REALTIME) - (now - deadline);
            std::lock_guard lock(g_out);
            std::printf("%d %lld.%03lld %.1f\n", cpu, static_cast<long long>(wall / 1000000000),
                        static_cast<long long>(wall % 1000000000 / 1000000),
                        double(now - deadline) / 1e6);
            std::fflush(stdout);
        }
        // After a stretch it did not run, the next deadline lies at least
        // half a period on from now: the missed ones are not made up in a burst.
        deadline = std::max(deadline + period, now + period / 2);
    }
}

}  // namespace

int main(int argc, char** argv) {
    int periodMs = 2;
    int lateMs = 8;
    for (int i = 1; i < argc; ++i) {
        const bool value = i + 1 < argc;
        if (std::strcmp(argv[i], "--period-ms") == 0 && value) {
            periodMs = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--late-ms") == 0 && value) {
            lateMs = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: kavrel-clockwatch [--period-ms 2] [--late-ms 8]\n");
            return 2;
        }
    }
    if (periodMs < 1 || lateMs <= periodMs) {
        std::fprintf(stderr, "kavrel-clockwatch: wants 1 <= period < late\n");
        return 2;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    // Asked for the whole process before its threads start, so they all
    // inherit it.
    const sched_param first{1};
    if (sched_setscheduler(0, SCHED_FIFO, &first) != 0)
        std::fprintf(stderr,
                     "kavrel-clockwatch: cannot run first (%s): a busy machine delays "
                     "it too\n",
                     std::strerror(errno));
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    sched_getaffinity(0, sizeof allowed, &allowed);
    // The CPUs it watches, by number: a stop counts only where all of them
    // share it, and they need not be 0 to N - 1 (a run under taskset).
    std::fprintf(stderr, "kavrel-clockwatch watching CPUs");
    std::vector<std::thread> watchers;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &allowed)) {
            std::fprintf(stderr, " %d", cpu);
            watchers.emplace_back(Watch, cpu, int64_t(periodMs) * 1000000,
                                  int64_t(lateMs) * 1000000);
        }
    }
    std::fprintf(stderr, "\n");
    for (std::thread& watcher : watchers)
        watcher.join();
    return 0;
}
