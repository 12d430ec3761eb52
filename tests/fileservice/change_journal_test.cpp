// The change journal: which operations write which line, the exact line bytes, the journal's
// folder, and lines from several threads and processes that never interleave.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "fileservice/change_journal.h"
#include "fileservice/file_service.h"
#include "journal_reader.h"
#include "platform/testing/fault_injection.h"
#include "platform/platform.h"
#include "platform/testing/process.h"
#include "test_support.h"

using namespace fileservice;

namespace {

using testing_support::JournalScope;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteText;

std::string Join(const std::string& folder, const std::string& name) {
    return folder + platform::kPathSeparator + name;
}

class ChangeJournalTest : public ::testing::Test {
protected:
    void TearDown() override {
        fs.SetJournalFile("");
        platform::ClearFaults();
    }

    // Writes `times` times (0: opens and only reads) and closes.
    void Touch(const std::string& name, int times) {
        const int32_t f = fs.FileOpen(name.c_str(), times > 0 ? OpenReadWrite : OpenRead);
        ASSERT_GE(f, 0);
        for (int i = 0; i < times; ++i) ASSERT_EQ(fs.FileWrite(f, "x", 1), 1);
        fs.FileClose(f);
    }

    FileService fs;
    ScratchDir dir;
};

TEST_F(ChangeJournalTest, NothingIsWrittenBeforeAJournalIsNamed) {
    const std::string journal = dir / "journal.txt";
    fs.SetJournalFile(journal.c_str());
    fs.SetJournalFile("");  // named and turned off again
    std::filesystem::remove(journal);
    Touch(dir / "written", 2);
    fs.FileRename((dir / "renamed").c_str(), (dir / "written").c_str());
    fs.FileCopy((dir / "renamed").c_str(), (dir / "copied").c_str());
    fs.FileDelete((dir / "renamed").c_str());
    fs.CreateFolderPath(Join(dir / "a", "b").c_str());
    fs.DeleteFolder((dir / "a").c_str(), 1);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"copied"});
}

TEST_F(ChangeJournalTest, AJournalInAMissingFolderMakesTheFolderAndNamesOnlyTheDeepest) {
    const std::string parent = dir / "logs";
    const std::string folder = Join(parent, "changes");
    JournalScope journal(fs, Join(folder, "journal.txt"));
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(journal.Lines(), std::vector<std::string>{"FolderCreated\t" + folder});
}

TEST_F(ChangeJournalTest, LineBytesOfEachOperation) {
    JournalScope journal(fs, dir / "journal.txt");
    const std::string a = dir / "a.txt", b = dir / "b.txt";
    WriteText(a, "a");
    ASSERT_EQ(fs.FileRename(b.c_str(), a.c_str()), 1);
    const auto bytes = ReadBytes(journal.path());
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "FileRenamed\t" + b + "\t" + a + "\r\n");

    EXPECT_EQ(fs.FileRename(b.c_str(), (dir / "absent").c_str()), 0);  // a failed rename: no line
    fs.FileDelete((dir / "never.txt").c_str());                         // journaled before it is tried
    Touch(b, 2);
    Touch(b, 0);
    const int32_t empty = fs.FileOpen((dir / "zero").c_str(), OpenCreate);
    EXPECT_EQ(fs.FileWrite(empty, "", 0), 0);  // a write of nothing still counts
    fs.FileClose(empty);
    const std::vector<std::string> expected{"FileRenamed\t" + b + "\t" + a, "FileDeleted\t" + dir / "never.txt",
                                            "FileChanged\t" + b, "FileChanged\t" + dir / "zero"};
    EXPECT_EQ(journal.Lines(), expected);
}

TEST_F(ChangeJournalTest, NamesAreWrittenAsGivenAndLongOnesWhole) {
    JournalScope journal(fs, dir / "journal.txt");
    const std::string longName(3000, 'n');  // longer than the line buffer
    JournalFileRenamed(longName.c_str(), "Relative\\Old Name.TXT");
    JournalFolderDeleted("..\\up");
    const std::vector<std::string> expected{"FileRenamed\t" + longName + "\tRelative\\Old Name.TXT",
                                            "FolderDeleted\t..\\up"};
    EXPECT_EQ(journal.Lines(), expected);
}

