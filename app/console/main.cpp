// pellucor: the console front end of the rebuild utility.
//   pellucor [REPOSITORY]          the main dialog in the terminal
//   pellucor --batch [REPOSITORY]  rebuild REPOSITORY's UserConfig.hdb at once (without it, the
//                                  repository the installation names), printing each status
//                                  line and the final message
//   ... --keep-from OLDFILE        then carry passwords and settings over from OLDFILE
//   pellucor --where               print the repository path a run would use
#include <cstdio>
#include <cstring>
#include <string>

#include "app/account_carry_over.h"
#include "app/console/terminal_dialog.h"
#include "app/rebuild_run.h"
#include "app/repository_location.h"
#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "pellucor_version.h"
#include "platform/platform.h"
#include "support/date_time_converter.h"

namespace {

constexpr char kUsage[] =
    "Usage: pellucor [REPOSITORY]\n"
    "       pellucor --batch [REPOSITORY] [--keep-from OLDFILE]\n"
    "       pellucor --where\n"
    "Rebuilds REPOSITORY/UserConfig.hdb: sets the old file aside under a free .old name, writes\n"
    "the server's default configuration and adds one client account per folder in\n"
    "REPOSITORY/users. Without REPOSITORY, the repository is the one the server's installation\n"
    "names (its uninstall entry in the registry and its RepositoryConfig.ini).\n"
    "\n"
    "  (no option)           the dialog in the terminal: Start, Browse or Close\n"
    "  --batch [REPOSITORY]  run at once and print each status line\n"
    "  --keep-from OLDFILE   after the rebuild, give each account its Password and\n"
    "                        NeedToSynchronizeClient from the same account in OLDFILE, and keep\n"
    "                        OLDFILE's value of every Config setting the new one has\n"
    "  --where               print the repository path a run would use, and on stderr how it\n"
    "                        was found\n"
    "  --help                show this help\n"
    "  --version             show the version\n"
    "\n"
    "Exit status: 0 when the rebuild completed, 1 when it failed, 2 on a usage error.\n"
    "--where: 0, or 1 when no installation was found and the path is the default one.\n";

constexpr char kVersion[] = "pellucor " PELLUCOR_VERSION_TEXT "\n";

// Prints each status line as the worker adds it; remembers whether the run failed.
class ConsoleHost : public RunHost {
public:
    void AddStatusLine(const char* text) override {
        std::printf("%s\n", text);
        std::fflush(stdout);
        if (std::strcmp(text, kOpenFailedLine) == 0 || std::strcmp(text, kSetAsideFailedLine) == 0 ||
            IsCarryOverFailure(text))
            failed = true;
    }
    void ShowMessage(const char* text, const char* caption) override {
        std::printf("%s: %s\n", caption, text);
        std::fflush(stdout);
    }
    volatile bool failed = false;
};

int UsageError(const char* message) {
    std::fprintf(stderr, "pellucor: %s\nTry 'pellucor --help'.\n", message);
    return 2;
}

// Sets the shared paths from `repository` (null: from the installation); false when refused.
bool LocateRepository(const char* repository, RepositoryFinding* finding) {
    SharedRun().repositoryPath = repository ? repository : "";
    FindRepository(finding);
    if (finding->source != RepositorySource::Refused) return true;
    std::fprintf(stderr, "pellucor: %s\n", finding->problem.c_str());
    return false;
}

int Where() {
    RepositoryFinding finding;
    const int32_t found = FindRepository(&finding);
    std::printf("%s\n", SharedRun().repositoryPath.c_str());
    std::fprintf(stderr, "pellucor: %s\n", DescribeFinding(finding).c_str());
    return found == 0 ? 0 : 1;
}

int RunBatch(const char* repository, const std::string& keepFrom) {
    RepositoryFinding finding;
    if (!LocateRepository(repository, &finding)) return repository ? 2 : 1;
    if (!repository)
        std::fprintf(stderr, "pellucor: repository %s: %s\n", SharedRun().repositoryPath.c_str(),
                     DescribeFinding(finding).c_str());
    FileService fileService;
    // Checked before anything is moved: a mistyped name must not cost the old database.
    if (!keepFrom.empty() && fileService.FileExists(keepFrom.c_str()) != 1) {
        std::fprintf(stderr, "pellucor: %s: no such file\n", keepFrom.c_str());
        return 2;
    }
    auto* dateTime = new DateTimeConverter;
    auto* databases = new DatabaseManager;
    ConsoleHost host;
    RebuildRun& run = SharedRun();
    run.host = &host;
    run.fileService = &fileService;
    run.databaseManager = databases;
    run.keepFromPath = keepFrom;

    int status = 0;
    if (!StartRebuild()) {
        std::fprintf(stderr, "pellucor: cannot start the rebuild thread\n");
        status = 1;
    } else {
        while (platform::AtomicLoad(&run.runState) != RunIdle) platform::Sleep(10);
        status = host.failed ? 1 : 0;
    }
    run.host = nullptr;
    delete databases;
    delete dateTime;
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fputs(kVersion, stdout);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--where") == 0)
        return argc == 2 ? Where() : UsageError("--where takes no arguments");
    if (argc == 1) return RunTerminalDialog("", &FindRepository);
    if (argc == 2 && std::strncmp(argv[1], "--", 2) != 0) return RunTerminalDialog(argv[1], &FindRepository);
    if (std::strcmp(argv[1], "--batch") != 0) return UsageError((std::string("unknown option '") + argv[1] + "'").c_str());
    // --batch [REPOSITORY] [--keep-from OLDFILE]
    const char* repository = nullptr;
    std::string keepFrom;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--keep-from") == 0) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') return UsageError("--keep-from takes an OLDFILE");
            if (!keepFrom.empty()) return UsageError("--keep-from is given twice");
            keepFrom = argv[++i];
        } else if (repository) {
            return UsageError("--batch takes at most one REPOSITORY");
        } else {
            if (argv[i][0] == '\0') return UsageError("the REPOSITORY path is empty");
            repository = argv[i];
        }
    }
    return RunBatch(repository, keepFrom);
}
