// The fault sweep: a batch rebuild of a small repository that holds an old UserConfig.hdb, run
// once without faults to count the platform calls of each kind, then once for every call of
// every kind with that call failing (and, for reads and writes, once with it moving a single
// byte). Whatever fails: the old database stays byte for byte as it was, under its set-aside
// name or in place; no file, search, database or key is left open; a new database that says it
// was closed cleanly is sound; and the new database is the fault-free one unless the console
// said what went wrong and exited non-zero.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/console/batch_run.h"
#include "app/console/console_test_support.h"
#include "app/console/exit_codes.h"
#include "app/local_addresses.h"
#include "app/user_config_tree.h"
#include "fileservice/file_service.h"
#include "hdb/block_cache.h"
#include "hdb/database_manager.h"
#include "hdb/hdb_test_support.h"
#include "platform/testing/fault_injection.h"
#include "test_support.h"
#include "tools/raw_database.h"
#include "tools/structure_scan.h"

using namespace app;
using namespace tools;
using fileservice::FileService;
using fileservice::OpenFileCount;
using fileservice::SearchSlotCount;

namespace {

namespace fs = std::filesystem;
using platform::CallKind;
using testing_support::OpenKeyReports;
using testing_support::ScratchDir;
using testing_support::StringStreams;
using hdb_test::CacheLimitScope;

const fs::path kData = fs::path(__FILE__).parent_path().parent_path() / "data";

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

const char* KindName(CallKind kind) {
    static const char* const names[] = {"open",     "read",       "write",     "seek",     "flush",   "close",
                                        "rename",   "delete",     "copy",      "find",     "attributes",
                                        "allocation", "registry", "profile",   "random",   "thread",  "folder read", "folder",
                                        "space"};
    static_assert(sizeof names / sizeof names[0] == static_cast<size_t>(CallKind::Count));
    return names[static_cast<int>(kind)];
}

// What one run left behind.
struct Outcome {
    uint64_t calls[static_cast<int>(CallKind::Count)] = {};  // the run's platform calls of each kind
    int exitCode = -1;
    std::vector<std::string> out;  // the run's status lines and final message
    std::vector<std::string> err;  // the console's own report
    int32_t openKeyReports = 0;
    int32_t openFiles = 0;
    int32_t searchSlots = 0;
    int32_t openDatabases = 0;
    std::string database;      // the bytes at UserConfig.hdb ("" when there is none)
    // The new database says it was closed cleanly, and its structure is sound: every chain,
    // list and free block where it should be.
    bool closedCleanly = false;
    bool sound = false;
    std::string setAside;      // the bytes at UserConfig.hdb.old0, where the old one goes
    std::string olderSetAside; // the bytes at UserConfig.hdb.old, taken before the run
};

// The repository: two user folders with summaries written by word processors, an old database
// and an older set-aside copy, so that the old database moves to the numbered name. Every entry
// gets its account, so a fault-free run has nothing to report.
class SweepRepository {
public:
    SweepRepository() {
        erin_ = ReadFile(kData / "libreoffice_erin.rtf");
        dave_ = ReadFile(kData / "pandoc_dave.rtf");
    }

    const fs::path& root() const { return dir_.path(); }
    fs::path Database() const { return root() / "UserConfig.hdb"; }

    // The old database: a rebuild of the same users folder with one user more, so that it
    // differs from every database the sweep's runs write.
    void MakeOldDatabase() {
        Clear();
        WriteUsers();
        WriteFile(root() / "users" / "0000002a" / "UserSummary.rtf", dave_);
        Run();
        oldDatabase_ = ReadFile(Database());
    }

    const std::string& oldDatabase() const { return oldDatabase_; }

    // The repository as every run of the sweep finds it.
    void Prepare() {
        Clear();
        WriteUsers();
        WriteFile(Database(), oldDatabase_);
        WriteFile(root() / "UserConfig.hdb.old", kOlder);
    }

    Outcome Run() {
        Outcome outcome;
        StringStreams streams;
        {
            OpenKeyReports reports;
            outcome.exitCode = RunBatch(root().string(), streams);
            outcome.openKeyReports = reports.count();
        }
        // What the run did, before anything here reads its files.
        for (int k = 0; k < static_cast<int>(CallKind::Count); ++k)
            outcome.calls[k] = platform::CallCount(static_cast<CallKind>(k));
        platform::ClearFaults();
        outcome.openFiles = OpenFileCount();
        outcome.searchSlots = SearchSlotCount();
        outcome.openDatabases = hdb::OpenDatabaseCount();
        outcome.out = streams.out;
        outcome.err = streams.err;
        std::error_code ignored;
        if (fs::exists(Database(), ignored)) {
            outcome.database = ReadFile(Database());
            FileService files;
            RawDatabase raw(files);
            if (raw.Open(Database().string().c_str()) == 0) {
                const ScanResult scan = ScanStructure(raw, false);
                outcome.closedCleanly = scan.refusal.empty() && scan.header.openForWrite == 0;
                outcome.sound = scan.refusal.empty() && !scan.readFailed && scan.problems.empty();
            }
        }
        outcome.setAside = ReadFile(root() / "UserConfig.hdb.old0");
        outcome.olderSetAside = ReadFile(root() / "UserConfig.hdb.old");
        return outcome;
    }

