// pellucor: the console front end of the rebuild utility.
//   pellucor [REPOSITORY]          the main dialog in the terminal
//   pellucor --batch [REPOSITORY]  rebuild REPOSITORY's UserConfig.hdb at once (without it, the
//                                  repository the installation names), printing each status
//                                  line and the final message
//   ... --keep-from OLDFILE        then carry passwords and settings over from OLDFILE
//   pellucor --where               print the repository path a run would use
#include <cstdio>
#include <string>
#include <vector>

#include "app/console/arguments.h"
#include "app/console/batch_run.h"
#include "app/console/console_streams.h"
#include "app/console/exit_codes.h"
#include "app/console/signals.h"
#include "app/console/terminal_dialog.h"
#include "app/rebuild_run.h"
#include "app/repository_location.h"

namespace app {
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

// The repository path on standard output, how it was found on standard error.
int Where() {
    RepositoryFinding finding;
    const int32_t found = FindRepository(&finding);
    StdioStreams streams;
    if (!SharedRun().repositoryPath.empty()) streams.Out(SharedRun().repositoryPath);
    streams.Err("pellucor: " + DescribeFinding(finding));
    if (streams.Failed()) return kExitOutputFailed;
    return found == 0 ? 0 : 1;
}

}  // namespace
}  // namespace app

int main(int argc, char** argv) {
    using app::ConsoleAction;
    app::InstallCloseHandlers();
    const app::ConsoleArguments arguments =
        app::ParseArguments(std::vector<std::string>(argv + 1, argv + argc), app::kSlashHelp);
    switch (arguments.action) {
        case ConsoleAction::Help: return app::Print(app::UsageText());
        case ConsoleAction::Version: return app::Print(app::kVersionText);
        case ConsoleAction::Usage: return app::UsageError(arguments.error);
        case ConsoleAction::Where: return app::Where();
        case ConsoleAction::Dialog:
            return app::RunTerminalDialog(arguments.hasRepository ? arguments.repository.c_str() : "",
                                          &app::FindRepository);
        case ConsoleAction::Batch: break;
    }
    app::StdioStreams streams;
    return app::RunBatch(app::BatchRequest{arguments.hasRepository, arguments.repository, arguments.keepFrom}, streams);
}
