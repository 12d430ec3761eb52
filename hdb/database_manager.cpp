#include "hdb/database_manager.h"

#include <cstring>
#include <string>

#include "fileservice/file_service.h"
#include "hdb/block_cache.h"
#include "hdb/block_io.h"
#include "hdb/chain.h"
#include "hdb/database_record.h"
#include "hdb/database_table.h"
#include "hdb/engine_file_service.h"
#include "hdb/free_list.h"
#include "hdb/key_node.h"
#include "hdb/mirror.h"
#include "hdb/node_cache.h"
#include "hdb/report_message.h"
#include "hdb/sub_key_list.h"
#include "platform/platform.h"

using support::kDatabaseTableLock;
using support::LockExclusive;
using support::UnlockExclusive;
using fileservice::FileService;
using fileservice::OpenCreate;
using fileservice::OpenNewFileOnly;

namespace hdb {

namespace {

bool SeekTo(const DatabaseRecord& db, int64_t offset) {
    const auto o = static_cast<uint64_t>(offset);
    return DatabaseFileService().FileSeek(db.file, static_cast<uint32_t>(o >> 32), static_cast<uint32_t>(o)) == 0;
}

// Asks the system to put the file's bytes on the disk. False when it says it could not: the
// bytes may then be lost from its cache already, and a second flush could succeed without them.
bool FlushDatabaseFile(const DatabaseRecord& db) { return DatabaseFileService().FileFlush(db.file) == 0; }

// Writes the 72-byte header image at offset 0 and flushes. False when it was not written whole
// or not flushed.
bool WriteHeaderImage(DatabaseRecord& db) {
    FileService& fs = DatabaseFileService();
    const bool written =
        SeekTo(db, 0) && fs.FileWrite(db.file, &db.header, kHeaderImageSize) == static_cast<int32_t>(kHeaderImageSize);
    const bool flushed = FlushDatabaseFile(db);
    db.filePosition = kUnknownFilePosition;
    return written && flushed;
}

// The close of a writer, in the order that keeps every moment of it recoverable: the blocks on
// the disk (and, for a file this open made, its name in the folder), and only then the header
// that says the file is whole. False when any of it failed; the header then says open for
// writing, as far as the file can still be told so.
bool CommitClose(DatabaseRecord& db) {
    BlockCacheFlush(db);
    if (db.transferFailed == 0 && !FlushDatabaseFile(db)) db.transferFailed = 1;
    if (db.transferFailed == 0 && db.createdHere != 0 && !FlushFolderOf(db.path)) db.transferFailed = 1;
    if (db.transferFailed != 0) return false;
    db.header.openForWrite = 0;
    if (WriteHeaderImage(db)) return true;
    db.transferFailed = 1;
    db.header.openForWrite = 1;
    WriteHeaderImage(db);
    return false;
}

// Puts the file where filePosition says, or at the first block when that is unknown.
void RestorePosition(DatabaseRecord& db) {
    const int64_t target = db.filePosition == kUnknownFilePosition ? kHeaderBlockSize : db.filePosition;
    db.filePosition = SeekTo(db, target) ? target : kUnknownFilePosition;
}

// A read-only record asked for by a writer becomes writable: reopen its file in the new mode.
int32_t ChangeMode(DatabaseManager& manager, int32_t slot, int32_t mode) {
    DatabaseRecord& db = *LookupDatabase(slot);
    FileService& fs = DatabaseFileService();
    // Reopening in ModeCreate would empty a file whose blocks this record still describes; a
    // writer that joins an open database gets the database as it is.
    const int32_t reopenMode = mode == ModeCreate ? ModeReadWrite : mode;
    LockDatabase(db);
    const int64_t position = db.filePosition;
    if (db.file >= 0) fs.FileClose(db.file);
    CopyToMirror(db.path);
    db.file = fs.FileOpen(db.path, static_cast<uint32_t>(reopenMode));
    if (db.file < 0) {
        db.file = fs.FileOpen(db.path, ModeReadOnly);
        if (db.file >= 0) {
            db.filePosition = position;
            RestorePosition(db);
            UnlockDatabase(db);
            UnlockExclusive(kDatabaseTableLock);
            return -1;
        }
        db.file = -1;
        UnlockDatabase(db);
        UnlockExclusive(kDatabaseTableLock);
        manager.CloseDatabase(slot);
        return -1;
    }
    // The cache held the file as the read-only open saw it; the reopened file starts afresh.
    BlockCacheDestroy(db.cache);
    db.cache = BlockCacheCreate(BlockFileWrite);
    NodeCacheDestroy(db);
    db.openCount += 1;
    db.mode = reopenMode;
    db.header.openForWrite = 1;
    // Unmarked, the file would claim a clean close while it changes: nothing more may change it.
    if (!WriteHeaderImage(db)) db.transferFailed = 1;
    db.filePosition = position;
    RestorePosition(db);
    UnlockDatabase(db);
    UnlockExclusive(kDatabaseTableLock);
    return slot;
}

// Opens an existing database file into a new record. False when the record must be removed.
bool OpenExisting(DatabaseRecord& db, const char* path, int32_t mode) {
    FileService& fs = DatabaseFileService();
    if (mode == ModeReadWrite) {
        // A writer that died left its mirror beside the file: put it back before taking a new
        // one, which would otherwise be a copy of the half-changed file.
        RestoreLeftOpenDatabase(path);
        CopyToMirror(path);
    }
    db.file = fs.FileOpen(path, static_cast<uint32_t>(mode));
    if (db.file < 0 && mode == ModeReadWrite) {
        platform::SetFileAttributesNormal(path);
        db.file = fs.FileOpen(path, static_cast<uint32_t>(mode));
    }
    if (db.file < 0) return false;
    uint8_t headerBlock[kHeaderBlockSize];
    if (fs.FileRead(db.file, headerBlock, kHeaderBlockSize) != static_cast<int32_t>(kHeaderBlockSize)) {
        fs.FileClose(db.file);
        return false;
    }
    std::memcpy(&db.header, headerBlock, kHeaderImageSize);
    std::strcpy(db.path, path);
    db.mode = mode;
    db.openCount = 1;
    db.freeListBusy = 0;
    db.lockWord = 0;
    db.filePosition = kHeaderBlockSize;
    db.cache = BlockCacheCreate(BlockFileWrite);
    if (mode == ModeReadWrite) {
        // Without the mark in the file, a writer that stops half-way would leave a file that
        // says it was closed cleanly: nothing is changed unmarked.
        db.header.openForWrite = 1;
        if (!WriteHeaderImage(db)) {
            fs.FileClose(db.file);
            return false;
        }
        RestorePosition(db);
    }
    if (ChainOpen(db, db.freeListCursor, db.header.freeListBlock) != 0) {
        fs.FileClose(db.file);
        return false;
    }
    return true;
}

// Creates a new, empty database file into a new record. False when the record must be removed.
// Only ModeCreate empties an existing file; every other creation happens because the file was
// found missing, and must fail if it turns out to be there after all.
bool CreateNew(DatabaseRecord& db, const char* path, int32_t mode) {
    FileService& fs = DatabaseFileService();
    db.file = fs.FileOpen(path, mode == ModeCreate ? OpenCreate : OpenCreate | OpenNewFileOnly);
    if (db.file < 0) return false;
    std::memcpy(db.header.signature, kDatabaseSignature, sizeof kDatabaseSignature);
    db.header.formatNumber = kFormatNumber;
    db.header.headerSize = kHeaderImageSize;
    db.header.reserved = 0;
    db.header.openForWrite = 1;
    std::strcpy(db.path, path);
    db.mode = mode;
    db.openCount = 1;
    db.freeListBusy = 0;
    db.lockWord = 0;
    db.createdHere = 1;
    uint8_t headerBlock[kHeaderBlockSize] = {};
    std::memcpy(headerBlock, &db.header, kHeaderImageSize);
    db.cache = BlockCacheCreate(BlockFileWrite);
    bool created = fs.FileWrite(db.file, headerBlock, kHeaderBlockSize) == static_cast<int32_t>(kHeaderBlockSize) &&
                   FlushDatabaseFile(db);
    if (created) {
        db.filePosition = kHeaderBlockSize;
        const int64_t first = ChainCreate(db, db.freeListCursor);
        created = first >= 0;
        if (created) db.header.freeListBlock = static_cast<uint32_t>(first);
    }
    if (!created) {
        fs.FileClose(db.file);
        fs.FileDelete(path);
    }
    return created;
}

void ReleaseOpenNodes(DatabaseRecord& db) {
    int32_t count = 0;
    for (KeyNode* node = db.nodeHead; node;) {
        KeyNode* next = node->next;
        NodeRelease(db, node->cursor.firstBlock);
        ++count;
        node = next;
    }
    if (count >= 1) {
        const std::string text =
            std::to_string(count) + " objects were left open when closing database " + db.path;
        ReportMessage("Database Manager", text.c_str());
    }
}

}  // namespace

DatabaseManager::DatabaseManager() { AcquireDatabaseFileService(); }

DatabaseManager::~DatabaseManager() { ReleaseDatabaseFileService(); }

int32_t DatabaseManager::OpenDatabase(const char* path, int32_t mode) {
    if (!path || std::strlen(path) >= kDatabasePathBuffer) return -1;
    FileService& fs = DatabaseFileService();
    if (mode == ModeReadOnly && fs.FileExists(path) != 1) return -1;

    LockExclusive(kDatabaseTableLock);
    if (!EnsureDatabaseTable()) {
        UnlockExclusive(kDatabaseTableLock);
        return -1;
    }
    if (const int32_t open = FindOpenDatabase(path); open >= 0) {
        DatabaseRecord* db = LookupDatabase(open);
        if (db->mode == mode || db->mode != ModeReadOnly) {
            db->openCount += 1;
            UnlockExclusive(kDatabaseTableLock);
            return open;
        }
        return ChangeMode(*this, open, mode);
    }
    const int32_t slot = AddDatabaseRecord();
    if (slot < 0) {
        UnlockExclusive(kDatabaseTableLock);
        return -1;
    }
    DatabaseRecord* db = LookupDatabase(slot);

    // A failed existence check decides nothing: taking the file for missing would empty it.
    const int32_t exists = mode == ModeCreate ? 0 : fs.FileExists(path);
    const bool opened = exists == 1   ? OpenExisting(*db, path, mode)
                        : exists == 0 ? CreateNew(*db, path, mode)
                                      : false;
    if (!opened) {
        RemoveDatabaseRecord(slot);
        UnlockExclusive(kDatabaseTableLock);
        return -1;
    }
    db->filePosition = kHeaderBlockSize;
    if (!SeekTo(*db, kHeaderBlockSize)) db->filePosition = kUnknownFilePosition;
    UnlockExclusive(kDatabaseTableLock);
    return slot;
}

int32_t DatabaseManager::CloseDatabase(int32_t handle) {
    DatabaseRecord* found = LookupDatabase(handle);
    if (!found) return -1;
    LockExclusive(kDatabaseTableLock);
    DatabaseRecord& db = *found;
    if (--db.openCount > 0) {
        UnlockExclusive(kDatabaseTableLock);
        return 0;
    }
    LockDatabase(db);
    DiscardSubKeyCache(db);
    if (db.mode != ModeReadOnly) SettleFreeList(db);
    ChainClose(db, db.freeListCursor);
    ReleaseOpenNodes(db);
    int32_t result = 0;
    if (db.file >= 0) {
        FileService& fs = DatabaseFileService();
        if (db.mode == ModeReadOnly) {
            fs.FileClose(db.file);
        } else {
            // After any failed transfer or flush the header is left as the open wrote it (open
            // for writing) and the mirror stays, so the file says what happened to it and
            // recovery can put the old one back; the close reports the failure. The mirror goes
            // only once the clean header is on the disk. A mirror whose removal a power cut
            // undoes is harmless beside a file that says it was closed cleanly.
            const bool committed = CommitClose(db);
            fs.FileClose(db.file);
            if (committed) DeleteMirror(db.path);
            else result = -1;
        }
    }
    UnlockDatabase(db);
    RemoveDatabaseRecord(handle);
    UnlockExclusive(kDatabaseTableLock);
    return result;
}

int32_t DatabaseManager::GetAppValue(int32_t handle) {
    const DatabaseRecord* db = LookupDatabase(handle);
    return db ? db->header.appValue : -1;
}

int32_t DatabaseManager::SetAppValue(int32_t handle, int32_t value) {
    DatabaseRecord* db = LookupDatabase(handle);
    if (!db || db->mode == ModeReadOnly) return -1;
    db->header.appValue = value;
    return 0;
}

int32_t DatabaseManager::GetKeyCount(int32_t handle) {
    const DatabaseRecord* db = LookupDatabase(handle);
    return db ? static_cast<int32_t>(db->header.keyCount) : -1;
}

int32_t DatabaseManager::RecoverDatabase(const char* path) {
    return RecoverySucceeded(RecoverDatabaseWithOutcome(path)) ? 0 : -1;
}

bool DatabaseClosedCleanly(int32_t handle) {
    const DatabaseRecord* db = LookupDatabase(handle);
    return db && db->header.openForWrite == 0;
}

}  // namespace hdb
