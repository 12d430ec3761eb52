// The crash-state explorer: each scenario runs once while the platform layer records what it
// does to its folder; then every point of that log is a moment the power may go, and each state
// the disk may hold then (crash_states.h) is written back into the folder and checked. A state
// is visited once however many ways lead to it.
//
// The invariants:
// - a database whose header says it was closed cleanly holds the content before the writer's
//   open or the content its clean close committed, never a mix;
// - a database left open with a mirror recovers to the content before that writer's open, byte
//   for byte;
// - the old database's bytes exist, whole, under UserConfig.hdb or a set-aside name, in every
//   state of a rebuild, and after the next rebuild;
// - once a run has said it is complete (the end of its log), what it wrote is on the disk.
//
// PELLUCOR_CRASH_STATES sets how many states are drawn at a point where there are more (the
// CI sample uses a few; tests/crash/explore-long.sh a few hundred).
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/console/batch_run.h"
#include "app/console/console_test_support.h"
#include "app/console/exit_codes.h"
#include "app/local_addresses.h"
#include "app/user_config_tree.h"
#include "crash_states.h"
#include "hdb/block_cache.h"
#include "hdb/database_manager.h"
#include "hdb/format.h"
#include "platform/testing/recording.h"
#include "test_support.h"
#include "fileservice/file_service.h"
#include "tools/command_line.h"
#include "tools/raw_database.h"
#include "tools/structure_scan.h"
#include "tools/output_sink.h"

using namespace hdb;
using fileservice::FileService;

namespace {

namespace fs = std::filesystem;
using crash_test::CrashState;
using crash_test::CrashStates;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
using Bytes = std::vector<uint8_t>;

const fs::path kData = fs::path(__FILE__).parent_path().parent_path() / "data";

size_t Budget() {
    const char* text = std::getenv("PELLUCOR_CRASH_STATES");
    const long value = text ? std::atol(text) : 0;
    return value > 0 ? static_cast<size_t>(value) : 6;
}

// The block cache of the scenarios: small, so that blocks are written back in the middle of the
// work and not only at the close.
class SmallCache {
public:
    SmallCache() : saved_(BlockCacheLimit()) { SetBlockCacheLimit(4); }
    ~SmallCache() { SetBlockCacheLimit(saved_); }

private:
    uint32_t saved_;
};

bool LeftOpen(const Bytes& bytes) {
    if (bytes.size() < kHeaderImageSize) return false;
    DatabaseHeader header{};
    std::memcpy(&header, bytes.data(), kHeaderImageSize);
    return header.openForWrite != 0;
}

// A header with the signature that says the file was closed cleanly.
bool SaysClosedCleanly(const Bytes& bytes) {
    if (bytes.size() < kHeaderImageSize) return false;
    DatabaseHeader header{};
    std::memcpy(&header, bytes.data(), kHeaderImageSize);
    return std::memcmp(header.signature, kDatabaseSignature, sizeof kDatabaseSignature - 1) == 0 &&
           header.openForWrite == 0;
}

// The structure check: every chain, list and free block where it should be.
bool Sound(const std::string& path) {
    FileService files;
    tools::RawDatabase raw(files);
    if (raw.Open(path.c_str()) != 0) return false;
    const tools::ScanResult scan = tools::ScanStructure(raw, false);
    return scan.refusal.empty() && !scan.readFailed && scan.problems.empty();
}

// What the exploration of one scenario found: states visited, and for each invariant the states
// that broke it with the first of them described.
struct Findings {
    uint64_t states = 0;
    std::map<std::string, uint64_t> broken;
    std::map<std::string, std::string> firstExample;

