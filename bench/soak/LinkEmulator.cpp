// kavrel-linkem: a point-to-point IPv4 link with a fixed delay and random
// loss, made in user space for kernels without the netem queueing discipline.
//
//   kavrel-linkem --netns NAME [--near kvt0] [--far kvt1] [--delay-ms 200]
//                 [--loss-percent 2] [--limit 1000] [--seed 1] [--start-clear 1]
//
// It creates two TUN devices: NEAR in the caller's network namespace and FAR
// in the namespace NAME (/var/run/netns/NAME, as `ip netns add` makes it).
// Every IP packet the kernel sends out of one device is read here, dropped
// with the given probability, otherwise held for the delay and written into
// the other device, where the kernel receives it. Each direction is delayed
// and thinned on its own, like netem on both ends of a veth pair. At most
// --limit packets wait per direction (netem's default limit); more are
// dropped and counted. The caller gives the devices their addresses and
// brings them up once "kavrel-linkem ready" is on stdout. SIGINT or SIGTERM
// prints the counts and ends it. SIGUSR2 clears the link (no delay, no loss)
// and SIGUSR1 impairs it again, so that a soak can impair it for a while;
// --start-clear 1 starts it clear. Needs root (CAP_NET_ADMIN).
//
// Exit status: 0 after a signal, 1 when a device cannot be made, 2 for bad options.

#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_impaired = 1;  // delay and loss apply (SIGUSR1 / SIGUSR2)
void OnSignal(int) {
    g_stop = 1;
}
void OnImpair(int signal) {
    g_impaired = signal == SIGUSR1;
}

struct Options {
    std::string netns;
    std::string near = "kvt0";
    std::string far = "kvt1";
    int delayMs = 200;
    double lossPercent = 2.0;
    size_t limit = 1000;
    unsigned seed = 1;
    bool startClear = false;
};

