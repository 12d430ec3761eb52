#include "tools/hdb_dump.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "test_support.h"
#include "tools/output_sink.h"
#include "tools_test_support.h"

using namespace tools;
using hdb::BlockOffset;
using hdb::DatabaseManager;
using hdb::ModeReadOnly;
using hdb::ModeReadWrite;

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

    fileservice::FileService files;
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
    StringSink listing;
    EXPECT_EQ(DumpKeyTree(db, readOnly, listing), 0);
    db.CloseDatabase(readOnly);

    EXPECT_EQ(listing.text(), "Root\n"
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
    StringSink listing;
    EXPECT_EQ(DumpKeyTree(db, database, listing), 0);
    EXPECT_EQ(listing.text(), "");
    db.CloseDatabase(database);
}

}  // namespace

namespace {

class HdbDumpShapeTest : public ::testing::Test {
protected:
    void SetUp() override {
        tools_test::DatabaseBuilder b(path);
        root = b.Key(0, "Root");
        a = b.Key(root, "A", "text");
        b.Key(a, "B\\%", std::string("\0\xff", 2));
        d = b.Key(root, "D");
    }
    std::string Dump(bool json) {
        DatabaseManager db;
        const int32_t database = db.OpenDatabase(path.c_str(), ModeReadOnly);
        StringSink out;
        result = json ? DumpKeyTreeJson(db, database, out) : DumpKeyTree(db, database, out);
        db.CloseDatabase(database);
        return out.text();
    }

    ScratchDir scratch;
    std::string path = scratch / "tree.hdb";
    uint32_t root = 0, a = 0, d = 0;
    int32_t result = 0;
};

TEST_F(HdbDumpShapeTest, JsonNestsSubKeysAndEscapesNames) {
    EXPECT_EQ(Dump(true),
              "{\"keys\": [\n"
              "{\"id\": 1, \"name\": \"Root\", \"size\": 0, \"text\": \"\", \"subkeys\": [\n"
              "{\"id\": 2, \"name\": \"A\", \"size\": 4, \"text\": \"text\", \"subkeys\": [\n"
              "{\"id\": 3, \"name\": \"B\\\\%\", \"size\": 2, \"hex\": \"00ff\", \"subkeys\": []}]},\n"
              "{\"id\": 4, \"name\": \"D\", \"size\": 0, \"text\": \"\", \"subkeys\": []}]}\n"
              "]}\n");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Dump(false), "Root\n  A = \"text\"\n    B%5c%25 = <2 bytes> 00 ff\n  D\n");
}

TEST_F(HdbDumpShapeTest, AKeyListedAgainIsShownOnceAndTheDumpFails) {
    std::vector<uint8_t> bytes = ReadBytes(path);
    const size_t entry1 = BlockOffset(root) + 8 + 28 + 5 + 8;  // Root's second entry
    hdb_test::PutWord(bytes, entry1, a);
    hdb_test::PutWord(bytes, entry1 + 4, testing_support::WordAt(bytes, entry1 - 4));  // with A's hash
    testing_support::WriteBytes(path, bytes);
    EXPECT_EQ(Dump(false), "Root\n  A = \"text\"\n    B%5c%25 = <2 bytes> 00 ff\n  A <key 2 listed again>\n");
    EXPECT_EQ(result, -1);
    EXPECT_NE(Dump(true).find("{\"id\": 2, \"error\": \"listed again\"}"), std::string::npos);
}

}  // namespace

namespace {

// A list that names the same id twice, here 0xFFFFFFFF: however the engine steps through such
// a list, the walk asks for no more entries than the count and shows each id once.
TEST_F(HdbDumpShapeTest, AListNamingOneIdTwiceEndsAfterItsCount) {
    std::vector<uint8_t> bytes = ReadBytes(path);
    const size_t list = BlockOffset(root) + 8 + 28 + 5;
    for (size_t entry = 0; entry < 2; ++entry) hdb_test::PutWord(bytes, list + 8 * entry, 0xFFFFFFFFu);
    testing_support::WriteBytes(path, bytes);
    EXPECT_EQ(Dump(false), "Root\n  <key 4294967295 cannot be read>\n   <key 4294967295 listed again>\n");
    EXPECT_EQ(result, -1);
}

}  // namespace
