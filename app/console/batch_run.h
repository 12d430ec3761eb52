// pellucor --batch: one rebuild run at once, with the repository locked for its whole length,
// its status lines on standard output and the console's own report on standard error.
#pragma once

#include <string>

class ConsoleStreams;

// Rebuilds `repository` and returns the exit code (exit_codes.h).
int RunBatch(const std::string& repository, ConsoleStreams& streams);
