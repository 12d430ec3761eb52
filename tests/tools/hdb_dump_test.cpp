#include "tools/hdb_dump.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "test_support.h"

namespace {

using testing_support::ReadBytes;
using testing_support::ScratchDir;

std::string Format(const std::string& bytes) {
    return FormatValue(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()));
}

TEST(FormatValueTest, PrintableAsQuotedTextAnythingElseAsHex) {
    struct Case {
        std::string bytes;
        std::string shown;
    } cases[] = {
        {"", ""},
        {"00000002", "\"00000002\""},
        {"say \"hi\" \\ bye", "\"say \\\"hi\\\" \\\\ bye\""},
        {std::string("\x01\x00\x00\x00\xc0\xa8\x01\x0a", 8), "<8 bytes> 01 00 00 00 c0 a8 01 0a"},
        {"line\n", "<5 bytes> 6c 69 6e 65 0a"},
        {"\x7f", "<1 byte> 7f"},
    };
    for (const Case& c : cases) EXPECT_EQ(Format(c.bytes), c.shown) << c.shown;
}

class HdbDumpTest : public ::testing::Test {
protected:
    int32_t AddKey(int32_t database, uint32_t parent, const char* name, const std::string& value) {
        const int64_t key = db.HdbCreateKey(database, parent, name);
        EXPECT_GE(key, 0) << name;
        if (!value.empty()) db.HdbWriteValue(database, static_cast<uint32_t>(key), value.data(), static_cast<uint32_t>(value.size()));
        return key;
    }

    FileService files;
    DatabaseManager db;
    ScratchDir scratch;
    std::string path = scratch / "tree.hdb";
};

TEST_F(HdbDumpTest, ListsEveryKeyIndentedByDepthInListOrderWithoutChangingTheFile) {
    const int32_t database = db.OpenDatabase(path.c_str(), ModeReadWrite);
    ASSERT_GE(database, 0);
    AddKey(database, 1, "Root", "");
    const int32_t a = AddKey(database, 1, "A", "text");
    const int32_t b = AddKey(database, static_cast<uint32_t>(a), "B", std::string("\0\xff", 2));
    AddKey(database, static_cast<uint32_t>(b), "C", "");
    db.HdbCloseKey(database, static_cast<uint32_t>(b));
    db.HdbCloseKey(database, static_cast<uint32_t>(a));
    AddKey(database, 1, "D", std::string(300, 'x'));  // a value over more than one block
    db.CloseDatabase(database);
    const std::vector<uint8_t> before = ReadBytes(path);

    const int32_t readOnly = db.OpenDatabase(path.c_str(), ModeReadOnly);
    ASSERT_GE(readOnly, 0);
    std::string listing;
    EXPECT_EQ(DumpKeyTree(db, readOnly, listing), 0);
    db.CloseDatabase(readOnly);

    EXPECT_EQ(listing, "Root\n"
                       "  A = \"text\"\n"
                       "    B = <2 bytes> 00 ff\n"
                       "      C\n"
                       "  D = \"" + std::string(300, 'x') + "\"\n");
    EXPECT_EQ(ReadBytes(path), before);
}

// Keys with long names whose first length word the server's own engine left stale.
TEST_F(HdbDumpTest, ListsKeysWrittenWithAStaleLength) {
    const std::vector<uint8_t> fixture = ReadBytes(
        (std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "long_names_stale_length.hdb").string());
    testing_support::WriteBytes(path, fixture);
    const int32_t database = db.OpenDatabase(path.c_str(), ModeReadOnly);
    ASSERT_GE(database, 0);
    std::string listing;
    EXPECT_EQ(DumpKeyTree(db, database, listing), 0);
    db.CloseDatabase(database);
    EXPECT_EQ(listing, "Root\n"
                       "  " + std::string(200, 'L') + "\n"
                       "  " + std::string(200, 'M') + "\n"
                       "    Child = \"kept\"\n"
                       "  " + std::string(300, 'N') + "\n"
                       "  After = \"end\"\n");
    EXPECT_EQ(ReadBytes(path), fixture);
}

TEST_F(HdbDumpTest, EmptyDatabaseListsNothing) {
    const int32_t database = db.OpenDatabase(path.c_str(), ModeReadWrite);
    ASSERT_GE(database, 0);
    std::string listing;
    EXPECT_EQ(DumpKeyTree(db, database, listing), 0);
    EXPECT_EQ(listing, "");
    db.CloseDatabase(database);
}

}  // namespace