    void Break(const std::string& invariant, const std::string& where) {
        if (broken[invariant]++ == 0) firstExample[invariant] = where;
    }
    void Report(const char* scenario) const {
        std::printf("crash states: %s: %llu states explored", scenario, static_cast<unsigned long long>(states));
        for (const auto& [invariant, count] : broken)
            std::printf(", %llu broke \"%s\"", static_cast<unsigned long long>(count), invariant.c_str());
        std::printf("\n");
        for (const auto& [invariant, count] : broken)
            ADD_FAILURE() << scenario << ": " << count << " states broke \"" << invariant << "\"; the first "
                          << firstExample.at(invariant);
    }
};

const char* KindName(platform::FileChange::Kind kind) {
    switch (kind) {
        case platform::FileChange::Kind::Create: return "create";
        case platform::FileChange::Kind::Truncate: return "truncate";
        case platform::FileChange::Kind::Write: return "write";
        case platform::FileChange::Kind::Flush: return "flush";
        case platform::FileChange::Kind::FlushFolder: return "folder flush";
        case platform::FileChange::Kind::Rename: return "rename";
        case platform::FileChange::Kind::Delete: return "delete";
    }
    return "?";
}

std::string Where(const CrashStates& states, size_t point, const CrashState& state) {
    std::string text = "at point " + std::to_string(point) + " of " + std::to_string(states.Points() - 1);
    if (point > 0) {
        const platform::FileChange& last = states.recording().changes[point - 1];
        std::string name = last.name;
        for (const auto& [initial, file] : states.recording().names)
            if (name.empty() && file == last.file) name = initial;
        for (const platform::FileChange& change : states.recording().changes)
            if (name.empty() && change.file == last.file && !change.name.empty()) name = change.name;
        text += std::string(" (after a ") + KindName(last.kind) + " of " + fs::path(name).filename().string() +
                (last.kind == platform::FileChange::Kind::Write ? " at " + std::to_string(last.offset) : "") + ")";
    }
    text += "; the disk holds";
    for (const auto& [name, bytes] : state.files)
        text += " " + fs::path(name).filename().string() + "(" + std::to_string(bytes.size()) + ")";
    return text;
}

// Visits each distinct state of every point once.
template <typename Check>
void Explore(const CrashStates& states, const std::string& folder, Findings& findings, Check check) {
    std::mt19937_64 random(20261211);
    std::set<uint64_t> seen;
    const size_t budget = Budget();
    for (size_t point = 0; point < states.Points(); ++point) {
        states.Visit(point, budget, random, [&](const CrashState& state) {
            if (!seen.insert(crash_test::StateDigest(state) ^ (point + 1 == states.Points())).second) return;
            ++findings.states;
            crash_test::Materialise(folder, state);
            check(point, state);
        });
    }
}

// ---- A writer's session on an existing database ------------------------------------------------

// A database of a few dozen keys with values, some of them longer than a block.
Bytes MakeDatabase(const std::string& path) {
    DatabaseManager db;
    const int32_t h = db.OpenDatabase(path.c_str(), ModeReadWrite);
    const int64_t root = db.HdbCreateKey(h, 0, "Root");
    for (int i = 0; i < 24; ++i) {
        const int64_t key = db.HdbCreateKey(h, static_cast<uint32_t>(root), ("key " + std::to_string(i)).c_str());
        const std::string value(static_cast<size_t>(20 + 60 * (i % 7)), static_cast<char>('a' + i % 26));
        db.HdbWriteValue(h, static_cast<uint32_t>(key), value.data(), static_cast<uint32_t>(value.size()));
    }
    db.CloseDatabase(h);
    return ReadBytes(path);
}

// Creates, values, renames and deletes, with the cache writing blocks back in between.
void ChangeDatabase(DatabaseManager& db, int32_t h) {
    const uint32_t root = kRootKey;
    for (int i = 0; i < 8; ++i) {
        const int64_t key = db.HdbCreateKey(h, root, ("new " + std::to_string(i)).c_str());
        const std::string value(static_cast<size_t>(100 + 90 * i), static_cast<char>('A' + i));
        db.HdbWriteValue(h, static_cast<uint32_t>(key), value.data(), static_cast<uint32_t>(value.size()));
    }
    for (int i = 0; i < 3; ++i) {
        const int64_t key = db.HdbFindKey(h, root, ("key " + std::to_string(i)).c_str());
        db.HdbRenameKey(h, static_cast<uint32_t>(key), ("renamed " + std::to_string(i)).c_str());
    }
    for (int i = 10; i < 16; ++i) db.HdbDeleteKey(h, static_cast<uint32_t>(db.HdbFindKey(h, root, ("key " + std::to_string(i)).c_str())));
    const int64_t cleared = db.HdbFindKey(h, root, "key 20");
    db.HdbClearValue(h, static_cast<uint32_t>(cleared));
}

// Checks the states of a writer's session that changed `before` into `committed`.
void CheckWriterStates(const CrashStates& states, const std::string& folder, const std::string& path,
                       const Bytes& before, const Bytes& committed, Findings& findings) {
    Explore(states, folder, findings, [&](size_t point, const CrashState& state) {
        const auto found = state.files.find(path);
        const bool leftOpen = found != state.files.end() && LeftOpen(found->second);
        DatabaseManager db;
        const int32_t recovered = db.RecoverDatabase(path.c_str());
        const Bytes after = ReadBytes(path);
        const std::string where = Where(states, point, state);
        if (found == state.files.end()) findings.Break("the database exists", where);
        else if (recovered != 0 || LeftOpen(after)) findings.Break("a database left open is put back", where);
        else if (leftOpen && after != before) findings.Break("a database left open recovers to the content before the open", where);
        else if (after != before && after != committed) findings.Break("a clean header holds the content before or the content committed", where);
    });
}

TEST(CrashStates, AWritersSessionOnAnExistingDatabase) {
    ScratchDir dir;
    const std::string path = dir / "settings.hdb";
    const Bytes before = MakeDatabase(path);
    const SmallCache cache;
    platform::StartRecording(dir.path().string().c_str());
    {
        DatabaseManager db;
        const int32_t h = db.OpenDatabase(path.c_str(), ModeReadWrite);
        ASSERT_GE(h, 0);
        ChangeDatabase(db, h);
        ASSERT_EQ(db.CloseDatabase(h), 0);
    }
    const CrashStates states(platform::StopRecording());
    const Bytes committed = ReadBytes(path);
    ASSERT_NE(committed, before);
    Findings findings;
    CheckWriterStates(states, dir.path().string(), path, before, committed, findings);
    findings.Report("writer session");
}

TEST(CrashStates, AReaderThatBecomesAWriter) {
    ScratchDir dir;
    const std::string path = dir / "settings.hdb";
    const Bytes before = MakeDatabase(path);
    const SmallCache cache;
    platform::StartRecording(dir.path().string().c_str());
    {
        DatabaseManager db;
        const int32_t reader = db.OpenDatabase(path.c_str(), ModeReadOnly);
        ASSERT_GE(reader, 0);
        ASSERT_GT(db.HdbFindKey(reader, kRootKey, "key 1"), 0);
        const int32_t writer = db.OpenDatabase(path.c_str(), ModeReadWrite);
        ASSERT_EQ(writer, reader);
        ChangeDatabase(db, writer);
        ASSERT_EQ(db.CloseDatabase(writer), 0);
        ASSERT_EQ(db.CloseDatabase(reader), 0);
    }
    const CrashStates states(platform::StopRecording());
    const Bytes committed = ReadBytes(path);
    ASSERT_NE(committed, before);
    Findings findings;
    CheckWriterStates(states, dir.path().string(), path, before, committed, findings);
    findings.Report("mode change");
}

// A writer died and left the file open, half-changed, with its mirror beside it; the next writer
// opens it, changes it and closes. Whatever moment the power goes, recovery gives the content
// before the dead writer's open, or what the new writer committed.
TEST(CrashStates, AWritersOpenOfADatabaseLeftOpen) {
    ScratchDir dir;
    const std::string path = dir / "settings.hdb";
    const Bytes before = MakeDatabase(path);
    Bytes halfChanged = before;
    halfChanged[offsetof(DatabaseHeader, openForWrite)] = 1;
    halfChanged.resize(halfChanged.size() + 1024, 0xEE);
    WriteBytes(path, halfChanged);
    WriteBytes(path + kMirrorSuffix, before);
    const SmallCache cache;
    platform::StartRecording(dir.path().string().c_str());
    {
        DatabaseManager db;
        const int32_t h = db.OpenDatabase(path.c_str(), ModeReadWrite);
        ASSERT_GE(h, 0);
        ChangeDatabase(db, h);
        ASSERT_EQ(db.CloseDatabase(h), 0);
    }
    const CrashStates states(platform::StopRecording());
    const Bytes committed = ReadBytes(path);
    Findings findings;
    CheckWriterStates(states, dir.path().string(), path, before, committed, findings);
    findings.Report("open of a database left open");
}

// ---- A rebuild with an old database present ----------------------------------------------------

class RebuildScenario : public ::testing::Test {
protected:
    void SetUp() override { app::SetHostAddressSource(testing_support::StubAddresses); }
    void TearDown() override { app::SetHostAddressSource(nullptr); }

