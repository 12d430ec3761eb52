// Child processes on POSIX: posix_spawn, SIGKILL and waitpid.
#include "platform/testing/process.h"

#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace platform {

ProcessHandle StartProcess(const char* program, const char* const* arguments) {
    std::vector<char*> argv{const_cast<char*>(program)};
    for (const char* const* a = arguments; a && *a; ++a) argv.push_back(const_cast<char*>(*a));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program, nullptr, nullptr, argv.data(), environ) != 0) return 0;
    return static_cast<ProcessHandle>(pid);
}

bool KillProcess(ProcessHandle process) { return kill(static_cast<pid_t>(process), SIGKILL) == 0; }

int32_t WaitProcess(ProcessHandle process) {
    int status = 0;
    while (waitpid(static_cast<pid_t>(process), &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace platform
