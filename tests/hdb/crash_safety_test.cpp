// The reason the mirror exists: a writer killed at any point of its work (SIGKILL; under
// Windows TerminateProcess) leaves a database that RecoverDatabase puts back, byte for byte, as
// it was before that writer's open, and the result opens and walks cleanly.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "hdb/database_manager.h"
#include "platform/platform.h"
#include "platform/testing/process.h"
#include "test_support.h"

using namespace hdb;

namespace {

namespace stdfs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WordAt;
using testing_support::WriteBytes;

constexpr int kKills = 100;
// The changes of a writer that is not killed. The sanitizers slow every change about tenfold;
// a shorter run there still spreads the same hundred kills over all of it.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr uint32_t kChanges = 300;
#else
constexpr uint32_t kChanges = 1500;
#endif

// Names and values of every key, depth first: what "opens and walks cleanly" reads.
void Walk(DatabaseManager& db, int32_t h, uint32_t key, std::vector<std::string>& out) {
    char name[512] = "";
    ASSERT_GE(db.HdbGetKeyName(h, key, name, sizeof name), 0);
    std::string value(db.HdbGetValueSize(h, key), '\0');
    db.HdbSeekValue(h, key, 0);
    ASSERT_EQ(db.HdbReadValue(h, key, value.data(), static_cast<uint32_t>(value.size())),
              static_cast<int32_t>(value.size()));
    out.push_back(std::string(name) + "=" + value);
    for (int64_t sub = db.HdbFirstSubKey(h, key); sub > 0; sub = db.HdbNextSubKey(h, key, static_cast<uint32_t>(sub)))
        Walk(db, h, static_cast<uint32_t>(sub), out);
    db.HdbCloseKey(h, key);
}

class CrashSafety : public ::testing::Test {
protected:
    void SetUp() override {
        const int32_t h = manager.OpenDatabase(path.c_str(), ModeReadWrite);
        ASSERT_EQ(manager.HdbCreateKey(h, 0, "Root"), 1);
        std::vector<uint32_t> top;
        for (int i = 0; i < 200; ++i) {
            const uint32_t parent = i < 20 ? 1u : top[i % 20];
            const int64_t key = manager.HdbCreateKey(h, parent, ("key " + std::to_string(i)).c_str());
            ASSERT_GT(key, 1);
            if (i < 20) top.push_back(static_cast<uint32_t>(key));
            const std::string value(50 + (i * 131) % 1500, static_cast<char>('A' + i % 26));
            manager.HdbWriteValue(h, static_cast<uint32_t>(key), value.data(), static_cast<uint32_t>(value.size()));
            manager.HdbCloseKey(h, static_cast<uint32_t>(key));
        }
        manager.HdbCloseKey(h, 1);
        manager.CloseDatabase(h);
        original = ReadBytes(path);
        expectedWalk = WalkDatabase();
    }

    std::vector<std::string> WalkDatabase() {
        std::vector<std::string> keys;
        const int32_t h = manager.OpenDatabase(path.c_str(), ModeReadOnly);
        EXPECT_GE(h, 0);
        if (h < 0) return keys;
        Walk(manager, h, 1, keys);
        EXPECT_EQ(manager.GetKeyCount(h), static_cast<int32_t>(keys.size()));
        manager.CloseDatabase(h);
        return keys;
    }

    uint32_t Progress() {
        const auto bytes = ReadBytes(progress);
        return bytes.size() == 4 ? WordAt(bytes, 0) : 0;
    }

    // Runs a writer and kills it once its progress has reached `target` and `delay` more has
    // passed; with `target` 0 lets it finish. Its exit code, -1 when it was killed. The kill
    // follows the writer's own steps rather than a clock, so that it lands where it is meant to
    // however fast this machine starts and runs processes (Wine starts one slower than the
    // whole writer runs).
    int32_t RunWriter(uint32_t seed, uint32_t target, Clock::duration delay) {
        stdfs::remove(progress);
        const std::string seedText = std::to_string(seed), limit = std::to_string(kChanges);
        const char* arguments[] = {"work", path.c_str(), progress.c_str(), seedText.c_str(), limit.c_str(), nullptr};
        platform::ProcessHandle process = platform::StartProcess(program.c_str(), arguments);
        if (!process) {
            // Under load Wine now and then fails to start a process at all; a second try tells
            // such a hiccup from a writer that cannot be started, which fails the test.
            const uint32_t firstError = platform::LastError();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            process = platform::StartProcess(program.c_str(), arguments);
            EXPECT_NE(process, 0) << program << " cannot be started (error " << firstError << ", then "
                                  << platform::LastError() << ")";
        }
        if (!process) return -2;
        if (target > 0) {
            const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(60);
            while (Progress() < target && Clock::now() < giveUp) std::this_thread::sleep_for(std::chrono::microseconds(100));
            std::this_thread::sleep_for(delay);
            platform::KillProcess(process);
        }
        return platform::WaitProcess(process);
    }

