// Console control events on Windows. The system calls the handler on a thread of its own.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>

#include "app/console/close_requests.h"
#include "app/console/signals.h"
#include "app/rebuild_run.h"
#include "platform/platform.h"

namespace app {

namespace {

bool RunGoing() { return platform::AtomicLoad(&SharedRun().runState) != RunIdle; }

BOOL WINAPI OnConsoleControl(DWORD event) {
    // Nothing started: the default handler ends the program.
    if (ClosePhase() == kCloseEndsAtOnce && !RunGoing()) return FALSE;
    const char* line = NoteCloseRequest();
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
    // Closing the console, logging off and shutting down end the process as soon as this
    // returns: hold on until the rebuild is over, for as long as the system allows.
    while (RunGoing() || ClosePhase() == kCloseFinishesRun) ::Sleep(50);
    return TRUE;
}

}  // namespace

void InstallCloseHandlers() { ::SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

bool StartRunWithCloseRequests() {
    SetClosePhase(kCloseFinishesRun);
    const bool started = StartRebuild();
    if (!started) SetClosePhase(kCloseEndsAtOnce);
    return started;
}

}  // namespace app
