#include "tools/text_form.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/testing/fault_injection.h"
#include "tools_test_support.h"

using namespace tools;
using hdb::BlockOffset;
using hdb::DatabaseManager;
using hdb::ModeReadOnly;

namespace {

using namespace tools_test;

class TextFormTest : public ::testing::Test {
protected:
    void TearDown() override { platform::ClearFaults(); }

    // Imports `text` into a new file; the error, or "" on success.
    std::string Import(const std::string& text, const std::string& target) {
        TextForm form;
        if (const support::Result parsed = form.Parse(text); !parsed) return parsed.message();
        fileservice::FileService files;
        DatabaseManager db;
        return WriteNewDatabase(db, files, target.c_str(), form).message();
    }

    ScratchDir scratch;
    std::string original = scratch / "original.hdb";
    std::string copy = scratch / "copy.hdb";
};

std::string EveryByte() {
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
    return bytes;
}

TEST_F(TextFormTest, ImportOfExportGivesTheSameTextForEveryKindOfNameAndValue) {
    {
        DatabaseBuilder b(original);
        DatabaseManager& db = b.db();
        db.SetAppValue(b.handle(), -7);
        const uint32_t root = b.Key(0, "Root");
        b.Key(root, "Empty");
        b.Key(root, "Binary", EveryByte());
        b.Key(root, "Text", "say \"hi\"\\\t\r\n and more");
        b.Key(root, EveryByte().substr(1), "named by every byte but zero");
        const uint32_t bytes = b.Key(root, "Bytes");
        for (int c = 1; c < 256; ++c) b.Key(bytes, std::string(1, static_cast<char>(c)), std::string(1, static_cast<char>(c)));
        const uint32_t first = b.Key(root, "Twin", "first");
        b.Key(first, "x");
        const uint32_t second = b.Key(root, "Twin", "second");
        b.Key(second, "y");
        const uint32_t tagged = b.Key(root, "Tagged");
        db.HdbSetKeyAttr1(b.handle(), tagged, 1);
        db.HdbSetKeyAttr2(b.handle(), tagged, 0xFFFF);
        const uint32_t longName = b.Key(root, "short");
        ASSERT_EQ(db.HdbRenameKey(b.handle(), longName, std::string(65500, 'n').c_str()), 0);
        b.Key(root, "Big", std::string(100000, 'v'));
    }
    const std::string text = ExportFile(original);
    ASSERT_EQ(Import(text, copy), "");
    EXPECT_EQ(ExportFile(copy), text);
    EXPECT_EQ(ScanFile(copy).problems.size(), 0u);

    for (const std::string line : {
             "hdbtool export 1\napp-value -7\n[Root]\n[Root\\Empty]\n",
             "[Root\\Binary] = hex:00 01 02 03",
             "[Root\\Text] = \"say \\\"hi\\\"\\\\\\t\\r\\n and more\"\n",
             "[Root\\%01%02",
             "%1f !\"#$%25&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[%5c%5d^_`abcdefghijklmnopqrstuvwxyz{|}~%7f%80",
             "[Root\\Twin] = \"first\"\n[Root\\Twin\\x]\n[Root\\Twin] = \"second\"\n[Root\\Twin\\y]\n",
             "[Root\\Tagged] attributes 1 65535\n",
         })
        EXPECT_NE(text.find(line), std::string::npos) << line;
}

TEST_F(TextFormTest, TenThousandKeysSurviveTheRoundTrip) {
    {
        DatabaseBuilder b(original);
        const uint32_t root = b.Key(0, "Root");
        for (int i = 0; i < 100; ++i) {
            const uint32_t group = b.Key(root, "group " + std::to_string(i), std::to_string(i));
            for (int j = 0; j < 99; ++j) b.Key(group, "key " + std::to_string(j), std::string(static_cast<size_t>(j), 'v'));
        }
    }
    const std::string text = ExportFile(original);
    ASSERT_EQ(Import(text, copy), "");
    const ScanResult scan = ScanFile(copy);
    EXPECT_EQ(scan.keysFound, 10001u);
    EXPECT_EQ(scan.problems.size(), 0u);
    EXPECT_EQ(ExportFile(copy), text);
}

TEST_F(TextFormTest, ExportOfAnImportedTextIsThatText) {
    const std::string canonical =
        "hdbtool export 1\n"
        "app-value 1\n"
        "[User Configuration Root]\n"
        "[User Configuration Root\\Config]\n"
        "[User Configuration Root\\Config\\Next Admin ID] = \"00000002\"\n"
        "[User Configuration Root\\Config\\100%25 %5c%5d] = hex:00 ff\n"
        "[User Configuration Root\\Client List] attributes 0 2\n"
        "[User Configuration Root\\Client List\\] = \"empty name\"\n";
    ASSERT_EQ(Import(canonical, copy), "");
    EXPECT_EQ(ExportFile(copy), canonical);
}

TEST_F(TextFormTest, EditedSpellingsAreReadAndExportWritesTheirOneSpelling) {
    const std::string edited =
        "# a comment\r\n"
        "hdbtool export 1\r\n"
        "\r\n"
        "[R%6fot]   \r\n"
        "[Root\\a] = hex:41 42\r\n"
        "[Root\\b] = \"\\x00\\x41\"\r\n"
        "[Root\\c] = \"\"\r\n"
        "[Root\\d] = hex:\n";
    ASSERT_EQ(Import(edited, copy), "");
    EXPECT_EQ(ExportFile(copy),
              "hdbtool export 1\napp-value 0\n[Root]\n[Root\\a] = \"AB\"\n[Root\\b] = hex:00 41\n[Root\\c]\n[Root\\d]\n");
}

TEST_F(TextFormTest, TextThatIsNotADatabaseIsRefusedWithItsLine) {
    const std::string head = "hdbtool export 1\n[Root]\n";
    struct Case {
        std::string text;
        std::string error;
    } cases[] = {
        {"", "not a database text: it is empty"},
        {"[Root]\n", "line 1: not a database text: the first line must be \"hdbtool export 1\""},
        {"hdbtool export 1\n[Root\\A]\n", "line 2: the first key must be the root, a path of one name"},
        {head + "[Other]\n", "line 3: a database has one root key, and it comes first"},
        {head + "[Root\\A\\B]\n", "line 3: the key's parent is not on an earlier line"},
        {head + "[Root\\A%zz]\n", "line 3: % in a key path must be followed by two hex digits"},
        {head + "[Root\\A%00]\n", "line 3: a key name cannot hold a zero byte (%00)"},
        {head + "[Root\\A\n", "line 3: the key path has no closing ]"},
        {head + "Root\\A\n", "line 3: a key line must begin with ["},
        {head + "[Root\\A] = \"open\n", "line 3: a quoted value must end with a quotation mark"},
        {head + "[Root\\A] = \"a\"b\"\n", "line 3: a quotation mark inside a value must be written \\\""},
        {head + "[Root\\A] = \"\\q\"\n", "line 3: unknown escape \\q in a value"},
        {head + "[Root\\A] = hex:4\n", "line 3: hex: must be followed by pairs of hex digits"},
        {head + "[Root\\A] = 12\n", "line 3: a value must be \"text\" or hex:HH HH ..."},
        {head + "[Root\\A] attributes 1\n", "line 3: attributes must be two numbers from 0 to 65535"},
        {head + "[Root\\A] attributes 1 65536\n", "line 3: attributes must be two numbers from 0 to 65535"},
        {head + "[Root\\A]=\"x\"\n", "line 3: after the key path comes \" = \" and the value, or nothing"},
        {head + "app-value 1\n", "line 3: app-value must come before the keys and be a 32-bit number"},
    };
    for (const Case& c : cases) {
        TextForm form;
        const support::Result parsed = form.Parse(c.text);
        EXPECT_FALSE(parsed) << c.text;
        EXPECT_EQ(parsed.message(), c.error) << c.text;
    }
}

// Whichever write, seek or open fails, the new file is either whole or not there.
TEST_F(TextFormTest, AFailedWriteLeavesNoFile) {
    const std::string text = "hdbtool export 1\n[Root]\n[Root\\A] = \"" + std::string(1000, 'a') + "\"\n[Root\\B]\n";
    for (const platform::CallKind kind : {platform::CallKind::Write, platform::CallKind::Seek, platform::CallKind::Open}) {
        bool succeeded = false;
        for (uint32_t nth = 1; nth < 200 && !succeeded; ++nth) {
            SCOPED_TRACE(nth);
            fileservice::FileService files;
            files.FileDelete(copy.c_str());
            platform::InjectFault(kind, nth);
            const std::string error = Import(text, copy);
            platform::ClearFaults();
            succeeded = error.empty();
            if (succeeded) {
                EXPECT_EQ(ExportFile(copy), "hdbtool export 1\napp-value 0\n" + text.substr(17));
            } else {
                EXPECT_EQ(files.FileExists(copy.c_str()), 0) << error;
            }
        }
        EXPECT_TRUE(succeeded);
    }
}

}  // namespace

