// Start-up of the utility, whatever front end shows the dialog: the process-wide service
// objects, the repository path, the modal dialog, and the tear-down once it has ended.
#pragma once

#include <cstdint>

namespace app {

// What a front end does around the dialog.
class StartupHost {
public:
    virtual ~StartupHost() = default;
    // The system's set-up before any window: the error mode, the common controls.
    virtual void PrepareSystem() = 0;
    // Shows the main dialog modally; returns when it has ended (or could not be created).
    virtual int32_t ShowMainDialog() = 0;
    // Waits up to `milliseconds` while still handling what the worker sends to the dialog's
    // thread, so that a worker that outlives the dialog never hangs on it.
    virtual void WaitHandlingMessages(uint32_t milliseconds) = 0;
};

// Locates the repository into the shared run state; the result is not used.
using RepositoryFinder = int32_t (*)();

// The whole life of the utility: creates the FileService, a DateTimeConverter, the
// DatabaseManager and the PasswordScrambler; takes a non-empty `commandLine` whole as the
// repository path; prepares the system; runs `findRepository`; shows the dialog; waits for a
// worker that is still running; destroys the objects. Returns 0.
int32_t RunUtility(const char* commandLine, StartupHost& host, RepositoryFinder findRepository);

}  // namespace app
