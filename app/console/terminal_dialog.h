// The main dialog in a terminal: the same texts in the same order, the choices Start, Browse
// and Close, the status lines as the run adds them and the final message, which waits for
// Enter. Ctrl-C or the end of input is the close request.
#pragma once

#include "app/startup.h"

namespace app {

// Shows the dialog on this process's terminal and returns the exit status: 0 once the dialog
// has ended, 2 when standard input is not a terminal (nothing is started then).
// `commandLine` is the repository path as given, or empty.
int RunTerminalDialog(const char* commandLine, RepositoryFinder findRepository);

}  // namespace app
