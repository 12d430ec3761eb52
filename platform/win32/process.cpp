// Child processes on Win32: CreateProcessA, TerminateProcess and the process's exit code.
#include "platform/testing/process.h"
#include "platform/win32/win32.h"

#include <string>

namespace platform {
namespace {

// One argument as the runtime's command-line parser reads it back: quoted, with the
// backslashes before a quote doubled.
void AppendQuoted(std::string& line, const char* argument) {
    line += '"';
    size_t backslashes = 0;
    for (const char* p = argument; *p; ++p) {
        if (*p == '\\') {
            ++backslashes;
            continue;
        }
        if (*p == '"') line.append(backslashes * 2 + 1, '\\');
        else line.append(backslashes, '\\');
        backslashes = 0;
        line += *p;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}

constexpr DWORD kKilledExitCode = 0xDEAD;

}  // namespace

ProcessHandle StartProcess(const char* program, const char* const* arguments) {
    std::string line;
    AppendQuoted(line, program);
    for (const char* const* a = arguments; a && *a; ++a) {
        line += ' ';
        AppendQuoted(line, *a);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessA(program, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return 0;
    ::CloseHandle(info.hThread);
    return reinterpret_cast<ProcessHandle>(info.hProcess);
}

bool KillProcess(ProcessHandle process) {
    return ::TerminateProcess(reinterpret_cast<HANDLE>(process), kKilledExitCode) != FALSE;
}

int32_t WaitProcess(ProcessHandle process) {
    HANDLE h = reinterpret_cast<HANDLE>(process);
    ::WaitForSingleObject(h, INFINITE);
    DWORD code = 0;
    const bool known = ::GetExitCodeProcess(h, &code) != FALSE;
    ::CloseHandle(h);
    if (!known || code == kKilledExitCode) return -1;
    return static_cast<int32_t>(code);
}

}  // namespace platform
