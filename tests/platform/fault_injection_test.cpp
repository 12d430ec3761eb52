// Fault injection and call counting: the Nth call of a kind fails as armed, short transfers
// move what they say, and the counts see every call.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/testing/fault_injection.h"
#include "platform/platform.h"
#include "platform/testing/files.h"
#include "test_support.h"

namespace {

using namespace platform;
using testing_support::ScratchDir;

class FaultInjection : public ::testing::Test {
protected:
    void SetUp() override {
        ClearFaults();
        ResetCallCounts();
        name_ = dir_ / "file.bin";
        testing_support::WriteText(name_, "0123456789");
    }
    void TearDown() override { ClearFaults(); }

    FileHandle OpenWrite() { return OpenFile(name_.c_str(), FileAccess::ReadWrite, FileCreation::OpenExisting, false); }

    ScratchDir dir_;
    std::string name_;
};

TEST_F(FaultInjection, NthCallFailsWithTheArmedErrorThenCallsSucceedAgain) {
    FileHandle file = OpenWrite();
    ASSERT_NE(file, 0);
    InjectFault(CallKind::Read, 2, Fault{kErrorAccessDenied});
    char buffer[4];
    uint32_t done = 99;
    EXPECT_TRUE(ReadFile(file, buffer, 2, &done));
    EXPECT_EQ(done, 2u);
    EXPECT_FALSE(ReadFile(file, buffer, 2, &done));
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(LastError(), kErrorAccessDenied);
    EXPECT_TRUE(ReadFile(file, buffer, 2, &done));
    EXPECT_EQ(std::string(buffer, done), "23");  // the failed read moved nothing
    CloseFile(file);
}

TEST_F(FaultInjection, ShortTransfersMoveOnlyWhatTheyReport) {
    FileHandle file = OpenWrite();
    ASSERT_NE(file, 0);
    Fault shortRead;
    shortRead.shortCount = 3;
    InjectFault(CallKind::Read, 1, shortRead);
    char buffer[10];
    uint32_t done = 0;
    EXPECT_TRUE(ReadFile(file, buffer, 8, &done));
    EXPECT_EQ(std::string(buffer, done), "012");

    Fault shortWrite;
    shortWrite.shortCount = 2;
    InjectFault(CallKind::Write, 1, shortWrite);
    ASSERT_TRUE(SeekFile(file, 0, SeekOrigin::Begin, nullptr));
    EXPECT_TRUE(WriteFile(file, "abcdef", 6, &done));
    EXPECT_EQ(done, 2u);
    CloseFile(file);
    EXPECT_EQ(testing_support::ReadBytes(name_), std::vector<uint8_t>({'a', 'b', '2', '3', '4', '5', '6', '7', '8', '9'}));
}

TEST_F(FaultInjection, RepeatFailsThatManyCallsInARow) {
    FileHandle file = OpenWrite();
    ASSERT_NE(file, 0);
    InjectFault(CallKind::Write, 1, Fault{kErrorDiskFull}, 3);
    uint32_t done = 0;
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(WriteFile(file, "z", 1, &done)) << i;
        EXPECT_EQ(LastError(), kErrorDiskFull);
    }
    EXPECT_TRUE(WriteFile(file, "z", 1, &done));
    CloseFile(file);
    EXPECT_EQ(testing_support::ReadBytes(name_)[0], 'z');
}

TEST_F(FaultInjection, ClearAndRearmReplaceEarlierFaults) {
    InjectFault(CallKind::Seek, 1);
    ClearFaults();
    FileHandle file = OpenWrite();
    ASSERT_NE(file, 0);
    EXPECT_TRUE(SeekFile(file, 4, SeekOrigin::Begin, nullptr));

    InjectFault(CallKind::Seek, 1);
    InjectFault(CallKind::Seek, 2);  // replaces the first: the next seek passes
    EXPECT_TRUE(SeekFile(file, 5, SeekOrigin::Begin, nullptr));
    EXPECT_FALSE(SeekFile(file, 6, SeekOrigin::Begin, nullptr));
    EXPECT_EQ(LastError(), Fault::kFaultDefaultError);
    uint64_t at = 0;
    EXPECT_TRUE(SeekFile(file, 0, SeekOrigin::Current, &at));
    EXPECT_EQ(at, 5u);  // the failed seek did not move
    CloseFile(file);
}

