// pellucor: the console front end of the rebuild utility.
//   pellucor --batch REPOSITORY   rebuild REPOSITORY's UserConfig.hdb at once, printing each
//                                 status line and the final message
#include <cstdio>
#include <string>
#include <vector>

#include "app/console/arguments.h"
#include "app/console/batch_run.h"
#include "app/console/console_streams.h"
#include "app/console/exit_codes.h"
#include "app/console/signals.h"

namespace {

#ifdef _WIN32
constexpr bool kSlashHelp = true;
#else
constexpr bool kSlashHelp = false;
#endif

int UsageError(const std::string& message) {
    std::fprintf(stderr, "pellucor: %s\nTry 'pellucor --help'.\n", message.c_str());
    return kExitUsage;
}

int Print(const std::string& text) {
    const bool written = std::fputs(text.c_str(), stdout) != EOF && std::fflush(stdout) == 0;
    return written ? kExitComplete : kExitOutputFailed;
}

}  // namespace

int main(int argc, char** argv) {
    InstallCloseHandlers();
    const ConsoleArguments arguments = ParseArguments(std::vector<std::string>(argv + 1, argv + argc), kSlashHelp);
    switch (arguments.action) {
        case ConsoleAction::Help: return Print(UsageText());
        case ConsoleAction::Version: return Print(kVersionText);
        case ConsoleAction::Usage: return UsageError(arguments.error);
        case ConsoleAction::Dialog:
            return UsageError("the interactive dialog is not available yet; use --batch REPOSITORY");
        case ConsoleAction::Batch: break;
    }
    if (!arguments.hasRepository) return UsageError("--batch needs a REPOSITORY");
    StdioStreams streams;
    return RunBatch(arguments.repository, streams);
}
