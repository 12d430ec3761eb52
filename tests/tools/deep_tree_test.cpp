// A valid database whose keys nest 50,000 deep: every walk of the tools keeps its own stack.
#include <gtest/gtest.h>

#include <string>

#include "tools/hdb_dump.h"
#include "tools/hdb_salvage.h"
#include "tools/structure_report.h"
#include "tools_test_support.h"

using namespace tools;
using hdb::DatabaseManager;
using hdb::ModeReadOnly;

namespace {

using namespace tools_test;

constexpr uint32_t kDepth = 50000;

class DeepTreeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        scratch_ = new ScratchDir;
        DatabaseBuilder b(Path());
        uint32_t key = b.Key(0, "k");
        for (uint32_t depth = 2; depth <= kDepth; ++depth) key = b.Key(key, "k", depth == kDepth ? "bottom" : "");
    }
    static void TearDownTestSuite() {
        delete scratch_;
        scratch_ = nullptr;
    }
    static std::string Path() { return *scratch_ / "deep.hdb"; }

    static ScratchDir* scratch_;
};

ScratchDir* DeepTreeTest::scratch_ = nullptr;

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

TEST_F(DeepTreeTest, DumpListsEveryLevelAndIndentsNoDeeperThanItsLimit) {
    DatabaseManager db;
    const int32_t database = db.OpenDatabase(Path().c_str(), ModeReadOnly);
    ASSERT_GE(database, 0);
    StringSink text, json;
    EXPECT_EQ(DumpKeyTree(db, database, text), 0);
    EXPECT_EQ(DumpKeyTreeJson(db, database, json), 0);
    db.CloseDatabase(database);
    EXPECT_EQ(Count(text.text(), "\n"), kDepth);
    const std::string indent(2 * kDumpIndentDepth, ' ');
    EXPECT_NE(text.text().find("\n" + indent + "k\n" + indent + "[depth 66] k\n"), std::string::npos);
    EXPECT_NE(text.text().find(indent + "[depth 50000] k = \"bottom\"\n"), std::string::npos);
    EXPECT_EQ(Count(json.text(), "\"name\": \"k\""), kDepth);
    std::string closing;  // every key's list and object closed, innermost first
    for (uint32_t i = 0; i < kDepth; ++i) closing += "]}";
    closing += "\n]}\n";
    ASSERT_GT(json.text().size(), closing.size());
    EXPECT_EQ(json.text().substr(json.text().size() - closing.size()), closing);
}

TEST_F(DeepTreeTest, VerifyStatAndSalvageWalkTheWholeTree) {
    fileservice::FileService files;
    RawDatabase raw(files);
    ASSERT_EQ(raw.Open(Path().c_str()), 0);
    const ScanResult scan = ScanStructure(raw, false);
    EXPECT_EQ(scan.problems.size(), 0u);
    EXPECT_EQ(scan.maxDepth, kDepth);
    EXPECT_EQ(scan.keysFound, kDepth);

    StringSink report;
    ASSERT_TRUE(WriteStatReport(scan, Path(), raw.fileSize(), "", false, report));
    EXPECT_NE(report.text().find("\ndepth: 50000\n"), std::string::npos);

    DatabaseManager db;
    SalvageReport salvage;
    const std::string copy = *scratch_ / "copy.hdb";
    const support::Result salvaged = SalvageDatabase(db, files, raw, scan, copy.c_str(), salvage);
    ASSERT_TRUE(salvaged) << salvaged.message();
    EXPECT_EQ(salvage.keysWritten, kDepth);
    EXPECT_TRUE(salvage.lost.empty());
}

// With the root's list emptied, every key below it is an orphan, each one's parent another
// orphan: each is named, by a path of its last 40 names.
TEST_F(DeepTreeTest, AnOrphanedDeepSubtreeIsNamedKeyByKey) {
    const std::string cut = *scratch_ / "cut.hdb";
    std::vector<uint8_t> bytes = ReadBytes(Path());
    const size_t count = hdb::BlockOffset(hdb::kRootKey) + 8 + 14;
    bytes[count] = bytes[count + 1] = 0;
    WriteBytes(cut, bytes);
    const ScanResult scan = ScanFile(cut);
    ASSERT_EQ(scan.orphans.size(), kDepth - 1);
    SalvageReport report;
    ListLosses(scan, report);
    EXPECT_EQ(report.keysFound, kDepth);
    EXPECT_EQ(report.lost.size(), kDepth - 1);
    std::string deepest = "...";
    for (int i = 0; i < 40; ++i) deepest += "\\k";
    size_t deep = 0;
    for (const std::string& line : report.lost) deep += line.rfind(deepest + ": key in block ", 0) == 0 ? 1 : 0;
    EXPECT_EQ(deep, kDepth - 1 - 40);
    EXPECT_EQ(report.lost.front().rfind("k\\k: key in block ", 0), 0u) << report.lost.front();
}

}  // namespace
