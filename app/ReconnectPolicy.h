#pragma once
// When a session that the user wants to watch tries again after a failure:
// the back-off schedule, its jitter and the count-down text.
//
// Pure functions and a plain record, so the schedule is testable without a
// clock; the session keeps the state (how many failures in a row).

#include <QString>
#include <chrono>
#include <vector>

namespace kavrel {

struct ReconnectPolicy {
    // The wait before retry n (1-based) is steps[n - 1]; later retries wait
    // the last step, which is also the cap: no wait, jitter included, is
    // longer, so a server that is back again shows pictures within it. Never
    // empty.
    std::vector<std::chrono::milliseconds> steps = {
        std::chrono::seconds(1), std::chrono::seconds(2), std::chrono::seconds(4),
        std::chrono::seconds(8), std::chrono::seconds(10)};
    // Each wait is stretched or shrunk by up to this share, at random, so
    // that viewers that lost the same server do not come back in step (a
    // stretch that would pass the cap is squeezed below it, not cut off).
    double jitter = 0.2;
    // A connection that showed pictures for this long starts the schedule
    // afresh when it fails.
    std::chrono::milliseconds stableViewing = std::chrono::seconds(60);
    // How often the count-down in the status line is brought up to date.
    std::chrono::milliseconds countdownTick = std::chrono::seconds(1);
    // Dialect switches followed in a row without a picture; one more counts
    // as a failed connect.
    int maxDialectFollows = 3;
};

// The wait before retry `retry` (1-based), with `unit` in [0, 1) choosing the
// jitter: 0 gives the shortest, values near 1 the longest wait, never more
// than the last step.
std::chrono::milliseconds RetryDelay(const ReconnectPolicy& policy, int retry, double unit);

// The "reconnect_in" text with its first "%d" replaced by `seconds` and its
// second by `attempt`. Any other "%" stays as it is: the text comes from a
// file the user may edit, so it is never handed to a printf-style formatter.
QString FormatCountdown(const QString& text, int seconds, int attempt);

// Whole seconds left, to the nearest, at least 1 while anything is left (so
// a wait of 1 s with its jitter reads "1 s").
int SecondsLeft(std::chrono::milliseconds left);

}  // namespace kavrel
