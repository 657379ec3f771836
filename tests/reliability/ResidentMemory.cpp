#include "tests/reliability/ResidentMemory.h"

#include <cstdio>
#include <cstring>

namespace kavrel::test {

int64_t ResidentMemoryKb() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status)
        return 0;
    char line[256];
    long long kb = 0;
    while (std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, "VmRSS:", 6) == 0) {
            std::sscanf(line + 6, "%lld", &kb);
            break;
        }
    }
    std::fclose(status);
    return kb;
}

}  // namespace kavrel::test
