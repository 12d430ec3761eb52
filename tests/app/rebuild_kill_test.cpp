// A rebuild killed part-way (SIGKILL; under Windows TerminateProcess) leaves the old database,
// set aside, exactly as it was, and the next rebuild succeeds.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "hdb/database_manager.h"
#include "platform/platform.h"
#include "platform/testing/process.h"
#include "test_support.h"

namespace {

namespace stdfs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

const stdfs::path kSourceRoot = stdfs::path(__FILE__).parent_path().parent_path().parent_path();
constexpr int kUsers = 300;
constexpr int kKills = 20;

class RebuildKill : public ::testing::Test {
protected:
    void SetUp() override {
        std::ifstream in(kSourceRoot / "tests" / "data" / "pandoc_dave.rtf", std::ios::binary);
        const std::string summary{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        ASSERT_NE(summary.find("User Name: dave"), std::string::npos);
        for (int i = 0; i < kUsers; ++i) {
            char id[9];
            std::snprintf(id, sizeof id, "%08x", i + 2);
            const stdfs::path folder = repository.path() / "users" / id;
            stdfs::create_directories(folder);
            std::ofstream(folder / "UserSummary.rtf", std::ios::binary) << summary;
        }
        // The old database: a real one, from a finished rebuild.
        ASSERT_EQ(Rebuild(), 0);
        old = ReadBytes(database);
        ASSERT_GT(old.size(), 512u);
    }

    // Runs a rebuild; with `kill`, ends it `delay` after it began. Its exit code, -1 when killed.
    int32_t Rebuild(bool kill = false, Clock::duration delay = {}, Clock::duration* ran = nullptr) {
        stdfs::remove(started);
        const std::string repositoryPath = repository.path().string();
        const char* arguments[] = {repositoryPath.c_str(), started.c_str(), nullptr};
        const platform::ProcessHandle process = platform::StartProcess(program.c_str(), arguments);
        EXPECT_NE(process, 0) << program;
        if (!process) return -2;
        for (int wait = 0; wait < 20000 && !stdfs::exists(started); ++wait)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        const Clock::time_point begun = Clock::now();
        if (kill) {
            std::this_thread::sleep_for(delay);
            platform::KillProcess(process);
        }
        const int32_t code = platform::WaitProcess(process);
        if (ran) *ran = Clock::now() - begun;
        return code;
    }

    // Every file of the repository's folder whose name begins with UserConfig.hdb.
    std::vector<std::string> DatabaseFiles() {
        std::vector<std::string> names;
        for (const auto& entry : stdfs::directory_iterator(repository.path())) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("UserConfig.hdb", 0) == 0) names.push_back(name);
        }
        return names;
    }

    bool SomeFileHoldsTheOldDatabase() {
        for (const std::string& name : DatabaseFiles())
            if (name.find(".mirror") == std::string::npos && ReadBytes((repository.path() / name).string()) == old)
                return true;
        return false;
    }

    ScratchDir repository;
    const std::string database = repository / "UserConfig.hdb";
    const std::string started = repository / "started";
    const std::string program = testing_support::ProgramBesideThisOne("rebuild_runner");
    std::vector<uint8_t> old;
};

TEST_F(RebuildKill, TheOldDatabaseSurvivesAndTheNextRebuildSucceeds) {
    Clock::duration whole{};
    ASSERT_EQ(Rebuild(false, {}, &whole), 0);
    int kills = 0, setAside = 0;
    // The kills are spread over the run's length as first measured. On a busy machine that one
    // run may have been slow: a rebuild that finishes before its kill shortens the length assumed.
    for (int attempt = 0; attempt < 4 * kKills && kills < kKills; ++attempt) {
        for (const std::string& name : DatabaseFiles()) stdfs::remove(repository.path() / name);
        WriteBytes(database, old);
        const auto delay = std::chrono::duration_cast<Clock::duration>(whole * (kills + 0.5) / kKills);
        if (Rebuild(true, delay) != -1) {  // it finished first
            whole = whole * 3 / 4;
            continue;
        }
        ++kills;
        const std::string aside = database + ".old";
        // Before the move the old database is still in its place; after it, under its new name.
        if (stdfs::exists(aside)) {
            ++setAside;
            EXPECT_EQ(ReadBytes(aside), old) << "kill " << kills;
        } else {
            EXPECT_EQ(ReadBytes(database), old) << "kill " << kills;
        }
        ASSERT_EQ(Rebuild(), 0) << "the rebuild after kill " << kills;
        EXPECT_TRUE(SomeFileHoldsTheOldDatabase()) << "kill " << kills;
        EXPECT_FALSE(stdfs::exists(database + ".mirror"));
        hdb::DatabaseManager manager;
        const int32_t h = manager.OpenDatabase(database.c_str(), hdb::ModeReadOnly);
        ASSERT_GE(h, 0);
        EXPECT_EQ(manager.GetKeyCount(h), testing_support::WordAt(old, 56)) << "the same accounts again";
        manager.CloseDatabase(h);
    }
    EXPECT_GE(kills, kKills / 2);
    EXPECT_GT(setAside, 0) << "some kills must land after the old database was moved";
    std::printf("rebuild of %d users ran %.0f ms; %d kills (%d after the old database was set aside), "
                "old database intact and next rebuild complete every time\n",
                kUsers, std::chrono::duration<double, std::milli>(whole).count(), kills, setAside);
}

}  // namespace
