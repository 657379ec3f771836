#pragma once
// The calling process's resident memory, for tests that bound memory growth.

#include <cstdint>

namespace kavrel::test {

// VmRSS from /proc/self/status in KB; 0 when it cannot be read.
int64_t ResidentMemoryKb();

}  // namespace kavrel::test
