#include "app/console/close_requests.h"

#include "app/rebuild_run.h"
#include "platform/platform.h"

namespace app {

namespace {

volatile int32_t g_phase = kCloseEndsAtOnce;
volatile int32_t g_requests = 0;

constexpr char kFinishingLine[] =
    "pellucor: finishing the rebuild first, so that the database is left complete; this can take a while\n";
constexpr char kStillFinishingLine[] = "pellucor: still finishing the rebuild; the program ends when it is done\n";

}  // namespace

int32_t ClosePhase() { return platform::AtomicLoad(&g_phase); }
void SetClosePhase(int32_t phase) { platform::AtomicStore(&g_phase, phase); }

const char* NoteCloseRequest() {
    return platform::AtomicIncrement(&g_requests) == 1 ? kFinishingLine : kStillFinishingLine;
}

int32_t CloseRequestCount() { return platform::AtomicLoad(&g_requests); }
void ResetCloseRequests() { platform::AtomicStore(&g_requests, 0); }

bool RequestRunClose(RebuildRun& run) {
    if (platform::AtomicLoad(&run.runState) != RunRunning) return false;
    platform::AtomicStore(&run.cancelFlag, 1);
    return platform::AtomicCompareExchange(&run.runState, RunCloseRequested, RunRunning) == RunRunning;
}

void WaitForRun(RebuildRun& run) {
    bool passedOn = false;
    while (platform::AtomicLoad(&run.runState) != RunIdle) {
        if (!passedOn && CloseRequestCount() > 0) passedOn = RequestRunClose(run);
        platform::Sleep(10);
    }
}

}  // namespace app