TEST_F(FaultInjection, FailedCallsLeaveNamesAlone) {
    InjectFault(CallKind::Open, 1);
    const std::string fresh = dir_ / "fresh.bin";
    EXPECT_EQ(OpenFile(fresh.c_str(), FileAccess::ReadWrite, FileCreation::CreateAlways, false), 0);
    EXPECT_FALSE(std::filesystem::exists(fresh));
    InjectFault(CallKind::Open, 1);
    EXPECT_EQ(OpenFileCompat(name_.c_str()), 0);

    InjectFault(CallKind::Delete, 1, Fault{kErrorSharingViolation});
    EXPECT_FALSE(DeleteFile(name_.c_str()));
    EXPECT_EQ(LastError(), kErrorSharingViolation);
    EXPECT_TRUE(std::filesystem::exists(name_));

    InjectFault(CallKind::Rename, 1);
    EXPECT_FALSE(MoveFile(name_.c_str(), fresh.c_str()));
    EXPECT_TRUE(std::filesystem::exists(name_));
    EXPECT_FALSE(std::filesystem::exists(fresh));

    ASSERT_TRUE(SetFileReadOnly(name_.c_str()));
    InjectFault(CallKind::Attributes, 1);
    EXPECT_FALSE(SetFileAttributesNormal(name_.c_str()));
    EXPECT_FALSE(DeleteFile(name_.c_str()));  // still read-only
    ASSERT_TRUE(SetFileAttributesNormal(name_.c_str()));

    InjectFault(CallKind::Find, 1);
    FindData data;
    EXPECT_EQ(FindFirst(name_.c_str(), &data), 0);
    InjectFault(CallKind::Find, 2);
    FindHandle search = FindFirst((dir_ / "*").c_str(), &data);
    ASSERT_NE(search, 0);
    EXPECT_FALSE(FindNext(search, &data));
    FindClose(search);

    InjectFault(CallKind::Allocate, 1, Fault{kErrorNotEnoughMemory});
    EXPECT_EQ(Allocate(16), nullptr);
    EXPECT_EQ(LastError(), kErrorNotEnoughMemory);
    void* block = Allocate(16);
    EXPECT_NE(block, nullptr);
    Free(block);
}

TEST_F(FaultInjection, FailedCloseStillLetsTheFileGo) {
    FileHandle file = OpenWrite();
    ASSERT_NE(file, 0);
    InjectFault(CallKind::Close, 1);
    EXPECT_FALSE(CloseFile(file));
    FileHandle again = OpenWrite();  // would be a sharing violation if the handle stayed open
    EXPECT_NE(again, 0);
    CloseFile(again);
    EXPECT_TRUE(DeleteFile(name_.c_str()));
}

TEST_F(FaultInjection, FlushFaultReportsTheError) {
    FileHandle file = OpenWrite();
    ASSERT_NE(file, 0);
    InjectFault(CallKind::Flush, 1, Fault{kErrorDiskFull});
    EXPECT_FALSE(FlushFile(file));
    EXPECT_EQ(LastError(), kErrorDiskFull);
    EXPECT_TRUE(FlushFile(file));
    CloseFile(file);
}

TEST_F(FaultInjection, CountsSeeEveryCallFailedOrNot) {
    InjectFault(CallKind::Read, 1);
    FileHandle file = OpenWrite();
    ASSERT_NE(file, 0);
    char buffer[4];
    uint32_t done = 0;
    ReadFile(file, buffer, 4, &done);  // fails
    ReadFile(file, buffer, 4, &done);
    WriteFile(file, "w", 1, &done);
    SeekFile(file, 0, SeekOrigin::Begin, nullptr);
    FlushFile(file);
    CloseFile(file);
    FindData data;
    FindHandle search = FindFirst((dir_ / "*").c_str(), &data);
    while (search != 0 && FindNext(search, &data)) {
    }
    FindClose(search);

    EXPECT_EQ(CallCount(CallKind::Open), 1u);
    EXPECT_EQ(CallCount(CallKind::Read), 2u);
    EXPECT_EQ(CallCount(CallKind::Write), 1u);
    EXPECT_EQ(CallCount(CallKind::Seek), 1u);
    EXPECT_EQ(CallCount(CallKind::Flush), 1u);
    EXPECT_EQ(CallCount(CallKind::Close), 1u);
    EXPECT_EQ(CallCount(CallKind::Find), 4u);  // ".", ".." and "file.bin": the first, two more and the end
    EXPECT_EQ(CallCount(CallKind::Delete), 0u);
    ResetCallCounts();
    EXPECT_EQ(CallCount(CallKind::Read), 0u);
}

}  // namespace
