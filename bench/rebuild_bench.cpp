// rebuild_bench: how fast pellucor is, against the floor and against SQLite, in one run.
//   rebuild_bench [USERS...]                 (default: 10000 40000)
//   rebuild_bench --make-repository DIR USERS   only generate a repository (for memory checks)
// For each size a repository is generated whose summaries are copies of summaries written by
// real word processors (a short and a long one, alternating) with each user's own name. On it,
// in turn: the real rebuild (the worker, with a host that only counts status lines); the floor
// program (rebuild_floor: read each summary to its name line, write the database's size once);
// and SQLite building the same tree in one transaction (summaries read the same way). Then the
// engine alone against SQLite: 100,000 keys with 16-byte values, as 1,000 parents x 100
// children and as one parent x 100,000 children, created and written, then looked up by name
// and read back; and 10,000 keys created from freed blocks against a fresh file.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "app/rebuild_run.h"
#include "fileservice/file_service.h"
#include "hdb/database_manager.h"

#ifdef PELLUCOR_HAVE_SQLITE
#include <sqlite3.h>
#endif

using namespace app;
using hdb::DatabaseManager;
using hdb::ModeReadOnly;
using hdb::ModeReadWrite;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

class SilentHost : public RunHost {
public:
    void AddStatusLine(const char*) override { ++lines; }
    void ShowMessage(const char*, const char*) override { completed = true; }
    long lines = 0;
    bool completed = false;
};

struct SummaryTemplate {
    std::string text;
    std::string label;  // the name line's label and name in `text`, replaced for each user
};

bool LoadTemplate(const char* file, const char* name, SummaryTemplate* out) {
    std::ifstream in(fs::path(PELLUCOR_SUMMARY_DIR) / file, std::ios::binary);
    out->text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    out->label = std::string("User Name: ") + name;
    return out->text.find(out->label) != std::string::npos;
}

