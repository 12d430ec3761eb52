#include "fileservice/file_service.h"

#include <atomic>
#include <cstring>

#include "fileservice/change_journal.h"
#include "fileservice/resource_module.h"
#include "platform/platform.h"
#include "support/date_time_converter.h"
#include "support/spin_lock.h"

namespace fileservice {

file_service_detail::ReadWindow file_service_detail::g_readWindows[kOpenFileTableSize];

namespace {

// Small reads are served from a buffer that is filled in large reads, so a reader that takes one
// byte at a time costs one system call per buffer, not per byte. Reads of 256 bytes or more (a
// database block, a header) go straight to the system: such callers keep their own buffers and
// count on each of their reads being one transfer. While the entry's position is known, the
// system's position stands at bufferStart + fill and the entry's own at bufferStart + cursor
// (of the entry's read window); a write, or a seek outside the buffer, first puts the system's
// position back at the entry's. After a failed call the position is not known until the system is asked again.
constexpr uint32_t kReadBufferSize = 16 * 1024;
constexpr uint32_t kBufferedReadBelow = 256;

// The entry's buffer, its fill and cursor are in g_readWindows at the entry's index.
struct OpenFileEntry {
    std::atomic<platform::FileHandle> handle;  // 0 marks a free entry
    int32_t modified;
    char* name;  // heap copy of the name as opened, or null
    bool positionKnown;
    uint64_t bufferStart;   // file offset of buffer[0]
};

OpenFileEntry g_openFiles[kOpenFileTableSize];

file_service_detail::ReadWindow& Window(const OpenFileEntry& entry) {
    return file_service_detail::g_readWindows[&entry - g_openFiles];
}

support::SpinLockWord g_openFileTableLock = 0;
volatile int32_t g_objectCount = 0;
support::DateTimeConverter* g_dateTimeConverter = nullptr;
ResourceModule* g_resourceModule = nullptr;
FileActivityHooks* volatile g_hooks = nullptr;

// Hooks are read once per notification: a concurrent removal leaves the old copy alive for a
// moment (SetFileActivityHooks yields before freeing it).
const FileActivityHooks* Hooks() { return g_hooks; }

void NotifyBegin(const char* operation, const char* name) {
    if (const FileActivityHooks* h = Hooks(); h && h->OnBegin) h->OnBegin(operation, name);
}
void NotifyEnd() {
    if (const FileActivityHooks* h = Hooks(); h && h->OnEnd) h->OnEnd();
}

platform::FileHandle OpenByMode(const char* name, uint32_t mode, bool newFileOnly, bool privileged) {
    using platform::FileAccess;
    using platform::FileCreation;
    switch (mode) {
        case OpenCreate:
            return platform::OpenFile(name, FileAccess::ReadWrite,
                                      newFileOnly ? FileCreation::CreateNew : FileCreation::CreateAlways, privileged);
        case OpenReadWrite:
            return platform::OpenFile(name, FileAccess::ReadWrite,
                                      newFileOnly ? FileCreation::CreateNew : FileCreation::OpenAlways, privileged);
        case OpenAppend: {
            platform::FileHandle h =
                platform::OpenFile(name, FileAccess::ReadWrite, FileCreation::OpenAlways, privileged);
            if (h) platform::SeekFile(h, 0, platform::SeekOrigin::End, nullptr);
            return h;
        }
        default: {
            platform::FileHandle h =
                platform::OpenFile(name, FileAccess::Read, FileCreation::OpenExisting, privileged);
            if (!h && platform::LastError() == platform::kErrorSharingViolation) {
                // The compatibility open shares writing, so a file another opener is writing
                // can still be read.
                h = platform::OpenFileCompat(name);
                if (!h) platform::SetLastError(platform::kErrorSharingViolation);
            }
            return h;
        }
    }
}

void SetKnownPosition(OpenFileEntry& entry, uint64_t position) {
    entry.positionKnown = true;
    entry.bufferStart = position;
    Window(entry).fill = 0;
    Window(entry).cursor = 0;
}

void ForgetPosition(OpenFileEntry& entry) {
    entry.positionKnown = false;
    Window(entry).fill = 0;
    Window(entry).cursor = 0;
}

// Makes the system's position the entry's and empties the buffer. False when that fails.
bool SyncPosition(OpenFileEntry& entry) {
    if (!entry.positionKnown) {
        uint64_t position = 0;
        if (!platform::SeekFile(entry.handle, 0, platform::SeekOrigin::Current, &position)) return false;
        SetKnownPosition(entry, position);
        return true;
    }
    const uint64_t position = entry.bufferStart + Window(entry).cursor;
    // A failed move leaves the system where it was, so the entry keeps its buffer and position.
    if (Window(entry).cursor != Window(entry).fill &&
        !platform::SeekFile(entry.handle, static_cast<int64_t>(position), platform::SeekOrigin::Begin, nullptr))
        return false;
    SetKnownPosition(entry, position);
    return true;
}

// Copies what the buffer holds from the entry's position on, at most `count` bytes.
uint32_t TakeBuffered(OpenFileEntry& entry, uint8_t* out, uint32_t count) {
    const uint32_t available = Window(entry).fill - Window(entry).cursor;
    const uint32_t take = available < count ? available : count;
    if (take > 0) std::memcpy(out, Window(entry).buffer + Window(entry).cursor, take);
    Window(entry).cursor += take;
    return take;
}

// One system read of `count` bytes at the entry's position, into `out`.
bool ReadThrough(OpenFileEntry& entry, uint8_t* out, uint32_t count, uint32_t* done) {
    if (!SyncPosition(entry)) return false;
    if (!platform::ReadFile(entry.handle, out, count, done)) {
        ForgetPosition(entry);
        return false;
    }
    SetKnownPosition(entry, entry.bufferStart + *done);
    return true;
}

// Reads the next buffer's worth at the entry's position, once the buffer is used up.
bool Refill(OpenFileEntry& entry) {
    uint32_t done = 0;
    if (!ReadThrough(entry, Window(entry).buffer, kReadBufferSize, &done)) return false;
    entry.bufferStart -= done;
    Window(entry).fill = done;
    return true;
}

// Every read but that of one buffered byte, which FileRead serves inline.
int32_t ReadEntry(OpenFileEntry& entry, uint8_t* out, uint32_t count) {
    if (!Window(entry).buffer && count < kBufferedReadBelow)
        Window(entry).buffer = static_cast<uint8_t*>(platform::Allocate(kReadBufferSize));
    // Bytes already buffered come first, whatever the size of the read.
    uint32_t served = Window(entry).buffer ? TakeBuffered(entry, out, count) : 0;
    while (served < count) {
        const uint32_t left = count - served;
        // Without a buffer (there was no memory for one) every read is the system's own.
        if (!Window(entry).buffer || count >= kBufferedReadBelow) {
            uint32_t done = 0;
            if (!ReadThrough(entry, out + served, left, &done)) return -1;
            return static_cast<int32_t>(served + done);
        }
        // A failed read returns -1 even when the buffer gave part of the bytes; where the file
        // then stands is not known, as after a failed system read.
        if (!Refill(entry)) return -1;
        const uint32_t got = TakeBuffered(entry, out + served, left);
        if (got == 0) break;  // the end of the file
        served += got;
    }
    return static_cast<int32_t>(served);
}

char* CopyName(const char* name) {
    const size_t size = std::strlen(name) + 1;
    char* copy = static_cast<char*>(platform::Allocate(size));
    if (copy) std::memcpy(copy, name, size);
    return copy;
}

}  // namespace

FileService::FileService() {
    if (platform::AtomicLoad(&g_objectCount) == 0) {
        g_dateTimeConverter = new support::DateTimeConverter;
        g_resourceModule = new ResourceModule;
    }
    platform::AtomicIncrement(&g_objectCount);
    isNT = (platform::GetVersion() & 0x80000000u) == 0 ? 1 : 0;
}

FileService::~FileService() {
    if (platform::AtomicLoad(&g_objectCount) == 1) {
        delete g_dateTimeConverter;
        delete g_resourceModule;
        g_dateTimeConverter = nullptr;
        g_resourceModule = nullptr;
    }
    platform::AtomicDecrement(&g_objectCount);
}

int32_t FileService::FileOpen(const char* name, uint32_t request) {
    const uint32_t mode = request & 0xFFFFu;
    const bool quiet = (request & OpenQuiet) != 0;
    if (!quiet) NotifyBegin("FileOpen", name);
    const bool privileged = (request & (OpenPrivilegedAccess | OpenPrivilegedAccess2)) != 0 && isNT == 1;

    platform::FileHandle handle = OpenByMode(name, mode, (request & OpenNewFileOnly) != 0, privileged);
    if (!handle) {
        const uint32_t error = platform::LastError();
        if (!quiet) NotifyEnd();
        if (request & OpenDetailedErrors) {
            if (error == platform::kErrorSharingViolation) return kOpenErrorSharing;
            if (error == platform::kErrorAccessDenied) return kOpenErrorAccess;
        }
        return -1;
    }

    support::AcquireSpinLock(&g_openFileTableLock);
    for (int32_t index = 0; index < kOpenFileTableSize; ++index) {
        OpenFileEntry& entry = g_openFiles[index];
        if (entry.handle.load() != 0) continue;
        entry.handle.store(handle);
        entry.modified = 0;
        entry.name = CopyName(name);
        // Opened at the start, except in append mode, where the system is asked on first use.
        if (mode == OpenAppend) ForgetPosition(entry);
        else SetKnownPosition(entry, 0);
        support::ReleaseSpinLock(&g_openFileTableLock);
        if (!quiet) {
            if (const FileActivityHooks* h = Hooks(); h && h->OnOpen) h->OnOpen(name, mode, index);
            NotifyEnd();
        }
        return index;
    }
    support::ReleaseSpinLock(&g_openFileTableLock);
    platform::CloseFile(handle);
    if (!quiet) NotifyEnd();
    return -1;
}

int32_t FileService::FileReadFromEntry(int32_t index, void* buffer, uint32_t count) {
    return ReadEntry(g_openFiles[index], static_cast<uint8_t*>(buffer), count);
}

int32_t FileService::FileWrite(int32_t index, const void* buffer, uint32_t count) {
    OpenFileEntry& entry = g_openFiles[index];
    // The write lands at the entry's position, and the buffer no longer holds the file's bytes.
    if (!SyncPosition(entry)) return kWriteErrorNothingWritten;
    uint32_t done = 0;
    if (!platform::WriteFile(entry.handle, buffer, count, &done)) {
        ForgetPosition(entry);
        return done == 0 ? kWriteErrorNothingWritten : -1;
    }
    SetKnownPosition(entry, entry.bufferStart + done);
    entry.modified = 1;
    return static_cast<int32_t>(done);
}

uint32_t FileService::FileTell(int32_t index, uint32_t* highOut) {
    OpenFileEntry& entry = g_openFiles[index];
    uint64_t position = entry.bufferStart + Window(entry).cursor;
    if (!entry.positionKnown) {
        // A 64-bit move cannot be mistaken for failure when the low half is all ones.
        if (!platform::SeekFile(entry.handle, 0, platform::SeekOrigin::Current, &position)) {
            if (highOut) *highOut = 0;
            return 0;
        }
        SetKnownPosition(entry, position);
    }
    if (highOut) *highOut = static_cast<uint32_t>(position >> 32);
    return static_cast<uint32_t>(position);
}

int32_t FileService::FileSeek(int32_t index, uint32_t high, uint32_t low) {
    OpenFileEntry& entry = g_openFiles[index];
    const uint64_t offset = (static_cast<uint64_t>(high) << 32) | low;
    // A position inside the buffer, or the position the entry stands at, needs no system call.
    if (entry.positionKnown && offset >= entry.bufferStart && offset - entry.bufferStart <= Window(entry).fill) {
        Window(entry).cursor = static_cast<uint32_t>(offset - entry.bufferStart);
        return 0;
    }
    if (!platform::SeekFile(entry.handle, static_cast<int64_t>(offset), platform::SeekOrigin::Begin, nullptr)) {
        ForgetPosition(entry);
        return -1;
    }
    SetKnownPosition(entry, offset);
    return 0;
}

int32_t FileService::FileFlush(int32_t index) {
    // A flush that fails has lost the bytes it was to write, whatever a later flush says: the
    // caller must learn of it.
    return platform::FlushFile(g_openFiles[index].handle) ? 0 : -1;
}

int32_t FileService::FileClose(int32_t index) {
    OpenFileEntry& entry = g_openFiles[index];
    platform::CloseFile(entry.handle);
    platform::Free(Window(entry).buffer);
    Window(entry).buffer = nullptr;
    ForgetPosition(entry);
    if (entry.name) {
        if (entry.modified == 1) JournalFileChanged(entry.name);
        platform::Free(entry.name);
        entry.name = nullptr;
    }
    // Clearing the handle last frees the entry only once it is empty.
    entry.modified = 0;
    entry.handle.store(0);
    if (const FileActivityHooks* h = Hooks(); h && h->OnClose) h->OnClose(index);
    return 0;
}

int32_t FileService::FileExists(const char* name) {
    platform::FindData data;
    platform::FindHandle search = platform::FindFirst(name, &data);
    if (search) {
        platform::FindClose(search);
        return 1;
    }
    // Only the system's "not found" means absent; a failed search says nothing about the name.
    const uint32_t error = platform::LastError();
    return error == platform::kErrorFileNotFound || error == platform::kErrorPathNotFound ? 0 : -1;
}

int32_t FileService::FileDelete(const char* name) {
    JournalFileDeleted(name);
    NotifyBegin("FileDelete", name);
    if (!platform::DeleteFile(name)) {
        if (FileExists(name) == 0) {
            NotifyEnd();
            return 0;
        }
        platform::SetFileAttributesNormal(name);
        if (!platform::DeleteFile(name)) {
            NotifyEnd();
            return -1;
        }
    }
    if (const FileActivityHooks* h = Hooks(); h && h->OnDelete) h->OnDelete(name);
    NotifyEnd();
    return 0;
}

int32_t FileService::FileRename(const char* target, const char* source) {
    NotifyBegin("FileRename", target);
    if (!platform::MoveFile(source, target)) {
        NotifyEnd();
        return 0;
    }
    if (const FileActivityHooks* h = Hooks(); h && h->OnRename) h->OnRename(target, source);
    NotifyEnd();
    JournalFileRenamed(target, source);
    return 1;
}

int32_t FileService::SetFileActivityHooks(const FileActivityHooks* table) {
    if (table) {
        auto* copy = static_cast<FileActivityHooks*>(platform::Allocate(sizeof(FileActivityHooks)));
        if (!copy) return -2;
        *copy = *table;
        FileActivityHooks* old = g_hooks;
        g_hooks = copy;
        // The replaced copy is freed after a yield, as on removal, so a reader in flight is done.
        if (old) {
            platform::Sleep(0);
            platform::Free(old);
        }
        return 0;
    }
    if (FileActivityHooks* old = g_hooks) {
        g_hooks = nullptr;
        platform::Sleep(0);
        platform::Free(old);
    }
    return 0;
}

int32_t FileServiceObjectCount() { return platform::AtomicLoad(&g_objectCount); }

int32_t OpenFileCount() {
    int32_t count = 0;
    for (const OpenFileEntry& entry : g_openFiles)
        if (entry.handle.load() != 0) ++count;
    return count;
}

}  // namespace fileservice
