// The mirror beside a database: when it is taken and removed, and how RecoverDatabase puts it
// back in place of a database that a writer left open.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "hdb/database_table.h"
#include "hdb/mirror.h"
#include "platform/testing/fault_injection.h"
#include "platform/platform.h"
#include "platform/testing/process.h"
#include "test_support.h"

using namespace hdb;

namespace {

namespace stdfs = std::filesystem;
using platform::CallKind;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WordAt;
using testing_support::WriteBytes;

constexpr size_t kOpenForWrite = 68;

class MirrorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(OpenDatabaseCount(), 0); }
    void TearDown() override {
        platform::ClearFaults();
        EXPECT_EQ(OpenDatabaseCount(), 0);
        EXPECT_EQ(fileservice::OpenFileCount(), 0);
    }

    // A closed database holding a few keys and values.
    std::vector<uint8_t> MakeDatabase() {
        const int32_t h = manager.OpenDatabase(path.c_str(), ModeReadWrite);
        EXPECT_GE(h, 0);
        EXPECT_EQ(manager.HdbCreateKey(h, 0, "Root"), 1);
        for (int i = 0; i < 20; ++i) {
            const int64_t key = manager.HdbCreateKey(h, 1, ("key " + std::to_string(i)).c_str());
            EXPECT_GT(key, 1);
            const std::string value(100 + 37 * i, static_cast<char>('a' + i));
            manager.HdbWriteValue(h, static_cast<uint32_t>(key), value.data(), static_cast<uint32_t>(value.size()));
            manager.HdbCloseKey(h, static_cast<uint32_t>(key));
        }
        manager.HdbCloseKey(h, 1);
        manager.CloseDatabase(h);
        return ReadBytes(path);
    }

    // The header word at 68 of an image, set to `openForWrite`.
    static std::vector<uint8_t> LeftOpen(std::vector<uint8_t> image) {
        image[kOpenForWrite] = 1;
        return image;
    }

    DatabaseManager manager;
    ScratchDir dir;
    const std::string path = dir / "UserConfig.hdb";
    const std::string mirror = path + ".mirror";
};

TEST_F(MirrorTest, AWritersOpenTakesAnExactMirrorAndACleanCloseRemovesIt) {
    const auto before = MakeDatabase();
    EXPECT_FALSE(stdfs::exists(mirror)) << "a database its writer created has none";
    const int32_t h = manager.OpenDatabase(path.c_str(), ModeReadWrite);
    ASSERT_GE(h, 0);
    EXPECT_EQ(ReadBytes(mirror), before);
    EXPECT_EQ(WordAt(ReadBytes(path), kOpenForWrite), 1u);
    EXPECT_EQ(manager.HdbCreateKey(h, 1, "more") > 1, true);
    manager.HdbCloseKey(h, static_cast<uint32_t>(manager.HdbFindKey(h, 1, "more")));
    EXPECT_EQ(ReadBytes(mirror), before) << "changes never reach the mirror";
    manager.CloseDatabase(h);
    EXPECT_FALSE(stdfs::exists(mirror));
    EXPECT_EQ(WordAt(ReadBytes(path), kOpenForWrite), 0u);
}

TEST_F(MirrorTest, OnlyAnExistingFileOpenedForWritingGetsAMirror) {
    const auto before = MakeDatabase();
    int32_t h = manager.OpenDatabase(path.c_str(), ModeReadOnly);
    EXPECT_FALSE(stdfs::exists(mirror));
    // The read-only database turned writable takes its mirror then.
    ASSERT_EQ(manager.OpenDatabase(path.c_str(), ModeReadWrite), h);
    EXPECT_EQ(ReadBytes(mirror), before);
    manager.CloseDatabase(h);
    manager.CloseDatabase(h);
    EXPECT_FALSE(stdfs::exists(mirror));

    h = manager.OpenDatabase(path.c_str(), ModeCreate);
    EXPECT_FALSE(stdfs::exists(mirror)) << "a new file replaces the old";
    manager.CloseDatabase(h);
}

TEST_F(MirrorTest, NoMirrorWhenTheCopyCannotBeMadeWhole) {
    MakeDatabase();
    WriteBytes(mirror, std::vector<uint8_t>(5, 9));  // an older mirror must not survive either
    platform::InjectDiskSpace(ReadBytes(path).size() - 1, 1 << 30);
    int32_t h = manager.OpenDatabase(path.c_str(), ModeReadWrite);
    ASSERT_GE(h, 0) << "the open goes on without a mirror";
    EXPECT_FALSE(stdfs::exists(mirror));
    manager.CloseDatabase(h);
    platform::ClearFaults();

    // A copy that is not on the disk is no mirror.
    platform::InjectFault(CallKind::Flush, 1);
    h = manager.OpenDatabase(path.c_str(), ModeReadWrite);
    ASSERT_GE(h, 0);
    EXPECT_FALSE(stdfs::exists(mirror));
    manager.CloseDatabase(h);
    EXPECT_EQ(CopyToMirror((dir / std::string(1200, 'p')).c_str()), -1) << "a path that does not fit";
}

