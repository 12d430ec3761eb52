#include "tools/structure_scan.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "damaged_database.h"
#include "tools/structure_report.h"

using namespace tools;
using hdb::BlockOffset;
using hdb::DatabaseManager;

namespace {

using namespace tools_test;

TEST_F(DamagedDatabaseTest, SoundFileHasNoProblemAndEveryBlockAccountedFor) {
    const ScanResult scan = ScanFile(path);
    EXPECT_EQ(Joined(ProblemLines(scan)), "");
    EXPECT_EQ(VerifyExitCode(scan), 0);
    EXPECT_EQ(scan.keysFound, 8u);
    EXPECT_EQ(scan.freeBlocks, 3u);
    EXPECT_EQ(scan.keyBlocks + scan.freeListBlocks + scan.freeBlocks, scan.blocksInFile);
    EXPECT_EQ(scan.maxDepth, 3u);
    ASSERT_GE(scan.largestList, 0);
    EXPECT_EQ(KeyPath(scan, scan.largestList), "Root");  // three sub-keys, as B has: the first in tree order
}

TEST_F(DamagedDatabaseTest, EachDamageIsNamedByItsBlockOrKeyPath) {
    for (const DamageCase& k : DamageCases()) {
        SCOPED_TRACE(k.what);
        const ScanResult scan = ScanDamaged(k.damage);
        const std::string lines = Joined(ProblemLines(scan));
        EXPECT_NE(lines.find(k.line), std::string::npos) << lines;
        EXPECT_EQ(VerifyExitCode(scan), 1);
    }
}

TEST_F(DamagedDatabaseTest, WrongHashNamesBothHashes) {
    const ScanResult scan = ScanDamaged([&](auto& f) { PutWord(f, Entry(root, 4, 2) + 4, 0x12345678); });
    EXPECT_EQ(Joined(ProblemLines(scan)),
              "Root\\C: the name hash in its parent's list is 0x12345678, but its name's hash is 0x01630063\n");
}

TEST_F(DamagedDatabaseTest, LostKeysAreMarkedAndCountedWithoutTheirSubtrees) {
    // B's header no longer fits its stream: B and its three sub-keys are lost.
    const ScanResult scan = ScanDamaged([&](auto& f) { PutWord(f, BlockOffset(bk), 20); });
    EXPECT_EQ(LostKeyCount(scan), 1u);
    for (const ScannedKey& key : scan.keys) {
        EXPECT_NE(key.id, b1);
        if (key.lost) {
            EXPECT_EQ(KeyPath(scan, &key - scan.keys.data()), "Root\\<sub-key 1, block " + N(bk) + ">");
        }
    }
    ASSERT_EQ(b3, bk + 3);
    const std::string lines = Joined(ProblemLines(scan));
    EXPECT_NE(lines.find("blocks " + N(bk) + " to " + N(b3) + ": in no chain"), std::string::npos) << lines;
}

TEST_F(DamagedDatabaseTest, ScanningNeverChangesTheFile) {
    PutWord(pristine, BlockOffset(aBlocks[2]) + 4, a);  // a loop
    WriteBytes(path, pristine);
    ScanFile(path, true);
    EXPECT_EQ(ReadBytes(path), pristine);
}

TEST_F(DamagedDatabaseTest, NotADatabaseStopsAfterTheHeaderUnlessKeepingGoing) {
    std::vector<uint8_t> zeros(pristine.size(), 0);
    WriteBytes(path, zeros);
    const ScanResult refused = ScanFile(path);
    EXPECT_EQ(Joined(ProblemLines(refused)),
              "header: not a database: it holds no database signature (its first 256 bytes are all zero)\n");
    std::vector<uint8_t> unsigned_ = pristine;
    unsigned_[0] = 0;
    WriteBytes(path, unsigned_);
    const ScanResult kept = ScanFile(path, true);
    EXPECT_EQ(kept.keysFound, 8u);
    EXPECT_EQ(kept.problems.size(), 1u);
}

TEST(NotADatabaseReasonTest, NamesWhatIsWrongWithTheHeader) {
    ScratchDir scratch;
    const std::string path = scratch / "x.hdb";
    std::vector<uint8_t> good = hdb_test::DatabaseImage(1);
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        std::string reason;
    } cases[] = {
        {"empty", {}, "it is empty"},
        {"all zero", std::vector<uint8_t>(4096, 0), "it holds no database signature (its first 256 bytes are all zero)"},
        {"text", std::vector<uint8_t>(300, 'x'), "it holds no database signature (its first 36 bytes are not"},
        {"header only", std::vector<uint8_t>(good.begin(), good.begin() + 256), "it is 256 bytes long, too short"},
        {"header size", [&] { auto b = good; PutWord(b, 44, 256); return b; }(), "its header size field is 256, not 72"},
        {"block count", [&] { auto b = good; PutWord(b, 52, 7); return b; }(),
         "its header counts 7 blocks, but the file holds only 1 (512 bytes)"},
        {"sound", good, ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        WriteBytes(path, k.bytes);
        fileservice::FileService files;
        RawDatabase raw(files);
        ASSERT_EQ(raw.Open(path.c_str()), 0);
        const std::string reason = NotADatabaseReason(raw);
        if (k.reason.empty())
            EXPECT_EQ(reason, "");
        else
            EXPECT_EQ(reason.substr(0, k.reason.size()), k.reason);
    }
}

TEST(LeftOpenNoteTest, SaysWhetherAMirrorLiesBeside) {
    ScratchDir scratch;
    const std::string path = scratch / "open.hdb";
    std::vector<uint8_t> image = hdb_test::DatabaseImage(1);
    PutWord(image, 68, 1);
    WriteBytes(path, image);
    fileservice::FileService files;
    {
        RawDatabase raw(files);
        ASSERT_EQ(raw.Open(path.c_str()), 0);
        EXPECT_NE(LeftOpenNote(files, raw).find("no mirror lies beside it"), std::string::npos);
    }
    WriteBytes(path + ".mirror", hdb_test::DatabaseImage(1));
    RawDatabase raw(files);
    ASSERT_EQ(raw.Open(path.c_str()), 0);
    EXPECT_NE(LeftOpenNote(files, raw).find("its mirror " + path + ".mirror lies beside it"), std::string::npos);
}

// A long random run of the engine's key and value changes leaves a file the walk finds sound.
TEST(SoundDatabaseTest, RandomChangesLeaveNoProblem) {
    ScratchDir scratch;
    const std::string path = scratch / "random.hdb";
    std::mt19937 rng(7);
    auto pick = [&](uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng); };
    std::map<uint32_t, uint32_t> parents;  // key -> parent, for the live keys
    {
        DatabaseBuilder b(path);
        DatabaseManager& db = b.db();
        const int32_t h = b.handle();
        parents[b.Key(0, "Root")] = 0;
        auto any = [&] {
            auto it = parents.begin();
            std::advance(it, pick(static_cast<uint32_t>(parents.size())));
            return it->first;
        };
        for (int step = 0; step < 500; ++step) {
            const uint32_t roll = pick(100);
            const uint32_t key = any();
            if (roll < 40 || parents.size() < 4) {
                parents[b.Key(key, std::string(1 + pick(300), static_cast<char>('a' + pick(26))))] = key;
            } else if (roll < 50 && key != 1) {
                ASSERT_EQ(db.HdbRenameKey(h, key, std::string(1 + pick(40), 'r').c_str()), 0);
            } else if (roll < 58 && key != 1) {
                ASSERT_EQ(db.HdbDeleteKey(h, key), 0);
                parents.erase(key);
                for (bool again = true; again;) {  // the subtree goes with it
                    again = false;
                    for (auto it = parents.begin(); it != parents.end();) {
                        if (it->second != 0 && parents.count(it->second) == 0) {
                            it = parents.erase(it);
                            again = true;
                        } else {
                            ++it;
                        }
                    }
                }
            } else {
                std::string bytes(pick(1500), '\0');
                for (char& ch : bytes) ch = static_cast<char>(pick(256));
                if (roll < 80) db.HdbClearValue(h, key);
                db.HdbSeekValue(h, key, pick(db.HdbGetValueSize(h, key) + 1));
                ASSERT_EQ(db.HdbWriteValue(h, key, bytes.data(), static_cast<uint32_t>(bytes.size())),
                          static_cast<int32_t>(bytes.size()));
                if (pick(3) != 0) db.HdbCloseKey(h, key);
            }
        }
    }
    const ScanResult scan = ScanFile(path);
    EXPECT_EQ(Joined(ProblemLines(scan)), "");
    EXPECT_EQ(scan.keysFound, parents.size());
    EXPECT_GT(scan.freeBlocks, 0u);
}

}  // namespace

namespace {

// Keys with long names whose first length word the server's own engine leaves stale: the
// chain holds what the header describes, so the file is as the server writes it.
TEST(ServerWrittenFileTest, StaleLengthWordsOfLongNamesAreNoDamage) {
    const std::string fixture =
        (std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "long_names_stale_length.hdb").string();
    const ScanResult scan = ScanFile(fixture);
    EXPECT_EQ(Joined(ProblemLines(scan)), "");
    EXPECT_EQ(scan.keysFound, 6u);

    // Cut the chain the header's stream needs: the short word is damage again.
    ScratchDir scratch;
    const std::string path = scratch / "cut.hdb";
    std::vector<uint8_t> bytes = ReadBytes(fixture);
    ASSERT_LT(WordAt(bytes, BlockOffset(7)), 409u);  // N: its word is stale
    PutWord(bytes, BlockOffset(7) + 4, 0);
    WriteBytes(path, bytes);
    const std::string lines = Joined(ProblemLines(ScanFile(path)));
    EXPECT_NE(lines.find("which holds no sound key header: its value offset 409 lies beyond its stream length"),
              std::string::npos)
        << lines;
}

}  // namespace