    static constexpr char kOlder[] = "an older database set aside before";

private:
    void Clear() {
        std::error_code ignored;
        fs::remove_all(root(), ignored);
        fs::create_directories(root());
    }
    void WriteUsers() {
        WriteFile(root() / "users" / "00000002" / "UserSummary.rtf", erin_);
        WriteFile(root() / "users" / "00000003" / "UserSummary.rtf", dave_);
    }

    ScratchDir dir_;
    std::string erin_;
    std::string dave_;
    std::string oldDatabase_;
};

// Whether the console said that something went wrong: a status line other than the one that
// starts each user and the final message, or a line on standard error other than the summary
// of a complete run; and an exit code that says so.
bool ReportedFailure(const Outcome& outcome, const Outcome& expected) {
    if (outcome.exitCode == kExitComplete) return false;
    return outcome.out != expected.out || outcome.err != expected.err;
}

// The engine's block cache decides which block transfers reach the platform: with the usual
// cache they happen at opens and closes, without one every block is a call of its own, and a
// cache of a few blocks writes blocks back in the middle of operations.
enum class Cache { Usual, None, Tiny };
constexpr uint32_t kTinyCacheBlocks = 4;

uint32_t CacheBlocks(Cache cache) {
    return cache == Cache::Usual ? hdb::kDefaultBlockCacheLimit : cache == Cache::Tiny ? kTinyCacheBlocks : 0;
}

struct Variant {
    Cache cache;
    CallKind kind;
    bool shortTransfer;  // the call moves one byte and reports success
};

std::string VariantName(const ::testing::TestParamInfo<Variant>& info) {
    std::string name = KindName(info.param.kind);
    for (char& c : name)
        if (c == ' ') c = '_';
    if (info.param.shortTransfer) name = "short_" + name;
    const char* cache = info.param.cache == Cache::Usual ? "cached_" : info.param.cache == Cache::Tiny ? "tiny_cache_" : "uncached_";
    return cache + name;
}

struct Tally {
    uint64_t cases = 0;
    uint64_t oldChanged = 0;
    uint64_t reported = 0;  // the run did not give the fault-free database, and said so
    uint64_t lossUnreported = 0;
};
Tally g_total;

class FaultSweep : public ::testing::TestWithParam<Variant> {
protected:
    static void SetUpTestSuite() {
        SetHostAddressSource(testing_support::StubAddresses);
        repository_ = new SweepRepository;
        repository_->MakeOldDatabase();
        for (const Cache cache : {Cache::Usual, Cache::None, Cache::Tiny}) {
            const CacheLimitScope limit(CacheBlocks(cache));
            repository_->Prepare();
            platform::ResetCallCounts();
            expected_[static_cast<int>(cache)] = new Outcome(repository_->Run());
            for (int k = 0; k < static_cast<int>(CallKind::Count); ++k)
                counts_[static_cast<int>(cache)][k] = expected_[static_cast<int>(cache)]->calls[k];
        }
    }
    static void TearDownTestSuite() {
        std::printf("fault sweep: %llu cases, the old database changed in %llu, failure reported in %llu, data "
                    "lost and reported as complete in %llu\n",
                    static_cast<unsigned long long>(g_total.cases), static_cast<unsigned long long>(g_total.oldChanged),
                    static_cast<unsigned long long>(g_total.reported),
                    static_cast<unsigned long long>(g_total.lossUnreported));
        for (Outcome*& expected : expected_) {
            delete expected;
            expected = nullptr;
        }
        delete repository_;
        SetHostAddressSource(nullptr);
    }

    static constexpr int kCaches = 3;
    static uint64_t Count(Cache cache, CallKind kind) { return counts_[static_cast<int>(cache)][static_cast<int>(kind)]; }
    static const Outcome& Expected(Cache cache) { return *expected_[static_cast<int>(cache)]; }

