#include "hdb/mirror.h"

#include <cstring>

#include "fileservice/file_service.h"
#include "hdb/database_record.h"
#include "hdb/database_table.h"
#include "hdb/engine_file_service.h"
#include "hdb/format.h"
#include "platform/platform.h"
#include "support/path_helpers.h"
#include "support/spin_lock.h"

using support::kDatabaseTableLock;
using support::LastSeparator;
using support::LockExclusive;
using support::UnlockExclusive;
using fileservice::FileService;
using fileservice::OpenRead;

namespace hdb {

namespace {

constexpr size_t kMirrorPathSize = kDatabasePathBuffer + sizeof kMirrorDraftSuffix;

// The name the next mirror is written under before it takes the mirror's place.
bool DraftPath(const char* databasePath, char* out, size_t size) {
    const size_t length = std::strlen(databasePath);
    if (length + sizeof kMirrorDraftSuffix > size) return false;
    std::memcpy(out, databasePath, length);
    std::memcpy(out + length, kMirrorDraftSuffix, sizeof kMirrorDraftSuffix);
    return true;
}

// A copy of the database under the draft name, on the disk, then renamed over the mirror and
// the rename made durable: at every moment the mirror's name holds a whole copy or nothing new.
bool TakeMirror(FileService& fs, const char* databasePath, const char* draft, const char* mirror) {
    if (fs.FileCopy(databasePath, draft) != 0 || !platform::FlushNamedFile(draft)) return false;
    return fs.FileReplace(mirror, draft) == 1 && FlushFolderOf(mirror);
}

}  // namespace

bool MirrorPath(const char* databasePath, char* out, size_t size) {
    const size_t length = std::strlen(databasePath);
    if (length + sizeof kMirrorSuffix > size) return false;
    std::memcpy(out, databasePath, length);
    std::memcpy(out + length, kMirrorSuffix, sizeof kMirrorSuffix);
    return true;
}

int32_t CopyToMirror(const char* databasePath) {
    char mirror[kMirrorPathSize];
    if (!MirrorPath(databasePath, mirror, sizeof mirror)) return -1;
    // A writer in another process has the file in the middle of its changes, and the mirror
    // beside it is the one it took: a copy now would put the half-changed file in its place.
    if (platform::HeldForWriting(databasePath)) return -1;
    char draft[kMirrorPathSize];
    if (!DraftPath(databasePath, draft, sizeof draft)) return -1;
    FileService& fs = DatabaseFileService();
    if (TakeMirror(fs, databasePath, draft, mirror)) return 0;
    // Neither a partial nor an older mirror may remain, but one that a writer in another
    // process took of the file it holds is its own.
    if (fs.FileExists(draft) == 1) fs.FileDelete(draft);
    if (!platform::HeldForWriting(databasePath)) fs.FileDelete(mirror);
    return -1;
}

int32_t DeleteMirror(const char* databasePath) {
    char mirror[kMirrorPathSize];
    if (!MirrorPath(databasePath, mirror, sizeof mirror)) return 0;
    FileService& fs = DatabaseFileService();
    if (fs.FileExists(mirror) == 1) fs.FileDelete(mirror);
    return 0;
}

namespace {

constexpr uint64_t kShortestDatabase = kHeaderImageSize;

// 1 when the header says a writer had the file open, 0 when it was closed cleanly, -1 when the
// header cannot be read whole (a file too short, or one that cannot be opened).
int32_t LeftOpenByWriter(FileService& fs, const char* path) {
    const int32_t file = fs.FileOpen(path, OpenRead);
    if (file < 0) return -1;
    DatabaseHeader header{};
    const int32_t count = fs.FileRead(file, &header, kHeaderImageSize);
    fs.FileClose(file);
    if (count != static_cast<int32_t>(kHeaderImageSize)) return -1;
    return header.openForWrite == 0 ? 0 : 1;
}

uint64_t SizeOf(FileService& fs, const char* path) {
    uint64_t size = 0;
    fs.FileSize64(path, &size);
    return size;
}

// The mirror takes the database's place in one step. A read-only database is made writable
// first, as deleting it would have done.
bool PutMirrorInPlace(FileService& fs, const char* path, const char* mirror) {
    if (fs.FileReplace(path, mirror) != 1) {
        const int32_t attributes = fs.FileGetAttributes(path);
        if (attributes == -1 || (attributes & platform::kAttributeReadOnly) == 0) return false;
        platform::SetFileAttributesNormal(path);
        if (fs.FileReplace(path, mirror) != 1) return false;
    }
    return FlushFolderOf(path);
}

// A folder under the mirror's name is no mirror: it must never take the database's place.
bool IsFolder(FileService& fs, const char* path) {
    const int32_t attributes = fs.FileGetAttributes(path);
    return attributes != -1 && (attributes & platform::kAttributeDirectory) != 0;
}

// A file that someone holds open refuses to be deleted with a sharing violation.
RecoveryOutcome DeleteFailure() {
    return platform::LastError() == platform::kErrorSharingViolation ? RecoveryOutcome::InUse : RecoveryOutcome::Failed;
}

RecoveryOutcome RecoverClosedDatabase(FileService& fs, const char* path) {
    const int32_t exists = fs.FileExists(path);
    if (exists == 0) return RecoveryOutcome::Absent;  // a mirror, if any, is left alone
    if (exists < 0) return RecoveryOutcome::Failed;
    // Nothing may change under a reader or a writer.
    if (platform::HeldByAnyone(path)) return RecoveryOutcome::InUse;
    if (LeftOpenByWriter(fs, path) == 0) return RecoveryOutcome::Clean;

    char mirror[kMirrorPathSize];
    if (!MirrorPath(path, mirror, sizeof mirror)) return RecoveryOutcome::Failed;
    if (SizeOf(fs, path) < kShortestDatabase) {
        // Too short to hold a header: no database at all, unless the mirror can be one.
        if (fs.FileDelete(path) != 0) return DeleteFailure();
        const int32_t mirrorExists = fs.FileExists(mirror);
        if (mirrorExists == 0) return RecoveryOutcome::DeletedTooShort;
        if (mirrorExists < 0 || IsFolder(fs, mirror)) return RecoveryOutcome::Failed;
        if (SizeOf(fs, mirror) < kShortestDatabase) {
            if (fs.FileDelete(mirror) != 0) return DeleteFailure();
            return RecoveryOutcome::DeletedBoth;
        }
        return PutMirrorInPlace(fs, path, mirror) ? RecoveryOutcome::TooShortRestored : RecoveryOutcome::Failed;
    }
    const int32_t mirrorExists = fs.FileExists(mirror);
    if (mirrorExists == 0) return RecoveryOutcome::NothingToRestore;
    if (mirrorExists < 0 || IsFolder(fs, mirror)) return RecoveryOutcome::Failed;
    if (PutMirrorInPlace(fs, path, mirror)) return RecoveryOutcome::Restored;
    return platform::HeldByAnyone(path) || platform::HeldByAnyone(mirror) ? RecoveryOutcome::InUse
                                                                           : RecoveryOutcome::Failed;
}

}  // namespace

RecoveryOutcome RecoverDatabaseWithOutcome(const char* path) {
    if (!path || std::strlen(path) >= kDatabasePathBuffer) return RecoveryOutcome::Failed;
    // Under the table lock, so that no open of this process starts while the files change.
    LockExclusive(kDatabaseTableLock);
    const RecoveryOutcome outcome =
        IsDatabaseOpen(path) ? RecoveryOutcome::InUse : RecoverClosedDatabase(DatabaseFileService(), path);
    UnlockExclusive(kDatabaseTableLock);
    return outcome;
}

void RestoreLeftOpenDatabase(const char* databasePath) {
    FileService& fs = DatabaseFileService();
    // Only a header read whole that says a writer had the file: anything else is the open's
    // to find out.
    if (LeftOpenByWriter(fs, databasePath) != 1) return;
    char mirror[kMirrorPathSize];
    if (!MirrorPath(databasePath, mirror, sizeof mirror)) return;
    if (fs.FileExists(mirror) != 1 || IsFolder(fs, mirror) || SizeOf(fs, mirror) < kShortestDatabase) return;
    // A writer in another process still has it: its mirror is its own.
    if (platform::HeldByAnyone(databasePath)) return;
    PutMirrorInPlace(fs, databasePath, mirror);
}

bool RecoverySucceeded(RecoveryOutcome outcome) {
    switch (outcome) {
        case RecoveryOutcome::Absent:
        case RecoveryOutcome::Clean:
        case RecoveryOutcome::Restored:
        case RecoveryOutcome::DeletedTooShort:
        case RecoveryOutcome::DeletedBoth:
        case RecoveryOutcome::TooShortRestored:
            return true;
        case RecoveryOutcome::NothingToRestore:
        case RecoveryOutcome::InUse:
        case RecoveryOutcome::Failed:
            break;
    }
    return false;
}

}  // namespace hdb
