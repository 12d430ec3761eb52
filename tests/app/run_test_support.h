// For tests that drive the rebuild run: a host that records what the run shows, and a scope that
// points the shared run state at the test's own objects and puts the previous ones back.
#pragma once

#include <string>
#include <vector>

#include "app/rebuild_run.h"
#include "platform/platform.h"

namespace testing_support {

using namespace app;

class RecordingHost : public RunHost {
public:
    void AddStatusLine(const char* text) override { lines.emplace_back(text); }
    void ShowMessage(const char* text, const char* caption) override {
        messages.push_back(std::string(caption) + ": " + text);
        stateDuringMessage = platform::AtomicLoad(&SharedRun().runState);
    }
    std::vector<std::string> lines;
    std::vector<std::string> messages;
    int32_t stateDuringMessage = -1;
};

class SharedRunScope {
public:
    SharedRunScope(RunHost& host, fileservice::FileService& files, hdb::DatabaseManager& databases) {
        RebuildRun& run = SharedRun();
        savedHost_ = run.host;
        savedFiles_ = run.fileService;
        savedDatabases_ = run.databaseManager;
        savedRepository_ = run.repositoryPath;
        run.host = &host;
        run.fileService = &files;
        run.databaseManager = &databases;
    }
    ~SharedRunScope() {
        RebuildRun& run = SharedRun();
        run.host = savedHost_;
        run.fileService = savedFiles_;
        run.databaseManager = savedDatabases_;
        SetRepositoryPath(savedRepository_);
    }
    SharedRunScope(const SharedRunScope&) = delete;
    SharedRunScope& operator=(const SharedRunScope&) = delete;

private:
    RunHost* savedHost_;
    fileservice::FileService* savedFiles_;
    hdb::DatabaseManager* savedDatabases_;
    std::string savedRepository_;
};

}  // namespace testing_support