    DatabaseManager manager;
    ScratchDir dir;
    const std::string path = dir / "UserConfig.hdb";
    const std::string progress = dir / "progress";
    const std::string program = testing_support::ProgramBesideThisOne("database_writer");
    std::vector<uint8_t> original;
    std::vector<std::string> expectedWalk;
};

TEST_F(CrashSafety, EveryKilledWriterIsUndoneByteForByte) {
    ASSERT_GT(expectedWalk.size(), 200u);
    const Clock::time_point started = Clock::now();
    ASSERT_EQ(RunWriter(1, 0, {}), 0);
    const Clock::duration whole = Clock::now() - started;
    ASSERT_EQ(Progress(), 2 + kChanges);
    EXPECT_EQ(manager.RecoverDatabase(path.c_str()), 0) << "a writer that closed needs nothing";
    WriteBytes(path, original);

    int kills = 0, restoredFromMirror = 0, finished = 0;
    std::map<std::string, int> landed;
    std::set<uint32_t> changesReached;
    for (int attempt = 0; kills < kKills && attempt < kKills * 2; ++attempt) {
        // A fifth of the kills go into the open (the mirror's copy and flushes, the header), one
        // more millisecond after its start each; the rest after changes spread over the whole run.
        const int i = attempt % kKills;
        const bool inOpen = i < kKills / 5;
        const uint32_t target = inOpen ? 1 : 2 + static_cast<uint32_t>((i - kKills / 5) * kChanges / (kKills - kKills / 5));
        const auto delay = inOpen ? std::chrono::milliseconds(i) : std::chrono::milliseconds(0);
        const int32_t code = RunWriter(100 + attempt, target, delay);
        const uint32_t reached = Progress();
        const auto left = ReadBytes(path);
        const bool marked = left.size() >= 72 && WordAt(left, 68) == 1;
        if (code != -1 || (reached == 2 + kChanges && !marked)) {
            // Closed before the kill arrived: its changes are whole and its own, not a crash.
            ASSERT_TRUE(code == 0 || code == -1);
            ++finished;
            stdfs::remove(path + ".mirror");
            WriteBytes(path, original);
            continue;
        }
        ++kills;
        landed[reached == 0 ? "before starting" : reached == 1 ? "during the open" : reached == 2 ? "after the open"
                                                                                                  : "during changes"]++;
        if (reached > 2) changesReached.insert(reached - 2);
        if (marked) ++restoredFromMirror;
        ASSERT_EQ(manager.RecoverDatabase(path.c_str()), 0) << "kill " << kills << " at progress " << reached;
        ASSERT_EQ(ReadBytes(path), original) << "kill " << kills << " at progress " << reached;
        ASSERT_EQ(WalkDatabase(), expectedWalk);
    }
    EXPECT_EQ(kills, kKills);
    EXPECT_GE(landed["during changes"], kKills / 3) << "the kills must reach into the writer's work";
    std::printf("writer of %u changes ran %.0f ms with its start; %d kills, %d restored from the mirror, all %d byte-exact; "
                "%d writers closed first\n",
                kChanges, std::chrono::duration<double, std::milli>(whole).count(), kills, restoredFromMirror, kills,
                finished);
    for (const auto& [where, count] : landed) std::printf("  killed %s: %d\n", where.c_str(), count);
    if (!changesReached.empty())
        std::printf("  changes done when killed: %zu different counts, %u to %u\n", changesReached.size(),
                    *changesReached.begin(), *changesReached.rbegin());
}

}  // namespace
