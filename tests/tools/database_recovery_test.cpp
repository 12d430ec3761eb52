#include "tools/database_recovery.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "fileservice/file_service.h"
#include "hdb/hdb_test_support.h"
#include "platform/testing/fault_injection.h"
#include "test_support.h"

using namespace tools;
using hdb::RecoverDatabaseWithOutcome;
using hdb::RecoveryOutcome;

namespace {

using Bytes = std::optional<std::vector<uint8_t>>;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

std::vector<uint8_t> Database(uint32_t openForWrite, uint8_t fill) {
    std::vector<uint8_t> image = hdb_test::DatabaseImage(2);
    image[300] = fill;  // tells the files apart
    hdb_test::PutWord(image, 68, openForWrite);
    return image;
}

class RecoveryTest : public ::testing::Test {
protected:
    void TearDown() override { platform::ClearFaults(); }

    void Put(const std::string& file, const Bytes& bytes) {
        files.FileDelete(file.c_str());
        if (bytes) WriteBytes(file, *bytes);
    }
    Bytes Get(const std::string& file) {
        if (files.FileExists(file.c_str()) != 1) return std::nullopt;
        return ReadBytes(file);
    }

    fileservice::FileService files;
    ScratchDir scratch;
    std::string path = scratch / "UserConfig.hdb";
    std::string mirror = path + ".mirror";
};

TEST_F(RecoveryTest, EachStateOfFileAndMirror) {
    const std::vector<uint8_t> clean = Database(0, 'c'), open = Database(1, 'o'), saved = Database(0, 'm');
    const std::vector<uint8_t> tiny(10, 'x'), tinyMirror(10, 'y');
    struct Case {
        const char* what;
        Bytes file, mirror;
        RecoveryOutcome outcome;
        Bytes fileAfter, mirrorAfter;
    } cases[] = {
        {"clean, no mirror", clean, {}, RecoveryOutcome::Clean, clean, {}},
        {"clean, stale mirror", clean, saved, RecoveryOutcome::Clean, clean, saved},
        {"left open, mirror", open, saved, RecoveryOutcome::Restored, saved, {}},
        {"left open, no mirror", open, {}, RecoveryOutcome::NothingToRestore, open, {}},
        {"too short, no mirror", tiny, {}, RecoveryOutcome::DeletedTooShort, {}, {}},
        {"too short, short mirror", tiny, tinyMirror, RecoveryOutcome::DeletedBoth, {}, {}},
        {"too short, mirror", tiny, saved, RecoveryOutcome::TooShortRestored, saved, {}},
        {"absent, mirror", {}, saved, RecoveryOutcome::Absent, {}, saved},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Put(path, c.file);
        Put(mirror, c.mirror);
        EXPECT_EQ(RecoverDatabaseWithOutcome(path.c_str()), c.outcome);
        EXPECT_EQ(Get(path), c.fileAfter);
        EXPECT_EQ(Get(mirror), c.mirrorAfter);
    }
}

TEST_F(RecoveryTest, FileHeldByAWriterIsNotTouched) {
    const std::vector<uint8_t> open = Database(1, 'o'), saved = Database(0, 'm');
    Put(path, open);
    Put(mirror, saved);
    const int32_t writer = files.FileOpen(path.c_str(), fileservice::OpenReadWrite);
    ASSERT_GE(writer, 0);
    EXPECT_EQ(RecoverDatabaseWithOutcome(path.c_str()), RecoveryOutcome::InUse);
    files.FileClose(writer);
    EXPECT_EQ(Get(path), open);
    EXPECT_EQ(Get(mirror), saved);
}

TEST_F(RecoveryTest, AFailedRenameIsReportedAndTheMirrorKept) {
    const std::vector<uint8_t> saved = Database(0, 'm');
    Put(path, Database(1, 'o'));
    Put(mirror, saved);
    platform::InjectFault(platform::CallKind::Rename, 1);
    const RecoveryOutcome outcome = RecoverDatabaseWithOutcome(path.c_str());
    EXPECT_EQ(outcome, RecoveryOutcome::Failed);
    EXPECT_EQ(RecoveryExitCode(outcome), 1);
    EXPECT_EQ(Get(mirror), saved);
    EXPECT_NE(DescribeRecovery(outcome, path).find(mirror + ", if it is there, still holds"), std::string::npos);
}

TEST(RecoveryTextTest, SaysWhatWasDoneAndExitsByIt) {
    EXPECT_EQ(DescribeRecovery(RecoveryOutcome::Restored, "x.hdb"), "x.hdb: was left open by a writer; restored from x.hdb.mirror");
    EXPECT_EQ(RecoveryExitCode(RecoveryOutcome::Restored), 0);
    EXPECT_EQ(RecoveryExitCode(RecoveryOutcome::NothingToRestore), 1);
    EXPECT_EQ(RecoveryExitCode(RecoveryOutcome::InUse), 1);
    EXPECT_EQ(RecoveryExitCode(RecoveryOutcome::DeletedTooShort), 0);
}

}  // namespace