namespace {

using namespace tools_test;

// Found by the fuzzer: a damaged name that holds a zero byte was exported as %00, which import
// refuses. It is written cut at the zero, as lookups see it, and the export says so.
TEST(TextFormDamageTest, ANameHoldingAZeroByteIsCutThereAndReported) {
    ScratchDir scratch;
    const std::string path = scratch / "zero.hdb";
    {
        DatabaseBuilder b(path);
        const uint32_t root = b.Key(0, "Root");
        b.Key(root, "Name", "v");
    }
    std::vector<uint8_t> bytes = ReadBytes(path);
    bytes[BlockOffset(1) + 8 + 28 + 2] = 0;  // Ro\0t
    WriteBytes(path, bytes);
    DatabaseManager db;
    const int32_t database = db.OpenDatabase(path.c_str(), ModeReadOnly);
    StringSink out;
    std::vector<std::string> errors;
    EXPECT_EQ(ExportTextForm(db, database, out, errors), -1);
    db.CloseDatabase(database);
    EXPECT_EQ(out.text(), "hdbtool export 1\napp-value 0\n[Ro]\n[Ro\\Name] = \"v\"\n");
    EXPECT_EQ(Joined(errors), "[Ro]: its name holds a zero byte; it is written cut there\n");
    TextForm form;
    const support::Result parsed = form.Parse(out.text());
    EXPECT_TRUE(parsed) << parsed.message();
}

}  // namespace
