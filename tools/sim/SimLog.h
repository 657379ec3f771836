#pragma once
// The simulator's event log: one line per event on stderr, prefixed with the
// seconds since start, so a person can follow a session and a test can wait
// for a line. Callable from any thread; each line is written whole.

namespace kavrel::sim {

// printf-style; the line end is added.
void LogEvent(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kavrel::sim