    std::string Database() const { return dir_ / "UserConfig.hdb"; }
    void WriteUser(const char* id, const char* summary) {
        fs::create_directories(dir_.path() / "users" / id);
        WriteBytes((dir_.path() / "users" / id / "UserSummary.rtf").string(), ReadBytes((kData / summary).string()));
    }
    int Rebuild() {
        testing_support::StringStreams streams;
        return app::RunBatch(dir_.path().string(), streams);
    }

    ScratchDir dir_;
};

// Whether any file of the state under the database's name or a set-aside name holds `old`.
bool OldKept(const CrashState& state, const std::string& database, const Bytes& old) {
    for (const auto& [name, bytes] : state.files)
        if (name.compare(0, database.size(), database) == 0 && (name.size() == database.size() || name.compare(database.size(), 4, ".old") == 0) && bytes == old)
            return true;
    return false;
}

CrashState DiskNow(const std::string& folder) {
    CrashState state;
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(folder)))
        if (entry.is_regular_file()) state.files[entry.path().string()] = ReadBytes(entry.path().string());
    return state;
}

TEST_F(RebuildScenario, ARebuildWithAnOldDatabasePresent) {
    WriteUser("00000002", "libreoffice_erin.rtf");
    WriteUser("0000002a", "pandoc_dave.rtf");
    ASSERT_EQ(Rebuild(), app::kExitComplete);
    const Bytes old = ReadBytes(Database());
    fs::remove_all(dir_.path() / "users" / "0000002a");
    WriteUser("00000003", "pandoc_dave.rtf");

    platform::StartRecording(dir_.path().string().c_str());
    const int exitCode = Rebuild();
    const CrashStates states(platform::StopRecording());
    if (std::getenv("PELLUCOR_CRASH_LOG"))
        for (const platform::FileChange& c : states.recording().changes)
            std::printf("%s %u %s %s %llu %zu\n", KindName(c.kind), c.file, c.name.c_str(), c.target.c_str(),
                        static_cast<unsigned long long>(c.offset), c.bytes.size());
    ASSERT_EQ(exitCode, app::kExitComplete);
    const Bytes rebuilt = ReadBytes(Database());

    Findings findings;
    // The next rebuild is a whole run for each state: a sample of them where the states are many.
    size_t visited = 0;
    const size_t nextRebuildEvery = Budget() > 50 ? 1 : 3;
    Explore(states, dir_.path().string(), findings, [&](size_t point, const CrashState& state) {
        const std::string where = Where(states, point, state);
        if (!OldKept(state, Database(), old)) findings.Break("the old database is kept whole", where);
        const auto current = state.files.find(Database());
        if (current != state.files.end() && SaysClosedCleanly(current->second) && !Sound(Database()))
            findings.Break("a database whose header says closed cleanly is sound", where);
        if (point + 1 == states.Points()) {
            const auto found = state.files.find(Database());
            if (found == state.files.end() || found->second != rebuilt)
                findings.Break("\"Database Restoration Complete\" only once the new database is on the disk", where);
        }
        if (visited++ % nextRebuildEvery != 0) return;
        DatabaseManager db;
        db.RecoverDatabase(Database().c_str());
        const int next = Rebuild();
        if (next != app::kExitComplete || ReadBytes(Database()) != rebuilt)
            findings.Break("the next rebuild completes", where + "; exit code " + std::to_string(next));
        if (!OldKept(DiskNow(dir_.path().string()), Database(), old))
            findings.Break("the old database is kept whole after the next rebuild", where);
    });
    findings.Report("rebuild");
}

