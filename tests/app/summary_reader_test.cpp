#include "app/summary_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fileservice/file_service.h"
#include "platform/testing/fault_injection.h"
#include "test_support.h"

using namespace app;

namespace {

using testing_support::ScratchDir;
using testing_support::WriteText;

std::string DataFile(const char* name) {
    return (std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / name).string();
}

class SummaryReaderTest : public ::testing::Test {
protected:
    void TearDown() override { platform::ClearFaults(); }

    // Opens `path` for reading; the test fails when it cannot.
    int32_t Open(const std::string& path) {
        const int32_t file = files.FileOpen(path.c_str(), fileservice::OpenRead);
        EXPECT_GE(file, 0) << path;
        return file;
    }

    int32_t OpenText(const std::string& text) {
        const std::string path = scratch / "UserSummary.rtf";
        WriteText(path, text);
        return Open(path);
    }

    // The user name the file yields, or "<none>".
    std::string NameIn(int32_t file) {
        const char* name = nullptr;
        const int32_t read = ReadUserName(files, file, line, &name);
        std::string result = read == kReadLineError ? "<read error>" : name ? name : "<none>";
        EXPECT_EQ(name != nullptr, read == kReadLineDone);
        files.FileClose(file);
        return result;
    }

    fileservice::FileService files;
    ScratchDir scratch;
    char line[kLineBufferSize];
};

TEST(FindUserNameTest, TakesTheRestOfTheLineAfterTheLabelAndOneCharacter) {
    struct Case {
        const char* line;
        const char* name;  // null: no label
    } cases[] = {
        {"User Name: alice", "alice"},
        {"User Name:alice", "lice"},  // the character after the colon is skipped whatever it is
        {"User Name:\tx y", "x y"},
        {"Full User Name: Bob Smith", "Bob Smith"},
        {"User Name:", ""},
        {"User Name: ", ""},
        {"{\\pard User Name: dave\\par}", "dave\\par}"},  // control words belong to the name
        {"User Name: a User Name: b", "a User Name: b"},
        {"user name: alice", nullptr},
        {"UserName: alice", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        const char* name = FindUserName(c.line);
        if (c.name == nullptr) {
            EXPECT_EQ(name, nullptr) << c.line;
        } else {
            ASSERT_NE(name, nullptr) << c.line;
            EXPECT_STREQ(name, c.name) << c.line;
        }
    }
}

TEST_F(SummaryReaderTest, FindsTheFirstNameLineOfAFile) {
    struct Case {
        const char* what;
        std::string text;
        std::string name;
    } cases[] = {
        {"line feed", "{\\rtf1\nUser Name: alice\n}\n", "alice"},
        {"carriage return and line feed", "{\\rtf1\r\nUser Name: alice\r\n}\r\n", "alice"},
        {"carriage returns anywhere", "User Na\rme: al\r\rice\n", "alice"},
        {"two name lines", "User Name: first\nUser Name: second\n", "first"},
        {"last line without line feed", "intro\nUser Name: last", "last"},
        {"empty name", "User Name:\nUser Name: later\n", ""},
        {"empty file", "", "<none>"},
        {"no name line", "{\\rtf1\nAccount summary\n}", "<none>"},
        {"a zero byte ends the line's text", std::string("User\0Name: x\nUser Name: ab\0cd\n", 31), "ab"},
        {"empty lines before", "\n\r\n\nUser Name: e\n", "e"},
    };
    for (const Case& c : cases) EXPECT_EQ(NameIn(OpenText(c.text)), c.name) << c.what;
}

TEST_F(SummaryReaderTest, NamesFromSummariesWrittenByWordProcessors) {
    EXPECT_EQ(NameIn(Open(DataFile("pandoc_dave.rtf"))), "dave\\par}");
    EXPECT_EQ(NameIn(Open(DataFile("libreoffice_erin.rtf"))), "erin}");
}

TEST_F(SummaryReaderTest, LongLinesAreCutAndTheLinesAfterThemStillRead) {
    const std::string longLine(3 * kLineBufferSize, 'x');
    EXPECT_EQ(NameIn(OpenText(longLine + "\nUser Name: after\n")), "after");

    // The name of a long line keeps what fits in the line.
    const std::string name = NameIn(OpenText("User Name: " + longLine + "\n"));
    EXPECT_EQ(name, std::string(kLineCapacity - 11, 'x'));

    // A label beyond the first 4,095 characters of its line is not seen.
    EXPECT_EQ(NameIn(OpenText(std::string(kLineCapacity, ' ') + "User Name: far\n")), "<none>");
}

TEST_F(SummaryReaderTest, ReadLineReportsLinesUntilTheEnd) {
    const int32_t file = OpenText("a\n\r\nb\r");
    EXPECT_EQ(ReadLine(files, file, line), kReadLineDone);
    EXPECT_STREQ(line, "a");
    EXPECT_EQ(ReadLine(files, file, line), kReadLineDone);
    EXPECT_STREQ(line, "");
    EXPECT_EQ(ReadLine(files, file, line), kReadLineDone);
    EXPECT_STREQ(line, "b");
    EXPECT_EQ(ReadLine(files, file, line), kReadLineEnd);
    EXPECT_STREQ(line, "");
    files.FileClose(file);

    // A carriage return alone stores nothing: the file ends before a new line.
    const int32_t onlyReturn = OpenText("\r");
    EXPECT_EQ(ReadLine(files, onlyReturn, line), kReadLineEnd);
    files.FileClose(onlyReturn);
}

TEST_F(SummaryReaderTest, ReadingStopsRightAfterTheNameLine) {
    const std::string head = "ab\nUser Name: c\n";
    const int32_t file = OpenText(head + "never read\n");
    const char* name = nullptr;
    ASSERT_EQ(ReadUserName(files, file, line, &name), kReadLineDone);
    EXPECT_STREQ(name, "c");
    EXPECT_EQ(files.FileTell(file, nullptr), head.size());
    EXPECT_EQ(ReadByte(files, file), 'n');  // the next byte is still there for the next reader
    files.FileClose(file);
}

TEST_F(SummaryReaderTest, ReadErrorsAreToldFromTheEndOfTheFile) {
    // A failure anywhere before the name line is complete gives no name, not a shorter one: at
    // the first read and at a later one (past the first 16 KiB, so that a file service that
    // fetches files in large pieces meets it too).
    const std::string farName = std::string(20000, 'x') + "\nUser Name: alice\n";
    for (uint32_t nth : {1u, 2u}) {
        const int32_t file = OpenText(farName);
        platform::InjectFault(platform::CallKind::Read, nth);
        EXPECT_EQ(NameIn(file), "<read error>") << "read " << nth;
        platform::ClearFaults();
    }

    const int32_t file = OpenText(std::string(20000, 'a') + "\nd");
    platform::InjectFault(platform::CallKind::Read, 2);
    EXPECT_EQ(ReadLine(files, file, line), kReadLineError);
    const std::string partial = line;
    EXPECT_FALSE(partial.empty());
    EXPECT_EQ(partial.find_first_not_of('a'), std::string::npos) << "the line so far is kept, terminated";
    files.FileClose(file);

    const int32_t fresh = OpenText("x");
    platform::InjectFault(platform::CallKind::Read, 1);
    EXPECT_EQ(ReadByte(files, fresh), kReadByteError);
    files.FileClose(fresh);

    // A short read of nothing is the end.
    const int32_t again = OpenText("x");
    platform::InjectFault(platform::CallKind::Read, 1, platform::Fault{.shortCount = 0});
    EXPECT_EQ(ReadByte(files, again), kReadByteEnd);
    EXPECT_EQ(ReadByte(files, again), 'x');
    EXPECT_EQ(ReadByte(files, again), kReadByteEnd);
    files.FileClose(again);
}

}  // namespace
