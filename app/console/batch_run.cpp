#include "app/console/batch_run.h"

#include "app/console/close_requests.h"
#include "app/console/console_streams.h"
#include "app/console/diagnostics.h"
#include "app/console/exit_codes.h"
#include "app/console/run_summary.h"
#include "app/console/signals.h"
#include "app/account_carry_over.h"
#include "app/rebuild_run.h"
#include "app/repository_location.h"
#include "app/repository_lock.h"
#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "support/date_time_converter.h"

namespace app {

namespace {

// Each status line and the final message as one line of standard output, as the run adds them.
// Notes whether the carrying over from an old database failed (only its lines say so).
class ConsoleHost : public RunHost {
public:
    explicit ConsoleHost(ConsoleStreams& streams) : streams_(streams) {}
    void AddStatusLine(const char* text) override {
        if (IsCarryOverFailure(text)) carryOverFailed = true;
        streams_.Out(text);
    }
    void ShowMessage(const char* text, const char* caption) override {
        streams_.Out(std::string(caption) + ": " + text);
    }
    volatile bool carryOverFailed = false;  // written by the worker, read after it has ended

private:
    ConsoleStreams& streams_;
};

// The run's objects for the length of one batch run, handed back to nobody afterwards.
class RunObjects {
public:
    RunObjects(RunHost& host) {
        RebuildRun& run = SharedRun();
        run.host = &host;
        run.fileService = &files;
        run.databaseManager = databases;
    }
    ~RunObjects() {
        RebuildRun& run = SharedRun();
        run.keepFromPath.clear();
        run.host = nullptr;
        run.fileService = nullptr;
        run.databaseManager = nullptr;
        delete databases;
        delete dateTime;
    }
    RunObjects(const RunObjects&) = delete;
    RunObjects& operator=(const RunObjects&) = delete;

    fileservice::FileService files;
    support::DateTimeConverter* dateTime = new support::DateTimeConverter;
    hdb::DatabaseManager* databases = new hdb::DatabaseManager;
};

int Finish(ConsoleStreams& streams, const RunVerdict& verdict) {
    for (const std::string& line : verdict.lines) streams.Err(line);
    if (verdict.exitCode != kExitFailed && streams.Failed()) return kExitOutputFailed;
    return verdict.exitCode;
}

}  // namespace

int RunBatch(const BatchRequest& request, ConsoleStreams& streams) {
    RebuildRun& run = SharedRun();
    run.repositoryPath = request.hasRepository ? request.repository : std::string();
    RepositoryFinding finding;
    FindRepository(&finding);
    if (finding.source == RepositorySource::Refused) {
        streams.Err("pellucor: " + finding.problem);
        return request.hasRepository ? kExitUsage : kExitFailed;
    }
    if (!request.hasRepository)
        streams.Err("pellucor: repository " + run.repositoryPath + ": " + DescribeFinding(finding));
    ConsoleHost host(streams);
    RunObjects objects(host);
    // Checked before anything is moved: a mistyped name must not cost the old database.
    if (!request.keepFrom.empty() && objects.files.FileExists(request.keepFrom.c_str()) != 1) {
        streams.Err("pellucor: " + request.keepFrom + ": no such file");
        return kExitUsage;
    }
    run.keepFromPath = request.keepFrom;

    RepositoryLock lock;
    if (lock.Acquire(run.databasePath) == RepositoryLock::Busy) {
        streams.Err(BusyLine(run.repositoryPath, lock.path()));
        return kExitFailed;
    }
    if (!StartRunWithCloseRequests()) {
        streams.Err("pellucor: the rebuild thread cannot be started; nothing was changed");
        return kExitFailed;
    }
    WaitForRun(run);
    SetClosePhase(kCloseAfterRun);

    NewDatabaseContents contents;
    const bool written = run.report.end == RunEnd::Completed;
    const bool carriedOver = !run.keepFromPath.empty();
    if (written) contents = ReadNewDatabase(*objects.databases, objects.files, run.databasePath, carriedOver);
    RunVerdict verdict = JudgeRun(run, contents, objects.files, host.carryOverFailed);
    // A fault seen in the read-back may be the reading's own: what a second reading still
    // sees is what the database holds.
    if (written && verdict.faultsInDatabase) {
        contents = ReadNewDatabase(*objects.databases, objects.files, run.databasePath, carriedOver);
        verdict = JudgeRun(run, contents, objects.files, host.carryOverFailed);
    }
    return Finish(streams, verdict);
}

int RunBatch(const std::string& repository, ConsoleStreams& streams) {
    BatchRequest request;
    request.hasRepository = true;
    request.repository = repository;
    return RunBatch(request, streams);
}

}  // namespace app
