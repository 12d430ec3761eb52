// A writer in a process of its own, for the tests that end one abruptly.
//
//   database_writer work DATABASE PROGRESS SEED [LIMIT]
//     opens DATABASE with ModeReadWrite and changes it at random (creates, renames and deletes
//     keys, writes values) until it is killed, or after LIMIT changes closes it and exits 0.
//   database_writer hold DATABASE PROGRESS
//     opens DATABASE with ModeReadWrite and waits, holding it, until it is killed.
//
// PROGRESS receives a 32-bit count: 1 just before the open, 2 once it is open, and 2 + n after
// the n-th change, so the test knows where each kill landed.
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "platform/platform.h"

using fileservice::FileService;
using fileservice::OpenCreate;
using fileservice::OpenQuiet;
using namespace hdb;

namespace {

class Progress {
public:
    Progress(FileService& fs, const char* path) : fs_(fs), file_(fs.FileOpen(path, OpenCreate | OpenQuiet)) {}
    ~Progress() {
        if (file_ >= 0) fs_.FileClose(file_);
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    void Set(uint32_t value) {
        if (file_ < 0) return;
        fs_.FileSeek(file_, 0, 0);
        fs_.FileWrite(file_, &value, sizeof value);
    }

private:
    FileService& fs_;
    int32_t file_;
};

// Every key id below the root, found by walking the tree.
void CollectKeys(DatabaseManager& db, int32_t handle, uint32_t key, std::vector<uint32_t>& keys) {
    keys.push_back(key);
    for (int64_t sub = db.HdbFirstSubKey(handle, key); sub > 0; sub = db.HdbNextSubKey(handle, key, static_cast<uint32_t>(sub)))
        CollectKeys(db, handle, static_cast<uint32_t>(sub), keys);
}

int Work(DatabaseManager& db, int32_t handle, Progress& progress, uint32_t seed, uint32_t limit) {
    std::mt19937 rng(seed);
    auto pick = [&](uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng); };
    std::vector<uint32_t> keys;
    CollectKeys(db, handle, 1, keys);
    std::vector<uint8_t> bytes(3000);
    for (uint32_t change = 1; limit == 0 || change <= limit; ++change) {
        const uint32_t key = keys[pick(static_cast<uint32_t>(keys.size()))];
        const uint32_t roll = pick(100);
        if (roll < 30 || keys.size() < 8) {
            const std::string name = "k" + std::to_string(change);
            const int64_t created = db.HdbCreateKey(handle, key, name.c_str());
            if (created > 0) {
                db.HdbCloseKey(handle, static_cast<uint32_t>(created));
                keys.push_back(static_cast<uint32_t>(created));
            }
        } else if (roll < 40 && key != 1) {
            db.HdbRenameKey(handle, key, ("renamed " + std::to_string(change)).c_str());
        } else if (roll < 46 && key != 1) {
            // The key goes with everything below it; find again what is left.
            db.HdbDeleteKey(handle, key);
            keys.clear();
            CollectKeys(db, handle, 1, keys);
        } else {
            for (auto& b : bytes) b = static_cast<uint8_t>(pick(256));
            const uint32_t count = 1 + pick(static_cast<uint32_t>(bytes.size()));
            db.HdbSeekValue(handle, key, 0);
            db.HdbWriteValue(handle, key, bytes.data(), count);
            db.HdbCloseKey(handle, key);
        }
        progress.Set(2 + change);
    }
    db.CloseDatabase(handle);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const std::string mode = argv[1];
    DatabaseManager db;
    FileService fs;
    Progress progress(fs, argv[3]);
    progress.Set(1);
    const int32_t handle = db.OpenDatabase(argv[2], ModeReadWrite);
    if (handle < 0) return 3;
    progress.Set(2);
    if (mode == "hold") {
        for (;;) platform::Sleep(1000);
    }
    if (mode != "work" || argc < 5) return 2;
    const uint32_t limit = argc > 5 ? static_cast<uint32_t>(std::strtoul(argv[5], nullptr, 10)) : 0;
    return Work(db, handle, progress, static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)), limit);
}
