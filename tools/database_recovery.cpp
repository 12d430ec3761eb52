#include "tools/database_recovery.h"

#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kOpenForWriteOffset = 68;

uint64_t SizeOf(FileService& files, const std::string& path) {
    uint64_t size = 0;
    files.FileSize64(path.c_str(), &size);
    return size;
}

// Whether `path` is gone. A file that a program holds open cannot be deleted; that is the one
// sign of a writer still at work, since reading such a file is allowed.
bool Deleted(FileService& files, const std::string& path, RecoveryOutcome& failure) {
    if (files.FileDelete(path.c_str()) == 0) return true;
    failure = platform::LastError() == platform::kErrorSharingViolation ? RecoveryOutcome::InUse : RecoveryOutcome::Failed;
    return false;
}

// The mirror takes the database's place. The engine's recovery does not look at these results;
// a tool that says what it did must.
RecoveryOutcome PutMirrorInPlace(FileService& files, const std::string& path, const std::string& mirror,
                                 RecoveryOutcome success) {
    RecoveryOutcome failure = RecoveryOutcome::Failed;
    if (files.FileExists(path.c_str()) == 1 && !Deleted(files, path, failure)) return failure;
    if (files.FileRename(path.c_str(), mirror.c_str()) != 1) return RecoveryOutcome::Failed;
    return success;
}

}  // namespace

RecoveryOutcome RecoverDatabaseFile(FileService& files, const char* databasePath) {
    const std::string path = databasePath;
    if (files.FileExists(path.c_str()) != 1) return RecoveryOutcome::Absent;
    const int32_t file = files.FileOpen(path.c_str(), OpenRead);
    if (file >= 0) {
        uint8_t header[kHeaderImageSize];
        const int32_t got = files.FileRead(file, header, kHeaderImageSize);
        files.FileClose(file);
        if (got == static_cast<int32_t>(kHeaderImageSize)) {
            const uint32_t openForWrite = static_cast<uint32_t>(header[kOpenForWriteOffset]) |
                                          static_cast<uint32_t>(header[kOpenForWriteOffset + 1]) << 8 |
                                          static_cast<uint32_t>(header[kOpenForWriteOffset + 2]) << 16 |
                                          static_cast<uint32_t>(header[kOpenForWriteOffset + 3]) << 24;
            if (openForWrite == 0) return RecoveryOutcome::Clean;
        }
    }
    const std::string mirror = path + ".mirror";
    const bool mirrorExists = files.FileExists(mirror.c_str()) == 1;
    RecoveryOutcome failure = RecoveryOutcome::Failed;
    if (SizeOf(files, path) < kHeaderImageSize) {
        if (!Deleted(files, path, failure)) return failure;
        if (!mirrorExists) return RecoveryOutcome::DeletedTooShort;
        if (SizeOf(files, mirror) < kHeaderImageSize) {
            if (!Deleted(files, mirror, failure)) return failure;
            return RecoveryOutcome::DeletedBoth;
        }
        return PutMirrorInPlace(files, path, mirror, RecoveryOutcome::TooShortRestored);
    }
    if (!mirrorExists) return RecoveryOutcome::NothingToRestore;
    return PutMirrorInPlace(files, path, mirror, RecoveryOutcome::Restored);
}

int32_t RecoveryExitCode(RecoveryOutcome outcome) {
    switch (outcome) {
        case RecoveryOutcome::Absent:
        case RecoveryOutcome::Clean:
        case RecoveryOutcome::Restored:
        case RecoveryOutcome::DeletedTooShort:
        case RecoveryOutcome::DeletedBoth:
        case RecoveryOutcome::TooShortRestored:
            return 0;
        case RecoveryOutcome::NothingToRestore:
        case RecoveryOutcome::InUse:
        case RecoveryOutcome::Failed:
            break;
    }
    return 1;
}

std::string DescribeRecovery(RecoveryOutcome outcome, const std::string& path) {
    const std::string mirror = path + ".mirror";
    switch (outcome) {
        case RecoveryOutcome::Absent:
            return path + ": no such file; nothing to recover";
        case RecoveryOutcome::Clean:
            return path + ": closed cleanly; nothing changed";
        case RecoveryOutcome::Restored:
            return path + ": was left open by a writer; restored from " + mirror;
        case RecoveryOutcome::NothingToRestore:
            return path + ": was left open by a writer, and no mirror lies beside it; nothing to restore, the file is unchanged";
        case RecoveryOutcome::DeletedTooShort:
            return path + ": shorter than its 72-byte header; deleted as too short (no mirror lay beside it)";
        case RecoveryOutcome::DeletedBoth:
            return path + ": shorter than its 72-byte header, and so was " + mirror + "; both deleted as too short";
        case RecoveryOutcome::TooShortRestored:
            return path + ": shorter than its 72-byte header; deleted as too short and restored from " + mirror;
        case RecoveryOutcome::InUse:
            return path + ": in use: a program holds it open, so it cannot be replaced; nothing was touched";
        case RecoveryOutcome::Failed:
            return path + ": the file or its mirror could not be deleted or renamed; recovery is incomplete (" + mirror +
                   ", if it is there, still holds the database as it was)";
    }
    return path;
}
