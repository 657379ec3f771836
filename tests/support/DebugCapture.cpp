#include "tests/support/DebugCapture.h"

#include <algorithm>

namespace kavrel::test {

DebugCapture::DebugCapture() {
    m_previous = SetDebugSink([this](std::string_view line) {
        std::lock_guard lock(m_mutex);
        m_lines.emplace_back(line);
    });
}

DebugCapture::~DebugCapture() {
    SetDebugSink(std::move(m_previous));
}

std::vector<std::string> DebugCapture::Lines() const {
    std::lock_guard lock(m_mutex);
    return m_lines;
}

int DebugCapture::Count(const std::string& line) const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(std::count(m_lines.begin(), m_lines.end(), line));
}

bool DebugCapture::AnyContains(const std::string& fragment) const {
    std::lock_guard lock(m_mutex);
    return std::any_of(m_lines.begin(), m_lines.end(),
                       [&](const std::string& l) { return l.find(fragment) != std::string::npos; });
}

void DebugCapture::Clear() {
    std::lock_guard lock(m_mutex);
    m_lines.clear();
}

}  // namespace kavrel::test
