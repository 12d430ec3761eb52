// A whole rebuild in a process of its own, for the test that kills one part-way:
//   rebuild_runner REPOSITORY STARTED
// writes STARTED when it begins and exits 0 once the rebuild has completed (1 otherwise).
#include <cstdio>

#include "app/rebuild_run.h"
#include "fileservice/file_service.h"
#include "hdb/database_manager.h"

using namespace app;

namespace {

class SilentHost : public RunHost {
public:
    void AddStatusLine(const char*) override {}
    void ShowMessage(const char*, const char*) override { completed = true; }
    bool completed = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    fileservice::FileService files;
    hdb::DatabaseManager databases;
    SilentHost host;
    if (!SetRepositoryPath(argv[1])) return 2;
    RebuildRun& run = SharedRun();
    run.host = &host;
    run.fileService = &files;
    run.databaseManager = &databases;
    if (FILE* started = std::fopen(argv[2], "wb")) std::fclose(started);
    RebuildWorker();
    return host.completed ? 0 : 1;
}