    static SweepRepository* repository_;
    static Outcome* expected_[kCaches];
    static uint64_t counts_[kCaches][static_cast<int>(CallKind::Count)];
};

SweepRepository* FaultSweep::repository_ = nullptr;
Outcome* FaultSweep::expected_[FaultSweep::kCaches] = {};
uint64_t FaultSweep::counts_[FaultSweep::kCaches][static_cast<int>(CallKind::Count)] = {};

TEST(FaultSweepBaseline, TheFaultFreeRunRebuildsAndSetsTheOldDatabaseAside) {
    SetHostAddressSource(testing_support::StubAddresses);
    SweepRepository repository;
    repository.MakeOldDatabase();
    repository.Prepare();
    const Outcome outcome = repository.Run();
    SetHostAddressSource(nullptr);
    EXPECT_EQ(outcome.setAside, repository.oldDatabase());
    EXPECT_EQ(outcome.olderSetAside, SweepRepository::kOlder);
    EXPECT_EQ(outcome.exitCode, kExitComplete) << testing::PrintToString(outcome.err);
    EXPECT_EQ(outcome.out, (std::vector<std::string>{"Processing user ID \"00000002\"...",
                                                      "Processing user ID \"00000003\"...",
                                                      "Server UserConfig Data Restored: Database Restoration Complete"}));
    EXPECT_EQ(testing_support::ReadDatabaseTree(repository.Database().string()).empty(), false);
    EXPECT_NE(outcome.database, repository.oldDatabase());
}

TEST_P(FaultSweep, EveryCallFailingInTurnCostsNothingUnsaid) {
    const Variant variant = GetParam();
    const CacheLimitScope limit(CacheBlocks(variant.cache));
    const Outcome& expected = Expected(variant.cache);
    // Caching changes how the engine reaches the file, never what it writes.
    ASSERT_EQ(expected.database, Expected(Cache::Usual).database);
    const uint64_t calls = Count(variant.cache, variant.kind);
    if (calls == 0) GTEST_SKIP() << "a rebuild makes no " << KindName(variant.kind) << " call";
    platform::Fault fault;
    if (variant.shortTransfer) fault.shortCount = 1;
    Tally tally;
    for (uint64_t nth = 1; nth <= calls; ++nth) {
        repository_->Prepare();
        platform::ResetCallCounts();
        platform::InjectFault(variant.kind, static_cast<uint32_t>(nth), fault);
        const Outcome outcome = repository_->Run();
        const std::string where = std::string(KindName(variant.kind)) + " call " + std::to_string(nth) + " of " +
                                  std::to_string(calls) + (variant.shortTransfer ? " moving one byte" : " failing");
        ASSERT_GE(outcome.calls[static_cast<int>(variant.kind)], nth) << where << ": the run took another way before the fault";
        ++tally.cases;

        const std::string& old = repository_->oldDatabase();
        const bool oldKept = outcome.setAside == old || (outcome.setAside.empty() && outcome.database == old);
        if (!oldKept) ++tally.oldChanged;
        EXPECT_TRUE(oldKept) << where << ": the old database changed";
        EXPECT_EQ(outcome.olderSetAside, SweepRepository::kOlder) << where;

        EXPECT_EQ(outcome.openKeyReports, 0) << where << ": keys left open at a close";
        EXPECT_EQ(outcome.openFiles, 0) << where << ": files left open";
        EXPECT_EQ(outcome.searchSlots, 0) << where << ": searches left open";
        EXPECT_EQ(outcome.openDatabases, 0) << where << ": databases left open";

        // The engine never builds on a transfer that failed: a database that says it was closed
        // cleanly is sound, whatever it lacks.
        if (!outcome.database.empty()) {
            EXPECT_TRUE(!outcome.closedCleanly || outcome.sound) << where << ": a cleanly closed database is damaged";
        }

        // A run that gave the fault-free database but said something went wrong is on the safe side.
        const bool whole = outcome.database == expected.database && outcome.exitCode == kExitComplete;
        if (!whole && ReportedFailure(outcome, expected)) ++tally.reported;
        if (!whole && !ReportedFailure(outcome, expected)) {
            ++tally.lossUnreported;
            ADD_FAILURE() << where << ": the new database differs from the fault-free one (" << outcome.database.size()
                          << " bytes, " << expected.database.size() << " expected), exit code " << outcome.exitCode
                          << ", and nothing said so";
        }
    }
    g_total.cases += tally.cases;
    g_total.oldChanged += tally.oldChanged;
    g_total.reported += tally.reported;
    g_total.lossUnreported += tally.lossUnreported;
    std::printf("%s %s%s: %llu cases, old database changed %llu, failure reported %llu, loss unreported %llu\n",
                variant.cache == Cache::Usual ? "cached" : variant.cache == Cache::Tiny ? "tiny cache" : "uncached",
                variant.shortTransfer ? "short " : "", KindName(variant.kind),
                static_cast<unsigned long long>(tally.cases), static_cast<unsigned long long>(tally.oldChanged),
                static_cast<unsigned long long>(tally.reported), static_cast<unsigned long long>(tally.lossUnreported));
}

// The cache settings only move the engine's block transfers, in code that is the same on every
// platform; under Wine, where each case costs several times more, the usual cache alone covers
// every kind of platform call.
#ifdef _WIN32
constexpr Cache kSweptCaches[] = {Cache::Usual};
#else
constexpr Cache kSweptCaches[] = {Cache::Usual, Cache::None, Cache::Tiny};
#endif

std::vector<Variant> AllVariants() {
    std::vector<Variant> variants;
    for (const Cache cache : kSweptCaches) {
        for (int k = 0; k < static_cast<int>(CallKind::Count); ++k) {
            const auto kind = static_cast<CallKind>(k);
            variants.push_back({cache, kind, false});
            if (kind == CallKind::Read || kind == CallKind::Write) variants.push_back({cache, kind, true});
        }
    }
    return variants;
}

INSTANTIATE_TEST_SUITE_P(Kinds, FaultSweep, ::testing::ValuesIn(AllVariants()), VariantName);

}  // namespace