TEST_F(MirrorTest, RecoveryTable) {
    const auto clean = MakeDatabase();
    const std::vector<uint8_t> ten(10, 1), tenMirror(10, 2);
    const std::vector<uint8_t> small(512, 3);
    struct Case {
        const char* what;
        bool database;
        std::vector<uint8_t> file;
        bool hasMirror;
        std::vector<uint8_t> mirrorBytes;
        int32_t result;
        bool databaseAfter;
        std::vector<uint8_t> fileAfter;
        bool mirrorAfter;
    };
    const std::vector<Case> cases{
        {"closed cleanly", true, clean, false, {}, 0, true, clean, false},
        {"closed cleanly, stale mirror", true, clean, true, small, 0, true, clean, true},
        {"left open, with mirror", true, LeftOpen(clean), true, clean, 0, true, clean, false},
        {"left open, no mirror", true, LeftOpen(clean), false, {}, -1, true, LeftOpen(clean), false},
        {"10 bytes, no mirror", true, ten, false, {}, 0, false, {}, false},
        {"10 bytes, 10-byte mirror", true, ten, true, tenMirror, 0, false, {}, false},
        {"10 bytes, 512-byte mirror", true, ten, true, small, 0, true, small, false},
        {"mirror without database", false, {}, true, clean, 0, false, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        stdfs::remove(path);
        stdfs::remove(mirror);
        if (c.database) WriteBytes(path, c.file);
        if (c.hasMirror) WriteBytes(mirror, c.mirrorBytes);
        EXPECT_EQ(manager.RecoverDatabase(path.c_str()), c.result);
        EXPECT_EQ(stdfs::exists(path), c.databaseAfter);
        if (c.databaseAfter) {
            EXPECT_EQ(ReadBytes(path), c.fileAfter);
        }
        EXPECT_EQ(stdfs::exists(mirror), c.mirrorAfter);
        if (c.mirrorAfter) {
            EXPECT_EQ(ReadBytes(mirror), c.mirrorBytes) << "the mirror is left as it was";
        }
    }
}

TEST_F(MirrorTest, ARecoveredDatabaseOpensAsBeforeItsWriter) {
    const auto before = MakeDatabase();
    const int32_t h = manager.OpenDatabase(path.c_str(), ModeReadWrite);
    manager.HdbDeleteKey(h, static_cast<uint32_t>(manager.HdbFindKey(h, 1, "key 3")));
    // The writer ends without closing: its file stays as it is, mark and all.
    stdfs::copy_file(path, dir / "left.hdb");
    stdfs::copy_file(mirror, dir / "left.hdb.mirror");
    manager.CloseDatabase(h);
    const std::string left = dir / "left.hdb";
    EXPECT_EQ(WordAt(ReadBytes(left), kOpenForWrite), 1u);
    ASSERT_EQ(manager.RecoverDatabase(left.c_str()), 0);
    EXPECT_EQ(ReadBytes(left), before);
    const int32_t r = manager.OpenDatabase(left.c_str(), ModeReadOnly);
    ASSERT_GE(r, 0);
    EXPECT_EQ(manager.GetKeyCount(r), 21);
    EXPECT_GT(manager.HdbFindKey(r, 1, "key 3"), 1);
    manager.CloseDatabase(r);
}

TEST_F(MirrorTest, RecoveryRefusesADatabaseThatIsOpenHere) {
    const auto clean = MakeDatabase();
    for (int32_t mode : {ModeReadOnly, ModeReadWrite}) {
        const int32_t h = manager.OpenDatabase(path.c_str(), mode);
        ASSERT_GE(h, 0);
        const auto during = ReadBytes(path);
        const bool hadMirror = stdfs::exists(mirror);
        EXPECT_EQ(manager.RecoverDatabase(path.c_str()), -1) << mode;
        EXPECT_EQ(ReadBytes(path), during);
        EXPECT_EQ(stdfs::exists(mirror), hadMirror);
        manager.CloseDatabase(h);
    }
    EXPECT_EQ(manager.RecoverDatabase(path.c_str()), 0);
    EXPECT_EQ(ReadBytes(path), clean);
}

// A writer in another process that holds the database until it is killed.
class HeldElsewhere {
public:
    HeldElsewhere(const std::string& database, const std::string& progress) : progress_(progress) {
        const std::string program = testing_support::ProgramBesideThisOne("database_writer");
        const char* arguments[] = {"hold", database.c_str(), progress.c_str(), nullptr};
        process_ = platform::StartProcess(program.c_str(), arguments);
        for (int wait = 0; process_ && wait < 3000 && !Opened(); ++wait) platform::Sleep(5);
    }
    ~HeldElsewhere() {
        if (process_) {
            platform::KillProcess(process_);
            platform::WaitProcess(process_);
        }
    }
    HeldElsewhere(const HeldElsewhere&) = delete;
    HeldElsewhere& operator=(const HeldElsewhere&) = delete;
    bool Opened() const {
        const auto bytes = ReadBytes(progress_);
        return bytes.size() == 4 && WordAt(bytes, 0) == 2;
    }

private:
    std::string progress_;
    platform::ProcessHandle process_ = 0;
};

TEST_F(MirrorTest, AWriterInAnotherProcessKeepsItsDatabaseAndItsMirror) {
    const auto clean = MakeDatabase();
    {
        HeldElsewhere writer(path, dir / "progress");
        ASSERT_TRUE(writer.Opened());
        ASSERT_EQ(ReadBytes(mirror), clean);
        const auto during = ReadBytes(path);
        EXPECT_EQ(manager.RecoverDatabase(path.c_str()), -1);
        EXPECT_EQ(ReadBytes(path), during);
        // A second writer here is refused, and the other's mirror stays as that writer took it.
        EXPECT_EQ(manager.OpenDatabase(path.c_str(), ModeReadWrite), -1);
        EXPECT_EQ(ReadBytes(mirror), clean);
        EXPECT_EQ(ReadBytes(path), during);
    }
    // Killed: its mark stays in the file until the mirror is put back.
    EXPECT_EQ(WordAt(ReadBytes(path), kOpenForWrite), 1u);
    EXPECT_EQ(manager.RecoverDatabase(path.c_str()), 0);
    EXPECT_EQ(ReadBytes(path), clean);
    EXPECT_FALSE(stdfs::exists(mirror));
}

}  // namespace

