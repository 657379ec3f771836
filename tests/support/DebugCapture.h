#pragma once
// Captures the debug lines written while it lives (tests only).

#include <mutex>
#include <string>
#include <vector>

#include "platform/DebugSink.h"

namespace kavrel::test {

class DebugCapture {
  public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    std::vector<std::string> Lines() const;
    // Number of captured lines equal to `line`.
    int Count(const std::string& line) const;
    bool Contains(const std::string& line) const { return Count(line) > 0; }
    // True when some captured line contains `fragment`.
    bool AnyContains(const std::string& fragment) const;
    void Clear();

  private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;  // guarded by m_mutex
    DebugSinkFunction m_previous;
};

}  // namespace kavrel::test
