// Several threads using the engine at once: the table lock serialises opening and closing, each
// database's lock serialises the operations on it. Run under ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "hdb/database_table.h"
#include "test_support.h"

using namespace hdb;

namespace {

using testing_support::ScratchDir;

constexpr int kThreads = 4;
constexpr int kKeysPerThread = 40;

std::string KeyName(int thread, int i) { return "t" + std::to_string(thread) + "-" + std::to_string(i); }

// Each thread opens the shared database itself (all opens share one handle), adds keys under a
// parent of its own with a value each, and closes again; afterwards every key is there.
TEST(EngineConcurrency, ThreadsShareOneDatabase) {
    ScratchDir dir;
    const std::string path = dir / "shared.hdb";
    DatabaseManager manager;
    const int32_t keeper = manager.OpenDatabase(path.c_str(), ModeReadWrite);
    ASSERT_GE(keeper, 0);
    const int64_t root = manager.HdbCreateKey(keeper, 0, "root");
    ASSERT_EQ(root, 1);
    std::vector<uint32_t> parents;
    for (int t = 0; t < kThreads; ++t) {
        const int64_t parent = manager.HdbCreateKey(keeper, 1, ("parent" + std::to_string(t)).c_str());
        ASSERT_GE(parent, 0);
        manager.HdbCloseKey(keeper, static_cast<uint32_t>(parent));
        parents.push_back(static_cast<uint32_t>(parent));
    }

    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            DatabaseManager own;
            const int32_t h = own.OpenDatabase(path.c_str(), ModeReadWrite);
            if (h != keeper) {
                ++failures[t];
                return;
            }
            for (int i = 0; i < kKeysPerThread; ++i) {
                const std::string name = KeyName(t, i);
                const int64_t key = own.HdbCreateKey(h, parents[t], name.c_str());
                if (key < 0) {
                    ++failures[t];
                    continue;
                }
                if (own.HdbWriteValue(h, static_cast<uint32_t>(key), name.data(), static_cast<uint32_t>(name.size())) !=
                    static_cast<int32_t>(name.size()))
                    ++failures[t];
                own.HdbCloseKey(h, static_cast<uint32_t>(key));
                if (own.HdbFindKey(h, parents[t], name.c_str()) != key) ++failures[t];
            }
            own.CloseDatabase(h);
        });
    }
    for (std::thread& thread : threads) thread.join();
    manager.HdbCloseKey(keeper, 1);
    ASSERT_EQ(manager.CloseDatabase(keeper), 0);
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;

    const int32_t h = manager.OpenDatabase(path.c_str(), ModeReadOnly);
    ASSERT_GE(h, 0);
    EXPECT_EQ(manager.GetKeyCount(h), 1 + kThreads + kThreads * kKeysPerThread);
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(manager.HdbGetSubKeyCount(h, parents[t]), kKeysPerThread);
        for (int i = 0; i < kKeysPerThread; ++i) {
            const std::string name = KeyName(t, i);
            const int64_t key = manager.HdbFindKey(h, parents[t], name.c_str());
            ASSERT_GE(key, 0) << name;
            char value[32] = {};
            EXPECT_EQ(manager.HdbReadValue(h, static_cast<uint32_t>(key), value, sizeof value - 1),
                      static_cast<int32_t>(name.size()));
            EXPECT_EQ(std::string(value), name);
            manager.HdbCloseKey(h, static_cast<uint32_t>(key));
        }
    }
    manager.CloseDatabase(h);
    EXPECT_EQ(OpenDatabaseCount(), 0);
}

// Threads opening and closing databases of their own at the same time never share a slot or
// lose a record.
TEST(EngineConcurrency, ThreadsOpenAndCloseTheirOwnDatabases) {
    ScratchDir dir;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            DatabaseManager manager;
            const std::string path = dir / ("own" + std::to_string(t) + ".hdb");
            for (int round = 0; round < 20; ++round) {
                const int32_t h = manager.OpenDatabase(path.c_str(), ModeReadWrite);
                if (h < 0) {
                    ++failures[t];
                    continue;
                }
                const int64_t key = round == 0 ? manager.HdbCreateKey(h, 0, "root")
                                               : manager.HdbCreateKey(h, 1, std::to_string(round).c_str());
                if (key < 0) ++failures[t];
                else manager.HdbCloseKey(h, static_cast<uint32_t>(key));
                if (manager.CloseDatabase(h) != 0) ++failures[t];
            }
            const int32_t h = manager.OpenDatabase(path.c_str(), ModeReadOnly);
            if (h < 0 || manager.GetKeyCount(h) != 20) ++failures[t];
            if (h >= 0) manager.CloseDatabase(h);
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
    EXPECT_EQ(OpenDatabaseCount(), 0);
    EXPECT_EQ(fileservice::OpenFileCount(), 0);
}

}  // namespace
