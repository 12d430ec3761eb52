// pellucor: the console front end of the rebuild utility.
//   pellucor --batch REPOSITORY   rebuild REPOSITORY's UserConfig.hdb at once, printing each
//                                 status line and the final message
//   ... --keep-from OLDFILE       then carry passwords and settings over from OLDFILE
#include <cstdio>
#include <cstring>
#include <string>

#include "app/account_carry_over.h"
#include "app/rebuild_run.h"
#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "pellucor_version.h"
#include "platform/platform.h"
#include "support/date_time_converter.h"

namespace {

constexpr char kUsage[] =
    "Usage: pellucor --batch REPOSITORY [--keep-from OLDFILE]\n"
    "Rebuilds REPOSITORY/UserConfig.hdb: sets the old file aside under a free .old name, writes\n"
    "the server's default configuration and adds one client account per folder in\n"
    "REPOSITORY/users.\n"
    "\n"
    "  --batch REPOSITORY  run at once and print each status line\n"
    "  --keep-from OLDFILE after the rebuild, give each account its Password and\n"
    "                      NeedToSynchronizeClient from the same account in OLDFILE, and keep\n"
    "                      OLDFILE's value of every Config setting the new one has\n"
    "  --help              show this help\n"
    "  --version           show the version\n"
    "\n"
    "Exit status: 0 when the rebuild completed, 1 when it failed, 2 on a usage error.\n";

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

int RunBatch(const std::string& repository, const std::string& keepFrom) {
    if (!SetRepositoryPath(repository)) {
        std::fprintf(stderr, "pellucor: repository path too long: the database path may have at most %zu characters\n",
                     kMaxPathChars);
        return 2;
    }
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
    if (argc == 1) return UsageError("the interactive dialog is not available yet; use --batch REPOSITORY");
    if (std::strcmp(argv[1], "--batch") != 0) return UsageError((std::string("unknown option '") + argv[1] + "'").c_str());
    const bool keepFrom = argc == 5 && std::strcmp(argv[3], "--keep-from") == 0;
    if (argc != 3 && !keepFrom) return UsageError("--batch takes exactly one REPOSITORY, then --keep-from OLDFILE or nothing");
    if (argv[2][0] == '\0') return UsageError("the REPOSITORY path is empty");
    if (keepFrom && argv[4][0] == '\0') return UsageError("the OLDFILE path is empty");
    return RunBatch(argv[2], keepFrom ? argv[4] : "");
}