namespace {

// A flush that fails at a writer's close may have lost what it was to write: the close fails,
// the file says it is open for writing and the mirror stays, so that recovery puts the content
// before the writer back.
TEST_F(MirrorTest, AFailedFlushAtTheCloseFailsItAndKeepsTheMirror) {
    const auto before = MakeDatabase();
    // The flushes a writer's close makes, counted on a close that succeeds.
    uint64_t flushes = 0;
    {
        const int32_t h = manager.OpenDatabase(path.c_str(), ModeReadWrite);
        ASSERT_GE(h, 0);
        manager.HdbCloseKey(h, static_cast<uint32_t>(manager.HdbCreateKey(h, 1, "counted")));
        platform::ResetCallCounts();
        ASSERT_EQ(manager.CloseDatabase(h), 0);
        flushes = platform::CallCount(CallKind::Flush);
        WriteBytes(path, before);
    }
    ASSERT_GE(flushes, 2u) << "the blocks, then the header";
    for (uint32_t nth = 1; nth <= flushes; ++nth) {
        const int32_t h = manager.OpenDatabase(path.c_str(), ModeReadWrite);
        ASSERT_GE(h, 0);
        manager.HdbCloseKey(h, static_cast<uint32_t>(manager.HdbCreateKey(h, 1, "lost")));
        platform::InjectFault(CallKind::Flush, nth);
        EXPECT_EQ(manager.CloseDatabase(h), -1) << "flush " << nth << " of the close";
        platform::ClearFaults();
        EXPECT_EQ(WordAt(ReadBytes(path), kOpenForWrite), 1u) << "flush " << nth;
        EXPECT_EQ(ReadBytes(mirror), before) << "flush " << nth;
        EXPECT_EQ(manager.RecoverDatabase(path.c_str()), 0) << "flush " << nth;
        EXPECT_EQ(ReadBytes(path), before) << "flush " << nth;
    }
}

// A writer that died left the file open with its mirror beside it. The next writer's open puts
// the mirror back before it takes its own, also when its own copy breaks off part-way (where
// the old way copied the half-changed file over the good mirror and lost it).
TEST_F(MirrorTest, AWritersOpenOfADatabaseLeftOpenPutsTheMirrorBackFirst) {
    const auto before = MakeDatabase();
    auto halfChanged = LeftOpen(before);
    halfChanged.resize(halfChanged.size() + 512, 0xEE);
    for (const bool copyBreaks : {false, true}) {
        WriteBytes(path, halfChanged);
        WriteBytes(mirror, before);
        if (copyBreaks) platform::InjectFault(CallKind::Copy, 1, {.shortCount = 600});
        const int32_t h = manager.OpenDatabase(path.c_str(), ModeReadWrite);
        platform::ClearFaults();
        ASSERT_GE(h, 0) << copyBreaks;
        EXPECT_GT(manager.HdbFindKey(h, 1, "key 19"), 1) << copyBreaks;
        EXPECT_EQ(manager.CloseDatabase(h), 0) << copyBreaks;
        EXPECT_EQ(ReadBytes(path), before) << (copyBreaks ? "the copy broke off" : "the copy was made");
        EXPECT_FALSE(stdfs::exists(mirror));
    }
}

// A folder under the mirror's name is no mirror: recovery fails and the database stays.
TEST_F(MirrorTest, AMirrorThatIsAFolderIsRefused) {
    const auto leftOpen = LeftOpen(MakeDatabase());
    WriteBytes(path, leftOpen);
    stdfs::create_directory(mirror);
    EXPECT_EQ(manager.RecoverDatabase(path.c_str()), -1);
    EXPECT_EQ(ReadBytes(path), leftOpen);
    EXPECT_TRUE(stdfs::is_directory(mirror));
    stdfs::remove(mirror);
}

}  // namespace