// ---- hdbtool import and salvage ----------------------------------------------------------------

int Hdbtool(const std::vector<std::string>& arguments, std::string* output = nullptr) {
    std::vector<const char*> argv{"hdbtool"};
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    tools::StringSink out, err;
    const int exitCode = tools::RunHdbtool(static_cast<int>(argv.size()), argv.data(), out, err);
    if (output) *output = out.text();
    return exitCode;
}

// A command that writes NEWFILE from SOURCE: its source never changes, and once it has exited
// with success its new file is on the disk.
void CheckNewFileStates(const char* scenario, const std::vector<std::string>& command, const ScratchDir& dir,
                        const std::string& source, const std::string& target) {
    const Bytes sourceBytes = ReadBytes(source);
    platform::StartRecording(dir.path().string().c_str());
    const int exitCode = Hdbtool(command);
    const CrashStates states(platform::StopRecording());
    ASSERT_EQ(exitCode, 0) << scenario;
    const Bytes written = ReadBytes(target);
    Findings findings;
    Explore(states, dir.path().string(), findings, [&](size_t point, const CrashState& state) {
        const std::string where = Where(states, point, state);
        const auto found = state.files.find(source);
        if (found == state.files.end() || found->second != sourceBytes) findings.Break("the source stays as it was", where);
        if (point + 1 == states.Points()) {
            const auto made = state.files.find(target);
            if (made == state.files.end() || made->second != written)
                findings.Break("the new file is on the disk once the command succeeded", where);
        }
    });
    findings.Report(scenario);
}

TEST(CrashStates, HdbtoolImportAndSalvage) {
    ScratchDir dir;
    const std::string database = dir / "settings.hdb";
    MakeDatabase(database);
    const std::string text = dir / "settings.txt";
    std::string exported;
    ASSERT_EQ(Hdbtool({"export", database}, &exported), 0);
    testing_support::WriteText(text, exported);
    CheckNewFileStates("import", {"import", text, dir / "imported.hdb"}, dir, text, dir / "imported.hdb");
    CheckNewFileStates("salvage", {"salvage", database, dir / "salvaged.hdb"}, dir, database, dir / "salvaged.hdb");
}

}  // namespace
