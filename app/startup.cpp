#include "app/startup.h"

#include <memory>

#include "app/password_scrambler.h"
#include "app/rebuild_run.h"
#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "platform/platform.h"
#include "support/date_time_converter.h"

namespace app {

namespace {

constexpr uint32_t kWorkerWaitStepMs = 50;

// The run state is 0 before Start and again once the worker has taken its last step; a dialog
// closed while it was 2 (or 1, after a close request) left a worker that still uses the service
// objects, so nothing may be torn down before it is back at 0.
void WaitForWorker(StartupHost& host) {
    while (platform::AtomicLoad(&SharedRun().runState) != RunIdle) host.WaitHandlingMessages(kWorkerWaitStepMs);
}

}  // namespace

int32_t RunUtility(const char* commandLine, StartupHost& host, RepositoryFinder findRepository) {
    auto fileService = std::make_unique<fileservice::FileService>();
    auto dateTimeConverter = std::make_unique<support::DateTimeConverter>();
    auto databaseManager = std::make_unique<hdb::DatabaseManager>();
    auto passwordScrambler = std::make_unique<PasswordScrambler>();
    RebuildRun& run = SharedRun();
    run.fileService = fileService.get();
    run.databaseManager = databaseManager.get();

    if (commandLine && commandLine[0] != '\0') run.repositoryPath = commandLine;
    host.PrepareSystem();
    findRepository();
    host.ShowMainDialog();
    WaitForWorker(host);

    run.host = nullptr;
    run.fileService = nullptr;
    run.databaseManager = nullptr;
    passwordScrambler.reset();
    databaseManager.reset();
    fileService.reset();
    dateTimeConverter.reset();
    return 0;
}

}  // namespace app