TEST_F(ChangeJournalTest, AJournalPathThatDoesNotFitIsRefused) {
    const std::string tooLong = dir / std::string(kJournalPathSize, 'j');
    EXPECT_EQ(fs.SetJournalFile(tooLong.c_str()), -1);
    fs.FileDelete((dir / "x").c_str());
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "journaling is off, nothing was cut to fit";
}

TEST_F(ChangeJournalTest, ALineMeetingAnotherOpenIsLostNotInterleaved) {
    JournalScope journal(fs, dir / "journal.txt");
    fs.FileDelete((dir / "first").c_str());
    {
        const platform::FileHandle other = platform::OpenFile(journal.path().c_str(), platform::FileAccess::ReadWrite,
                                                              platform::FileCreation::OpenExisting, false);
        ASSERT_NE(other, 0);
        fs.FileDelete((dir / "lost").c_str());
        platform::CloseFile(other);
    }
    fs.FileDelete((dir / "third").c_str());
    EXPECT_EQ(journal.Lines(),
              (std::vector<std::string>{"FileDeleted\t" + dir / "first", "FileDeleted\t" + dir / "third"}));
}

TEST_F(ChangeJournalTest, ThreadsAppendWholeLinesOneAfterTheOther) {
    JournalScope journal(fs, dir / "journal.txt");
    constexpr int kThreads = 4, kLines = 50;
    std::vector<std::thread> threads;
    std::atomic<int> ready{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            FileService own;
            const std::string name = dir / ("thread" + std::to_string(t));
            ++ready;
            while (ready < kThreads) std::this_thread::yield();
            for (int i = 0; i < kLines; ++i) {
                const int32_t f = own.FileOpen(name.c_str(), OpenReadWrite);
                own.FileWrite(f, "x", 1);
                own.FileClose(f);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    std::map<std::string, int> perLine;
    for (const std::string& line : journal.Lines()) ++perLine[line];
    ASSERT_EQ(perLine.size(), static_cast<size_t>(kThreads));
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(perLine["FileChanged\t" + dir / ("thread" + std::to_string(t))], kLines);
}

TEST_F(ChangeJournalTest, TwoProcessesLoseLinesButNeverMixThem) {
    JournalScope journal(fs, dir / "journal.txt");
    constexpr int kChildLines = 3000, kParentLines = 500;
    const std::string program = testing_support::ProgramBesideThisOne("journal_writer");
    const std::string child = dir / "child", parent = dir / "parent", count = std::to_string(kChildLines);
    const char* arguments[] = {journal.path().c_str(), child.c_str(), count.c_str(), nullptr};
    const platform::ProcessHandle process = platform::StartProcess(program.c_str(), arguments);
    ASSERT_NE(process, 0) << program;
    // The parent starts once the child's lines are coming, so that the two really meet.
    for (int wait = 0; wait < 2000 && ReadBytes(journal.path()).empty(); ++wait) platform::Sleep(10);
    for (int i = 0; i < kParentLines; ++i) fs.FileDelete((parent + "-" + std::to_string(i)).c_str());
    ASSERT_EQ(platform::WaitProcess(process), 0);

    std::map<std::string, int> seen;
    int fromChild = 0, fromParent = 0;
    for (const std::string& line : journal.Lines()) {
        ASSERT_EQ(line.rfind("FileDeleted\t", 0), 0u) << line;
        const std::string name = line.substr(12);
        ASSERT_EQ(++seen[name], 1) << "twice: " << name;
        const std::string prefix = name.substr(0, name.rfind('-'));
        ASSERT_TRUE(prefix == child || prefix == parent) << line;
        ++(prefix == child ? fromChild : fromParent);
    }
    EXPECT_GT(fromChild, 0);
    EXPECT_GT(fromParent, 0);
    std::printf("two processes: %d of %d lines journaled from this one, %d of %d from the other\n", fromParent,
                kParentLines, fromChild, kChildLines);
}

}  // namespace