// A TUN device (IP packets, no extra header); -1 on failure.
int OpenTun(const std::string& name) {
    const int fd = ::open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    ifreq request{};
    request.ifr_flags = IFF_TUN | IFF_NO_PI;
    std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
    if (::ioctl(fd, TUNSETIFF, &request) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One direction of the link: packets read from `from` wait here until due.
struct Direction {
    const char* name;
    int from = -1;
    int to = -1;
    struct Packet {
        Clock::time_point due;
        std::vector<uint8_t> bytes;
    };
    std::deque<Packet> waiting;  // in arrival order; the delay is fixed, so due times rise
    unsigned long long received = 0, lost = 0, overflow = 0, delivered = 0, writeErrors = 0;
};

bool Parse(int argc, char** argv, Options& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const char* value = argv[i + 1];
        char* end = nullptr;
        if (option == "--netns") {
            o.netns = value;
        } else if (option == "--near") {
            o.near = value;
        } else if (option == "--far") {
            o.far = value;
        } else if (option == "--delay-ms") {
            o.delayMs = int(std::strtol(value, &end, 10));
            if (*end || o.delayMs < 0 || o.delayMs > 60000)
                return false;
        } else if (option == "--loss-percent") {
            o.lossPercent = std::strtod(value, &end);
            if (*end || o.lossPercent < 0 || o.lossPercent > 100)
                return false;
        } else if (option == "--limit") {
            o.limit = size_t(std::strtoul(value, &end, 10));
            if (*end || o.limit == 0)
                return false;
        } else if (option == "--seed") {
            o.seed = unsigned(std::strtoul(value, &end, 10));
            if (*end)
                return false;
        } else if (option == "--start-clear") {
            o.startClear = std::strcmp(value, "1") == 0;
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && !o.netns.empty() && o.near.size() < IFNAMSIZ && o.far.size() < IFNAMSIZ;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!Parse(argc, argv, options)) {
        std::fprintf(
            stderr,
            "usage: kavrel-linkem --netns NAME [--near kvt0] [--far kvt1] "
            "[--delay-ms 200] [--loss-percent 2] [--limit 1000] [--seed 1] [--start-clear 1]\n");
        return 2;
    }
    const int nearFd = OpenTun(options.near);
    if (nearFd < 0) {
        std::fprintf(stderr, "kavrel-linkem: cannot make %s: %s\n", options.near.c_str(),
                     std::strerror(errno));
        return 1;
    }
    // This process is single-threaded: setns moves all of it, and the first
    // device stays where it was made.
    const std::string nsPath = "/var/run/netns/" + options.netns;
    const int nsFd = ::open(nsPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (nsFd < 0 || ::setns(nsFd, CLONE_NEWNET) < 0) {
        std::fprintf(stderr, "kavrel-linkem: cannot enter %s: %s\n", nsPath.c_str(),
                     std::strerror(errno));
        return 1;
    }
    ::close(nsFd);
    const int farFd = OpenTun(options.far);
    if (farFd < 0) {
        std::fprintf(stderr, "kavrel-linkem: cannot make %s in %s: %s\n", options.far.c_str(),
                     options.netns.c_str(), std::strerror(errno));
        return 1;
    }

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    struct sigaction impair {};
    impair.sa_handler = OnImpair;
    sigaction(SIGUSR1, &impair, nullptr);
    sigaction(SIGUSR2, &impair, nullptr);
    g_impaired = !options.startClear;

    Direction directions[2];
    directions[0].name = "near->far";
    directions[0].from = nearFd;
    directions[0].to = farFd;
    directions[1].name = "far->near";
    directions[1].from = farFd;
    directions[1].to = nearFd;
    std::mt19937 random(options.seed);
    std::uniform_real_distribution<double> percent(0.0, 100.0);
    const auto delay = std::chrono::milliseconds(options.delayMs);

    std::printf("kavrel-linkem ready: %s <-> %s (netns %s), delay %d ms, loss %.2f %% each way\n",
                options.near.c_str(), options.far.c_str(), options.netns.c_str(), options.delayMs,
                options.lossPercent);
    std::fflush(stdout);

    std::vector<uint8_t> buffer(65536);
    while (!g_stop) {
        // Sleep until a packet arrives or the earliest waiting one is due.
        int timeoutMs = -1;
        const Clock::time_point now = Clock::now();
        for (const Direction& d : directions) {
            if (d.waiting.empty())
                continue;
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(d.waiting.front().due - now);
            const int ms = int(std::max<long long>(0, left.count()));
            timeoutMs = timeoutMs < 0 ? ms : std::min(timeoutMs, ms);
        }
        pollfd fds[2] = {{nearFd, POLLIN, 0}, {farFd, POLLIN, 0}};
        if (::poll(fds, 2, timeoutMs) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            Direction& d = directions[i];
            if (!(fds[i].revents & POLLIN))
                continue;
            for (;;) {
                const ssize_t got = ::read(d.from, buffer.data(), buffer.size());
                if (got <= 0)
                    break;
                ++d.received;
                const bool impaired = g_impaired;
                if (impaired && percent(random) < options.lossPercent) {
                    ++d.lost;
                } else if (d.waiting.size() >= options.limit) {
                    ++d.overflow;
                } else {
                    d.waiting.push_back(
                        {Clock::now() + (impaired ? delay : Clock::duration::zero()),
                         std::vector<uint8_t>(buffer.begin(), buffer.begin() + got)});
                }
            }
        }
        const Clock::time_point after = Clock::now();
        for (Direction& d : directions) {
            while (!d.waiting.empty() && d.waiting.front().due <= after) {
                const std::vector<uint8_t>& bytes = d.waiting.front().bytes;
                if (::write(d.to, bytes.data(), bytes.size()) == ssize_t(bytes.size()))
                    ++d.delivered;
                else
                    ++d.writeErrors;
                d.waiting.pop_front();
            }
        }
    }
    for (const Direction& d : directions) {
        std::printf(
            "kavrel-linkem %s: %llu packets, %llu lost (%.2f %%), %llu over the limit, "
            "%llu delivered, %llu write errors\n",
            d.name, d.received, d.lost,
            d.received ? 100.0 * double(d.lost) / double(d.received) : 0.0, d.overflow, d.delivered,
            d.writeErrors);
    }
    std::fflush(stdout);
    ::close(nearFd);
    ::close(farFd);
    return 0;
}
