// Child processes, for tests that run a program and may end it abruptly: the way a
// crash or a power cut ends a writer, without any of its own clean-up.
#pragma once

#include <cstdint>

namespace platform {

using ProcessHandle = intptr_t;  // 0 = none

// Starts `program` with `arguments` (a null-terminated list, the program's name not included),
// sharing this process's standard streams. 0 when it cannot be started.
ProcessHandle StartProcess(const char* program, const char* const* arguments);
// Ends the process at once (SIGKILL; TerminateProcess): no handler or destructor of its own runs.
bool KillProcess(ProcessHandle process);
// Waits for the process to end and releases the handle: its exit code, or -1 when it was
// killed or ended by a signal.
int32_t WaitProcess(ProcessHandle process);

}  // namespace platform
