// pellucor --batch: one rebuild run at once, with the repository locked for its whole length,
// its status lines on standard output and the console's own report on standard error.
#pragma once

#include <string>

namespace app {

class ConsoleStreams;

struct BatchRequest {
    bool hasRepository = false;  // without one, the repository is the one the installation names
    std::string repository;
    std::string keepFrom;  // --keep-from OLDFILE, or empty
};

// Rebuilds the repository and returns the exit code (exit_codes.h).
int RunBatch(const BatchRequest& request, ConsoleStreams& streams);
// The same for a repository given by its path.
int RunBatch(const std::string& repository, ConsoleStreams& streams);

}  // namespace app
