// hdbtool's commands and their arguments, apart from the process: the program's main hands in
// its arguments and where output and errors go.
#pragma once

namespace tools {

class OutputSink;

// Exit codes of every command.
constexpr int kExitOk = 0;
constexpr int kExitDamaged = 1;  // damaged, not a database, or the command failed
constexpr int kExitUsage = 2;    // a usage error, or the command cannot run

// Runs the command line `argv` (argv[0] is the program). Output goes to `out` and messages to
// `err`; a failed write to `out` is reported on `err` and ends with kExitDamaged.
int RunHdbtool(int argc, const char* const* argv, OutputSink& out, OutputSink& err);

}  // namespace tools
