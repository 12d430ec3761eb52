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

constexpr size_t kMirrorPathSize = kDatabasePathBuffer + sizeof kMirrorSuffix;

// Makes the entries of the folder that holds `path` durable.
bool FlushFolderOf(const char* path) {
    char folder[kMirrorPathSize];
    std::strcpy(folder, path);
    char* cut = LastSeparator(folder);
    if (!cut) folder[0] = '\0';
    else if (cut == folder) cut[1] = '\0';  // the root itself
    else *cut = '\0';
    return platform::FlushFolder(folder);
}

// Writes the mirror's bytes and its entry in the folder through to the disk, so that the copy
// survives a power loss that happens after the writer has begun changing the database.
bool MakeDurable(const char* mirror) { return platform::FlushNamedFile(mirror) && FlushFolderOf(mirror); }

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
    FileService& fs = DatabaseFileService();
    if (fs.FileCopy(databasePath, mirror) == 0 && MakeDurable(mirror)) return 0;
    // Neither a partial nor an older mirror may remain, but one that a writer in another
    // process took of the file it holds is its own.
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
    FlushFolderOf(path);
    return true;
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
        if (mirrorExists < 0) return RecoveryOutcome::Failed;
        if (SizeOf(fs, mirror) < kShortestDatabase) {
            if (fs.FileDelete(mirror) != 0) return DeleteFailure();
            return RecoveryOutcome::DeletedBoth;
        }
        return PutMirrorInPlace(fs, path, mirror) ? RecoveryOutcome::TooShortRestored : RecoveryOutcome::Failed;
    }
    const int32_t mirrorExists = fs.FileExists(mirror);
    if (mirrorExists == 0) return RecoveryOutcome::NothingToRestore;
    if (mirrorExists < 0) return RecoveryOutcome::Failed;
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
