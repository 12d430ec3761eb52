// Whole-file operations by name: copying with a free-space check, moving with replacement,
// comparing, attributes, file times and the space of a volume. Successful changes are journaled.
#include <cstring>

#include "fileservice/change_journal.h"
#include "fileservice/file_service.h"
#include "platform/platform.h"
#include "platform/time.h"
#include "platform/volumes.h"
#include "support/date_time_converter.h"
#include "support/path_helpers.h"

namespace fileservice {

namespace {

constexpr uint32_t kCompareBufferSize = 65536;

bool CopyText(const char* text, size_t length, char* out, size_t size) {
    if (length >= size) return false;
    std::memcpy(out, text, length);
    out[length] = '\0';
    return true;
}

// "\\server\share\..." -> "\\server\share\"; "\\server\share" -> "\\server\share\"; "\\server" as
// it is.
bool NetworkRoot(const char* path, char* root, size_t size) {
    const char* server = path + 2;
    const char* serverEnd = server;
    while (*serverEnd && !support::IsSeparator(*serverEnd)) ++serverEnd;
    if (!*serverEnd) return CopyText(path, std::strlen(path), root, size);
    const char* shareEnd = serverEnd + 1;
    while (*shareEnd && !support::IsSeparator(*shareEnd)) ++shareEnd;
    if (*shareEnd) return CopyText(path, static_cast<size_t>(shareEnd - path) + 1, root, size);
    const size_t length = static_cast<size_t>(shareEnd - path);
    if (length + 1 >= size) return false;
    std::memcpy(root, path, length);
    root[length] = '\\';
    root[length + 1] = '\0';
    return true;
}

// One open of the file for setting its times, as the times call wants it: read and write.
int32_t StampTimes(const char* name, const uint64_t* creation, const uint64_t* access, const uint64_t* write) {
    const platform::FileHandle file =
        platform::OpenFile(name, platform::FileAccess::ReadWrite, platform::FileCreation::OpenExisting, false);
    if (!file) return -1;
    const bool stamped = platform::SetFileTimes(file, creation, access, write);
    platform::CloseFile(file);
    if (!stamped) return -1;
    JournalFileChanged(name);
    return 0;
}

// Reads both files in step and compares them. The open files are the caller's to close.
int32_t CompareOpenFiles(FileService& fs, int32_t a, int32_t b, char* bufferA, char* bufferB) {
    for (;;) {
        const int32_t countA = fs.FileRead(a, bufferA, kCompareBufferSize);
        const int32_t countB = fs.FileRead(b, bufferB, kCompareBufferSize);
        if (countA < 0 || countB < 0) return kCompareReadError;
        if (countA != countB) return kFilesDiffer;
        if (countA == 0) return kFilesIdentical;
        if (std::memcmp(bufferA, bufferB, static_cast<size_t>(countA)) != 0) return kFilesDiffer;
    }
}

}  // namespace

bool SpaceQueryRoot(const char* path, char* root, size_t size) {
    if (size == 0) return false;
    root[0] = '\0';
    if (!platform::kDriveLetters) return CopyText(path, std::strlen(path), root, size);
    if (support::IsSeparator(path[0]) && support::IsSeparator(path[1])) return NetworkRoot(path, root, size);
    // Only a drive letter names a volume; a relative path lies on the current folder's volume.
    if (path[0] != '\0' && path[1] == ':') {
        const char drive[3] = {path[0], ':', '\\'};
        return CopyText(drive, sizeof drive, root, size);
    }
    return true;
}

void FileService::FileDiskFree(const char* path, uint64_t* spaceOut) {
    uint64_t total = 0;
    char root[kPathBufferSize];
    *spaceOut = 0;
    if (!SpaceQueryRoot(path, root, sizeof root)) return;
    platform::DiskSpace(root[0] ? root : nullptr, spaceOut, &total);
}

void FileService::FileDiskSize(const char* path, uint64_t* sizeOut) {
    uint64_t space = 0;
    char root[kPathBufferSize];
    *sizeOut = 0;
    if (!SpaceQueryRoot(path, root, sizeof root)) return;
    platform::DiskSpace(root[0] ? root : nullptr, &space, sizeOut);
}

int32_t FileService::FileCopy(const char* source, const char* target) {
    uint64_t space = 0, size = 0;
    FileDiskFree(target, &space);
    FileSize64(source, &size);
    if (size > space) return kNotEnoughSpace;
    if (!platform::CopyFile(source, target)) {
        if (FileExists(target) != 1) return -1;
        // A read-only target refuses the copy; it is replaced all the same.
        platform::SetFileAttributesNormal(target);
        if (!platform::CopyFile(source, target)) return -1;
    }
    platform::SetFileAttributesNormal(target);
    JournalFileChanged(target);
    return 0;
}

int32_t FileService::FileMove(const char* source, const char* target) {
    if (!platform::MoveFile(source, target)) {
        if (FileExists(target) != 1) return -1;
        // Without a source to take its place, deleting the target would only lose it.
        if (FileExists(source) != 1) return -1;
        // The target goes only as the source takes its place, in one step: a move that fails
        // now leaves both where they were. A read-only target is replaced, as it was deleted.
        JournalFileDeleted(target);
        platform::SetFileAttributesNormal(target);
        if (!platform::ReplaceFile(source, target)) return -1;
    }
    platform::SetFileAttributesNormal(target);
    JournalFileDeleted(source);
    JournalFileChanged(target);
    return 0;
}

int32_t FileService::FileCompare(const char* nameA, const char* nameB) {
    uint32_t highA = 0, highB = 0;
    const uint32_t lowA = FileSize(nameA, &highA);
    const uint32_t lowB = FileSize(nameB, &highB);
    if (highA != highB || lowA != lowB) return kFilesDiffer;

    char* bufferA = static_cast<char*>(platform::Allocate(kCompareBufferSize));
    char* bufferB = bufferA ? static_cast<char*>(platform::Allocate(kCompareBufferSize)) : nullptr;
    if (!bufferA || !bufferB) {
        platform::Free(bufferA);
        return kCompareOutOfMemory;
    }
    constexpr uint32_t kRequest = OpenRead | 0x00010000u | OpenDetailedErrors;
    int32_t result = 0;
    const int32_t a = FileOpen(nameA, kRequest);
    if (a < 0) {
        result = a;
    } else {
        const int32_t b = FileOpen(nameB, kRequest);
        if (b < 0) {
            result = b;
        } else {
            result = CompareOpenFiles(*this, a, b, bufferA, bufferB);
            FileClose(b);
        }
        FileClose(a);
    }
    platform::Free(bufferA);
    platform::Free(bufferB);
    return result;
}

int32_t FileService::FileGetAttributes(const char* name) {
    return static_cast<int32_t>(platform::GetFileAttributes(name));
}

int32_t FileService::FileSetAttributes(const char* name, uint32_t attributes) {
    platform::SetFileAttributes(name, attributes & kSettableAttributes);
    return 0;
}

int32_t FileService::FileSetWriteTime(const char* name, uint32_t packedTime) {
    uint64_t stamp = 0;
    if (packedTime == 0) {
        stamp = platform::CurrentFileTime();
    } else {
        platform::SystemTime fields{};
        support::DateTimeConverter{}.PackedToSystemTime(packedTime, &fields);
        uint64_t local = 0;
        // A packed time that names no real moment (day 30 of February) is not stamped.
        if (!platform::CalendarToFileTime(fields, &local) || !platform::LocalToFileTime(local, &stamp)) return -1;
    }
    return StampTimes(name, &stamp, &stamp, &stamp);
}

int32_t FileService::FileSetTimes(const char* name, const uint64_t* creation, const uint64_t* access,
                                  const uint64_t* write) {
    return StampTimes(name, creation, access, write);
}

int32_t FileService::FileReplace(const char* target, const char* source) {
    if (!platform::ReplaceFile(source, target)) return 0;
    JournalFileRenamed(target, source);
    return 1;
}

}  // namespace fileservice
