// Close requests from the system (signals, console control events) and how the console honours
// them: a rebuild that has started always runs to its end, as the dialog waits for it when it
// is closed during a run. The handlers call only ClosePhase and NoteCloseRequest, which touch
// nothing but atomic words, so they are safe in a signal handler.
#pragma once

#include <cstdint>

namespace app {

struct RebuildRun;

enum : int32_t {
    kCloseEndsAtOnce = 0,    // no rebuild has started: a close request ends the program
    kCloseFinishesRun = 1,   // a rebuild runs: it finishes first
    kCloseAfterRun = 2,      // the rebuild is over; the program is finishing its report
};

int32_t ClosePhase();
void SetClosePhase(int32_t phase);

// Counts one request and returns the line to show for it on standard error: the first says
// the rebuild will finish, every later one that it still is finishing.
const char* NoteCloseRequest();
int32_t CloseRequestCount();
// For tests: forget the requests counted so far.
void ResetCloseRequests();

// The close during a run, as the dialog makes it: cancel flag 1 and run state 3, but only while
// the run state is 1, so that a run that has just ended is never waited for again. True when
// the request was made.
bool RequestRunClose(RebuildRun& run);

// Waits until the run state is 0, passing a close request on to the run once it is running.
void WaitForRun(RebuildRun& run);

}  // namespace app
