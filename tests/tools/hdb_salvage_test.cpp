#include "tools/hdb_salvage.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "damaged_database.h"

using namespace tools;
using hdb::BlockOffset;
using hdb::DatabaseManager;

namespace {

using namespace tools_test;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

class SalvageTest : public DamagedDatabaseTest {
protected:
    // Salvages `path` into `target`; the report.
    SalvageReport Salvage(int32_t expected = 0) {
        fileservice::FileService files;
        DatabaseManager db;
        RawDatabase raw(files);
        EXPECT_EQ(raw.Open(path.c_str()), 0);
        scan = ScanStructure(raw, true);
        SalvageReport report;
        const support::Result salvaged = SalvageDatabase(db, files, raw, scan, target.c_str(), report);
        EXPECT_EQ(salvaged.code(), expected) << salvaged.message();
        return report;
    }

    std::string target = scratch / "salvaged.hdb";
    ScanResult scan;
};

// The salvaged database holds, line for line and in order, every key of the undamaged file
// that the walk neither lost nor cut short; and it is sound.
TEST_F(SalvageTest, KeepsEveryKeyThatVerifyDidNotCondemn) {
    const std::vector<std::string> before = Lines(ExportFile(path));
    const uint32_t order[] = {root, a, a1, bk, b1, b2, b3, c};  // tree order
    ASSERT_EQ(before.size(), 2 + std::size(order));
    std::map<uint32_t, std::string> lineOf;
    for (size_t i = 0; i < std::size(order); ++i) lineOf[order[i]] = before[2 + i];

    for (const DamageCase& k : DamageCases()) {
        SCOPED_TRACE(k.what);
        std::vector<uint8_t> bytes = pristine;
        k.damage(bytes);
        WriteBytes(path, bytes);
        const SalvageReport report = Salvage();
        std::vector<std::string> expected;
        for (const ScannedKey& key : scan.keys)
            if (!key.lost && key.valueReadable == key.valueSize) expected.push_back(lineOf[key.id]);
        const std::vector<std::string> after = Lines(ExportFile(target));
        size_t found = 0;
        for (size_t i = 2; i < after.size() && found < expected.size(); ++i) found += after[i] == expected[found] ? 1 : 0;
        EXPECT_EQ(found, expected.size()) << Joined(after);
        EXPECT_EQ(report.keysWritten + LostKeyCount(scan), scan.keys.size());
        EXPECT_EQ(ScanFile(target).problems.size(), 0u);
    }
}

TEST_F(SalvageTest, ReportsWhatWasLostByKeyPath) {
    std::vector<uint8_t> bytes = pristine;
    PutWord(bytes, BlockOffset(bk), 20);              // B's header no longer fits: B goes, with B1 to B3
    PutWord(bytes, BlockOffset(aBlocks[1]) + 4, 0);   // A's chain ends after two of its three blocks
    WriteBytes(path, bytes);
    const SalvageReport report = Salvage();
    EXPECT_EQ(Joined(report.lost),
              "Root\\<sub-key 1, block " + N(bk) + ">: which holds no sound key header: its value offset 110 lies "
              "beyond its stream length 20\n"
              // The keys below it are intact: each is named, though nothing reaches it.
              "Root\\<sub-key 1, block " + N(bk) + ">\\B1: key in block " + N(b1) + ", which no readable sub-key list names\n"
              "Root\\<sub-key 1, block " + N(bk) + ">\\B2: key in block " + N(b2) + ", which no readable sub-key list names\n"
              "Root\\<sub-key 1, block " + N(bk) + ">\\B3: key in block " + N(b3) + ", which no readable sub-key list names\n");
    EXPECT_EQ(Joined(report.cut), "Root\\A: kept 386 of its value's 600 bytes\n");
    EXPECT_EQ(report.keysWritten, 4u);
    EXPECT_EQ(ExportFile(target), "hdbtool export 1\napp-value 0\n[Root]\n[Root\\A] = \"" + std::string(386, 'a') +
                                      "\"\n[Root\\A\\A1] = \"x\"\n[Root\\C] = \"text\"\n");
}

TEST_F(SalvageTest, FileWithoutSignatureOrWithoutTreeIsSalvagedAsFarAsItGoes) {
    const std::string intact = ExportFile(path);
    std::vector<uint8_t> bytes = pristine;
    std::fill(bytes.begin(), bytes.begin() + 36, 0);
    WriteBytes(path, bytes);
    EXPECT_EQ(Salvage().keysWritten, 8u);
    EXPECT_EQ(ExportFile(target), intact);

    WriteBytes(path, std::vector<uint8_t>(3000, 0));
    EXPECT_EQ(Salvage().keysWritten, 0u);
    EXPECT_EQ(ExportFile(target), "hdbtool export 1\napp-value 0\n");
}

}  // namespace
