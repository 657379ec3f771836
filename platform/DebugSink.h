#pragma once
// The program's one debug output (the handheld's OutputDebugString).
//
// Lines go to the Qt logging category "kavrel" at debug level, which is off
// unless a person enables it (QT_LOGGING_RULES="kavrel.debug=true"). Tests
// replace the sink to capture the exact lines. Callable from any thread.
// Never pass a password here.

#include <functional>
#include <string>
#include <string_view>

namespace kavrel {

using DebugSinkFunction = std::function<void(std::string_view line)>;

// Writes one line as given (callers include the trailing "\n" where the
// design has one).
void DebugOutput(std::string_view line);

// printf-style convenience: DebugPrintf("Unknow command:%d\n", type).
void DebugPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Installs a sink and returns the previous one; an empty function restores the
// default Qt logging sink. The sink is called under an internal lock, so it
// sees lines one at a time in the order they were written.
DebugSinkFunction SetDebugSink(DebugSinkFunction sink);

}  // namespace kavrel
