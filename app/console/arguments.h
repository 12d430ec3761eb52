// The console's command line: what the user asked for, or what is wrong with it.
#pragma once

#include <string>
#include <vector>

namespace app {

enum class ConsoleAction {
    Help,
    Version,
    Where,   // --where: the repository a run would use
    Batch,   // --batch [REPOSITORY] [--keep-from OLDFILE]
    Dialog,  // no --batch: the main dialog in the terminal, on REPOSITORY if given
    Usage,   // the command line is wrong; `error` says how
};

struct ConsoleArguments {
    ConsoleAction action = ConsoleAction::Usage;
    bool hasRepository = false;
    std::string repository;
    std::string keepFrom;  // --keep-from OLDFILE; empty when not asked for
    std::string error;
};

// Reads the arguments after the program's name. -h, --help and --version count wherever they
// stand before "--", which ends the options; `slashHelp` takes "/?" for --help too (Windows).
// A repository that looks like an option is refused unless it follows "--" or is given as
// --batch=REPOSITORY.
ConsoleArguments ParseArguments(const std::vector<std::string>& arguments, bool slashHelp);

// What --help and --version print.
std::string UsageText();
extern const char kVersionText[];

}  // namespace app
