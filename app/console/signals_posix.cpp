// Signals on POSIX. A handler counts the request and writes one line with write(2): nothing else
// is safe there. The worker thread is started with the signals blocked, so they always reach
// the waiting main thread and never interrupt the worker's file calls.
#include "app/console/signals.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

#include "app/console/close_requests.h"
#include "app/rebuild_run.h"
#include "platform/platform.h"

namespace app {

namespace {

constexpr int kCloseSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnCloseSignal(int signal) {
    if (ClosePhase() == kCloseEndsAtOnce && platform::AtomicLoad(&SharedRun().runState) == RunIdle) {
        // The default action ends the program with the signal's own status once this returns.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    const int savedErrno = errno;
    const char* line = NoteCloseRequest();
    ssize_t ignored = write(STDERR_FILENO, line, std::strlen(line));
    (void)ignored;  // nothing more can be done about a standard error that cannot be written
    errno = savedErrno;
}

sigset_t CloseSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kCloseSignals) sigaddset(&set, signal);
    return set;
}

}  // namespace

void InstallCloseHandlers() {
    std::signal(SIGPIPE, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = OnCloseSignal;
    action.sa_mask = CloseSignalSet();
    action.sa_flags = SA_RESTART;
    for (int signal : kCloseSignals) {
        // A signal the caller ignores (nohup) stays ignored.
        struct sigaction previous {};
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        sigaction(signal, &action, nullptr);
    }
}

bool StartRunWithCloseRequests() {
    const sigset_t set = CloseSignalSet();
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &set, &previous);
    SetClosePhase(kCloseFinishesRun);
    const bool started = StartRebuild();  // the worker inherits the blocked signals
    if (!started) SetClosePhase(kCloseEndsAtOnce);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return started;
}

}  // namespace app
