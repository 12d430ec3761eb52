// The system's ways of asking the console to stop: SIGINT, SIGTERM and SIGHUP on POSIX; Ctrl-C,
// Ctrl-Break and closing the console window on Windows. Before a rebuild starts they end the
// program at once; once it has started they are close requests (close_requests.h) and the
// rebuild finishes. A closed pipe never ends the program: the write fails and is counted.
#pragma once

namespace app {

// Installs the handlers for the whole life of the program.
void InstallCloseHandlers();

// Starts the rebuild (StartRebuild) with the handlers turned into close requests. False when
// the worker could not be started (a close request then ends the program again).
bool StartRunWithCloseRequests();

}  // namespace app