std::string Hex8(unsigned value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

void MakeRepository(const fs::path& root, long users, const std::vector<SummaryTemplate>& templates) {
    fs::create_directories(root / "users");
    for (long i = 0; i < users; ++i) {
        const std::string id = Hex8(static_cast<unsigned>(i + 2));
        const fs::path folder = root / "users" / id;
        fs::create_directory(folder);
        const SummaryTemplate& t = templates[static_cast<size_t>(i) % templates.size()];
        std::string text = t.text;
        text.replace(text.find(t.label), t.label.size(), "User Name: user " + id);
        std::ofstream(folder / "UserSummary.rtf", std::ios::binary) << text;
    }
}

fs::path ScratchPath(const std::string& what) {
    return fs::temp_directory_path() /
           ("pellucor-bench-" + what + "-" + std::to_string(Clock::now().time_since_epoch().count()));
}

// Seconds for the whole rebuild of `root`; the database's size in *bytes.
double TimeRebuild(const fs::path& root, uintmax_t* bytes, bool* completed) {
    fileservice::FileService files;
    DatabaseManager databases;
    SilentHost host;
    RebuildRun& run = SharedRun();
    SetRepositoryPath(root.string());
    run.host = &host;
    run.fileService = &files;
    run.databaseManager = &databases;
    const auto start = Clock::now();
    RebuildWorker();
    const double seconds = Since(start);
    run.host = nullptr;
    std::error_code ignored;
    *bytes = fs::file_size(root / kDatabaseFileName, ignored);
    *completed = host.completed;
    return seconds;
}

double TimeFloor(const fs::path& root, uintmax_t bytes) {
    const fs::path out = root / "floor.out";
    const std::string command =
        "\"" + std::string(PELLUCOR_FLOOR_PROGRAM) + "\" \"" + root.string() + "\" " + std::to_string(bytes) + " \"" +
        out.string() + "\" >/dev/null";
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    const double seconds = Since(start);
    std::error_code ignored;
    fs::remove(out, ignored);
    return status == 0 ? seconds : -1;
}

#ifdef PELLUCOR_HAVE_SQLITE

// A key tree in SQLite: one row per key, found by (parent, name).
class SqliteTree {
public:
    explicit SqliteTree(const fs::path& path) {
        sqlite3_open(path.string().c_str(), &db_);
        Exec("CREATE TABLE keys(id INTEGER PRIMARY KEY, parent INTEGER, name TEXT, value BLOB)");
        Exec("CREATE INDEX keys_by_name ON keys(parent, name)");
        sqlite3_prepare_v2(db_, "INSERT INTO keys(parent, name, value) VALUES(?, ?, ?)", -1, &insert_, nullptr);
        sqlite3_prepare_v2(db_, "SELECT id, value FROM keys WHERE parent = ? AND name = ?", -1, &find_, nullptr);
        sqlite3_prepare_v2(db_, "UPDATE keys SET value = ? WHERE id = ?", -1, &update_, nullptr);
    }
    ~SqliteTree() {
        sqlite3_finalize(insert_);
        sqlite3_finalize(find_);
        sqlite3_finalize(update_);
        sqlite3_close(db_);
    }
    void Exec(const char* sql) { sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }
    int64_t Add(int64_t parent, const std::string& name, const void* value, int size) {
        sqlite3_bind_int64(insert_, 1, parent);
        sqlite3_bind_text(insert_, 2, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
        sqlite3_bind_blob(insert_, 3, value, size, SQLITE_STATIC);
        sqlite3_step(insert_);
        sqlite3_reset(insert_);
        return sqlite3_last_insert_rowid(db_);
    }
    // The key's id and, into `value`, its value's first `size` bytes; -1 when it is missing.
    int64_t Find(int64_t parent, const std::string& name, void* value, int size) {
        sqlite3_bind_int64(find_, 1, parent);
        sqlite3_bind_text(find_, 2, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
        int64_t id = -1;
        if (sqlite3_step(find_) == SQLITE_ROW) {
            id = sqlite3_column_int64(find_, 0);
            const int got = sqlite3_column_bytes(find_, 1);
            if (value && got > 0) std::memcpy(value, sqlite3_column_blob(find_, 1), static_cast<size_t>(got < size ? got : size));
        }
        sqlite3_reset(find_);
        return id;
    }
    void Set(int64_t id, const void* value, int size) {
        sqlite3_bind_blob(update_, 1, value, size, SQLITE_STATIC);
        sqlite3_bind_int64(update_, 2, id);
        sqlite3_step(update_);
        sqlite3_reset(update_);
    }

private:
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    sqlite3_stmt* find_ = nullptr;
    sqlite3_stmt* update_ = nullptr;
};

// The user name of a summary, read as the floor reads it; empty when there is none.
std::string ReadName(const fs::path& path, std::vector<char>& buffer) {
    std::FILE* file = std::fopen(path.string().c_str(), "rb");
    if (!file) return {};
    const size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
    std::fclose(file);
    const std::string_view text(buffer.data(), got);
    const size_t at = text.find("User Name:");
    if (at == std::string_view::npos) return {};
    const size_t end = text.find('\n', at);
    return std::string(text.substr(at + 11, end == std::string_view::npos ? std::string_view::npos : end - at - 11));
}

// The template's keys and one account per user, in one transaction.
double TimeSqliteRebuild(const fs::path& root) {
    const fs::path path = root / "sqlite.db";
    const auto start = Clock::now();
    {
        SqliteTree tree(path);
        tree.Exec("BEGIN");
        const int64_t top = tree.Add(0, "User Configuration Root", "", 0);
        const int64_t config = tree.Add(top, "Config", "", 0);
        tree.Add(config, "Next Admin ID", "00000002", 8);
        const int64_t counter = tree.Add(config, "Next User ID", "00000001", 8);
        tree.Add(config, "ServerNameOrURL", "host", 4);
        const int64_t security = tree.Add(config, "Remote Access Security", "", 0);
        for (const char* access : {"System Admin Access", "Client Access"}) {
            const int64_t at = tree.Add(security, access, "", 0);
            for (const char* setting : {"Enabled", "Port", "ListenOnAnyIP", "BindToIPList", "AcceptConnectionFrom",
                                        "AcceptFromList"})
                tree.Add(at, setting, "1", 1);
        }
        const int64_t admins = tree.Add(top, "Server Admin List", "", 0);
        const int64_t admin = tree.Add(admins, "00000001", "", 0);
        tree.Add(admin, "Name", "OrvaneAdmin", 11);
        tree.Add(admin, "Password", "0123456789abc", 13);
        tree.Add(admin, "EMailAddress", "", 0);
        tree.Add(top, "Client List", "", 0);
        std::vector<char> buffer(16 * 1024);
        std::error_code error;
        unsigned next = 1;
        for (const auto& entry : fs::directory_iterator(root / "users", error)) {
            const std::string folder = entry.path().filename().string();
            const std::string name = ReadName(entry.path() / "UserSummary.rtf", buffer);
            if (name.empty()) continue;
            const unsigned id = static_cast<unsigned>(std::strtoul(folder.c_str(), nullptr, 16));
            char current[9] = {};
            tree.Find(config, "Next User ID", current, 8);
            if (id >= next) {
                next = id + 1;
                const std::string text = Hex8(next);
                tree.Set(counter, text.data(), 8);
            }
            // Client List is found again for every user, as the import does.
            const int64_t account = tree.Add(tree.Find(top, "Client List", nullptr, 0), folder, "", 0);
            tree.Add(account, "Name", name.data(), static_cast<int>(name.size()));
            tree.Add(account, "Password", "01234567", 8);
            tree.Add(account, "NeedToSynchronizeClient", "0", 1);
        }
        tree.Exec("COMMIT");
    }
    return Since(start);
}

#endif  // PELLUCOR_HAVE_SQLITE

// The machine's speed varies from one second to the next by a third and more; the best of five
// rounds, taken in turns, is steadier than the best of three.
constexpr int kRounds = 5;

double Best(double sofar, double seconds) { return sofar <= 0 || (seconds > 0 && seconds < sofar) ? seconds : sofar; }

// Every round starts from the same repository: no database, no file set aside, no SQLite file.
void RemoveRebuildOutputs(const fs::path& root) {
    std::error_code error;
    std::vector<fs::path> outputs;
    for (const auto& entry : fs::directory_iterator(root, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kDatabaseFileName, 0) == 0 || name == "sqlite.db") outputs.push_back(entry.path());
    }
    for (const fs::path& path : outputs) fs::remove(path, error);
}

int MeasureRebuilds(const std::vector<long>& sizes, const std::vector<SummaryTemplate>& templates) {
    int status = 0;
    std::printf("Rebuild (wall seconds, best of %d rounds; ratios are pellucor's time over the other's)\n", kRounds);
    std::printf("%8s %10s %10s %8s", "users", "pellucor", "floor", "x floor");
#ifdef PELLUCOR_HAVE_SQLITE
    std::printf(" %10s %9s", "sqlite", "x sqlite");
#endif
    std::printf("\n");
    double first = 0;
    long firstUsers = 0;
    for (long users : sizes) {
        const fs::path root = ScratchPath(std::to_string(users));
        MakeRepository(root, users, templates);
        uintmax_t bytes = 0;
        bool completed = true;
        double pellucor = 0;
        double floor = 0;
        [[maybe_unused]] double sqlite = 0;
        // The three take turns, so that a busy moment of the machine falls on one round of
        // each rather than on one of them; each keeps its best round.
        for (int round = 0; round < kRounds; ++round) {
            RemoveRebuildOutputs(root);
            bool done = false;
            pellucor = Best(pellucor, TimeRebuild(root, &bytes, &done));
            completed = completed && done;
            const double floorTime = TimeFloor(root, bytes);
            if (floorTime < 0) status = 1;
            floor = Best(floor, floorTime);
#ifdef PELLUCOR_HAVE_SQLITE
            sqlite = Best(sqlite, TimeSqliteRebuild(root));
#endif
        }
        std::printf("%8ld %10.3f %10.3f %8.2f", users, pellucor, floor, pellucor / floor);
#ifdef PELLUCOR_HAVE_SQLITE
        std::printf(" %10.3f %9.2f", sqlite, pellucor / sqlite);
#endif
        std::printf("%s\n", completed ? "" : "  NOT COMPLETED");
        if (!completed) status = 1;
        if (firstUsers == 0) {
            first = pellucor;
            firstUsers = users;
        } else {
            std::printf("         t(%ld) / t(%ld) = %.2f (users x%.1f)\n", users, firstUsers, pellucor / first,
                        static_cast<double>(users) / static_cast<double>(firstUsers));
        }
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
    return status;
}

// ---- The engine alone ----

struct Shape {
    const char* name;
    int parents;
    int children;
};

constexpr char kValue[17] = "0123456789abcdef";

std::string ChildName(int parent, int child) { return Hex8(static_cast<unsigned>(parent * 1000003 + child)); }

struct EngineTimes {
    double create;
    double lookup;
};

EngineTimes TimeEngine(const Shape& shape) {
    const fs::path path = ScratchPath("engine");
    DatabaseManager databases;
    EngineTimes times{};
    auto start = Clock::now();
    int32_t db = databases.OpenDatabase(path.string().c_str(), ModeReadWrite);
    databases.HdbCloseKey(db, static_cast<uint32_t>(databases.HdbCreateKey(db, 0, "root")));
    std::vector<uint32_t> parents;
    for (int p = 0; p < shape.parents; ++p) {
        const auto parent = static_cast<uint32_t>(databases.HdbCreateKey(db, 1, ("parent " + std::to_string(p)).c_str()));
        databases.HdbCloseKey(db, parent);
        parents.push_back(parent);
        for (int c = 0; c < shape.children; ++c) {
            const auto key = static_cast<uint32_t>(databases.HdbCreateKey(db, parent, ChildName(p, c).c_str()));
            databases.HdbWriteValue(db, key, kValue, 16);
            databases.HdbCloseKey(db, key);
        }
    }
    databases.CloseDatabase(db);
    times.create = Since(start);

    start = Clock::now();
    db = databases.OpenDatabase(path.string().c_str(), ModeReadOnly);
    long found = 0;
    char value[16];
    for (int p = 0; p < shape.parents; ++p) {
        for (int c = 0; c < shape.children; ++c) {
            const int64_t key = databases.HdbFindKey(db, parents[static_cast<size_t>(p)], ChildName(p, c).c_str());
            if (key < 0) continue;
            if (databases.HdbReadValue(db, static_cast<uint32_t>(key), value, 16) == 16) ++found;
            databases.HdbCloseKey(db, static_cast<uint32_t>(key));
        }
    }
    databases.CloseDatabase(db);
    times.lookup = Since(start);
    if (found != static_cast<long>(shape.parents) * shape.children) std::printf("  (only %ld keys read back)\n", found);
    std::error_code ignored;
    fs::remove(path, ignored);
    return times;
}

#ifdef PELLUCOR_HAVE_SQLITE
EngineTimes TimeSqliteEngine(const Shape& shape) {
    const fs::path path = ScratchPath("sqlite-engine");
    EngineTimes times{};
    std::vector<int64_t> parents;
    auto start = Clock::now();
    {
        SqliteTree tree(path);
        tree.Exec("BEGIN");
        const int64_t root = tree.Add(0, "root", "", 0);
        for (int p = 0; p < shape.parents; ++p) {
            parents.push_back(tree.Add(root, "parent " + std::to_string(p), "", 0));
            for (int c = 0; c < shape.children; ++c) tree.Add(parents.back(), ChildName(p, c), kValue, 16);
        }
        tree.Exec("COMMIT");
    }
    times.create = Since(start);
    start = Clock::now();
    {
        SqliteTree tree(path);
        char value[16];
        for (int p = 0; p < shape.parents; ++p)
            for (int c = 0; c < shape.children; ++c) tree.Find(parents[static_cast<size_t>(p)], ChildName(p, c), value, 16);
    }
    times.lookup = Since(start);
    std::error_code ignored;
    fs::remove(path, ignored);
    return times;
}
#endif

// Seconds to create `count` keys with 16-byte values under one parent, in a fresh file or in a
// file whose blocks were all released by deleting as many keys before.
double TimeCreate(int count, bool fromFreedBlocks) {
    const fs::path path = ScratchPath("reuse");
    DatabaseManager databases;
    int32_t db = databases.OpenDatabase(path.string().c_str(), ModeReadWrite);
    databases.HdbCloseKey(db, static_cast<uint32_t>(databases.HdbCreateKey(db, 0, "root")));
    auto fill = [&](const char* name) {
        const auto parent = static_cast<uint32_t>(databases.HdbCreateKey(db, 1, name));
        databases.HdbCloseKey(db, parent);
        for (int c = 0; c < count; ++c) {
            const auto key = static_cast<uint32_t>(databases.HdbCreateKey(db, parent, ChildName(0, c).c_str()));
            databases.HdbWriteValue(db, key, kValue, 16);
            databases.HdbCloseKey(db, key);
        }
        return parent;
    };
    if (fromFreedBlocks) {
        databases.HdbDeleteKey(db, fill("old"));
        databases.CloseDatabase(db);
        db = databases.OpenDatabase(path.string().c_str(), ModeReadWrite);
    }
    const auto start = Clock::now();
    fill("new");
    databases.CloseDatabase(db);
    const double seconds = Since(start);
    std::error_code ignored;
    fs::remove(path, ignored);
    return seconds;
}

void MeasureEngine() {
    std::printf("\nEngine alone, 100,000 keys with 16-byte values (wall seconds, best of %d rounds)\n", kRounds);
    std::printf("%-22s %12s %12s", "shape", "create+write", "lookup+read");
#ifdef PELLUCOR_HAVE_SQLITE
    std::printf(" %14s %14s", "sqlite create", "sqlite lookup");
    std::printf(" %9s %9s", "x create", "x lookup");
#endif
    std::printf("\n");
    for (const Shape& shape : {Shape{"1,000 x 100", 1000, 100}, Shape{"1 x 100,000", 1, 100000}}) {
        // Both take turns and keep their best round, as the rebuilds do.
        EngineTimes ours{};
        [[maybe_unused]] EngineTimes theirs{};
        for (int round = 0; round < kRounds; ++round) {
            const EngineTimes o = TimeEngine(shape);
            ours = {Best(ours.create, o.create), Best(ours.lookup, o.lookup)};
#ifdef PELLUCOR_HAVE_SQLITE
            const EngineTimes t = TimeSqliteEngine(shape);
            theirs = {Best(theirs.create, t.create), Best(theirs.lookup, t.lookup)};
#endif
        }
        std::printf("%-22s %12.3f %12.3f", shape.name, ours.create, ours.lookup);
#ifdef PELLUCOR_HAVE_SQLITE
        std::printf(" %14.3f %14.3f %9.2f %9.2f", theirs.create, theirs.lookup, ours.create / theirs.create,
                    ours.lookup / theirs.lookup);
#endif
        std::printf("\n");
    }
    double fresh = 0;
    double reused = 0;
    for (int round = 0; round < kRounds; ++round) {
        fresh = Best(fresh, TimeCreate(10000, false));
        reused = Best(reused, TimeCreate(10000, true));
    }
    std::printf("10,000 keys created: fresh file %.3f s, from freed blocks %.3f s (x%.2f)\n", fresh, reused,
                reused / fresh);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<SummaryTemplate> templates(2);
    if (!LoadTemplate("pandoc_dave.rtf", "dave", &templates[0]) ||
        !LoadTemplate("libreoffice_erin.rtf", "erin", &templates[1])) {
        std::fprintf(stderr, "rebuild_bench: cannot read the summaries in %s\n", PELLUCOR_SUMMARY_DIR);
        return 1;
    }
    if (argc == 4 && std::strcmp(argv[1], "--make-repository") == 0) {
        MakeRepository(argv[2], std::strtol(argv[3], nullptr, 10), templates);
        return 0;
    }
    std::vector<long> sizes;
    for (int i = 1; i < argc; ++i) {
        const long n = std::strtol(argv[i], nullptr, 10);
        if (n <= 0) {
            std::fprintf(stderr, "usage: rebuild_bench [USERS...] | --make-repository DIR USERS\n");
            return 2;
        }
        sizes.push_back(n);
    }
    if (sizes.empty()) sizes = {10000, 40000};
    const int status = MeasureRebuilds(sizes, templates);
    MeasureEngine();
    return status;
}
