#include "app/console/batch_run.h"

#include "app/console/close_requests.h"
#include "app/console/console_streams.h"
#include "app/console/diagnostics.h"
#include "app/console/exit_codes.h"
#include "app/console/run_summary.h"
#include "app/console/signals.h"
#include "app/rebuild_run.h"
#include "app/repository_lock.h"
#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "support/date_time_converter.h"

namespace {

// Each status line and the final message as one line of standard output, as the run adds them.
class ConsoleHost : public RunHost {
public:
    explicit ConsoleHost(ConsoleStreams& streams) : streams_(streams) {}
    void AddStatusLine(const char* text) override { streams_.Out(text); }
    void ShowMessage(const char* text, const char* caption) override {
        streams_.Out(std::string(caption) + ": " + text);
    }

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
        run.host = nullptr;
        run.fileService = nullptr;
        run.databaseManager = nullptr;
        delete databases;
        delete dateTime;
    }
    RunObjects(const RunObjects&) = delete;
    RunObjects& operator=(const RunObjects&) = delete;

    FileService files;
    DateTimeConverter* dateTime = new DateTimeConverter;
    DatabaseManager* databases = new DatabaseManager;
};

int Finish(ConsoleStreams& streams, const RunVerdict& verdict) {
    for (const std::string& line : verdict.lines) streams.Err(line);
    if (verdict.exitCode != kExitFailed && streams.Failed()) return kExitOutputFailed;
    return verdict.exitCode;
}

}  // namespace

int RunBatch(const std::string& repository, ConsoleStreams& streams) {
    if (!SetRepositoryPath(repository)) {
        streams.Err("pellucor: repository path too long: the database path may have at most " +
                    std::to_string(kMaxPathChars) + " characters");
        return kExitUsage;
    }
    RebuildRun& run = SharedRun();
    ConsoleHost host(streams);
    RunObjects objects(host);

    RepositoryLock lock;
    if (lock.Acquire(run.databasePath) == RepositoryLock::Busy) {
        streams.Err(BusyLine(repository, lock.path()));
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
    if (written) contents = ReadNewDatabase(*objects.databases, objects.files, run.databasePath);
    RunVerdict verdict = JudgeRun(run, contents, objects.files);
    // A fault seen in the read-back may be the reading's own: what a second reading still
    // sees is what the database holds.
    if (written && verdict.faultsInDatabase) {
        contents = ReadNewDatabase(*objects.databases, objects.files, run.databasePath);
        verdict = JudgeRun(run, contents, objects.files);
    }
    return Finish(streams, verdict);
}
