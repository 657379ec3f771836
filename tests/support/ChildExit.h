#pragma once
// The end of a child process a test started: waits for it and tells how it
// ended, as a shell would (its exit code, or 128 + the signal's number).

#include <sys/types.h>
#include <sys/wait.h>

#include <cerrno>

namespace kavrel::test {

inline int WaitForChildExit(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return 255;
}

}  // namespace kavrel::test
