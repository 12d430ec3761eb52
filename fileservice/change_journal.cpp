// The change journal. Each line opens, appends to and closes the file on its own, under the
// journal lock; the open asks for share-read only, so a line that meets another process's open
// is lost rather than interleaved.
#include "fileservice/change_journal.h"

#include <cstring>

#include "fileservice/file_service.h"
#include "platform/platform.h"
#include "support/path_helpers.h"
#include "support/spin_lock.h"

namespace fileservice {

namespace {

// Empty (first byte 0) while journaling is off.
char g_journalPath[kJournalPathSize] = "";
support::SpinLockWord g_journalLock = 0;

bool JournalIsOff() { return __atomic_load_n(&g_journalPath[0], __ATOMIC_ACQUIRE) == '\0'; }

struct LinePart {
    const char* text;
    size_t length;
};

void WriteWhole(platform::FileHandle file, const char* data, size_t length) {
    uint32_t done = 0;
    platform::WriteFile(file, data, static_cast<uint32_t>(length), &done);
}

// Writes the parts as one line: composed in the line buffer when it fits, else part by part
// while the file is still held, so a long name is journaled whole and nothing overruns.
void WriteLine(platform::FileHandle file, const LinePart* parts, size_t count) {
    char line[kJournalLineSize];
    size_t length = 0;
    for (size_t i = 0; i < count; ++i) length += parts[i].length;
    if (length <= sizeof line) {
        size_t at = 0;
        for (size_t i = 0; i < count; ++i) {
            std::memcpy(line + at, parts[i].text, parts[i].length);
            at += parts[i].length;
        }
        WriteWhole(file, line, length);
        return;
    }
    for (size_t i = 0; i < count; ++i) WriteWhole(file, parts[i].text, parts[i].length);
}

void AppendLine(const char* keyword, const char* first, const char* second) {
    if (JournalIsOff()) return;
    support::AcquireSpinLock(&g_journalLock);
    const platform::FileHandle file =
        JournalIsOff() ? 0
                       : platform::OpenFile(g_journalPath, platform::FileAccess::ReadWrite,
                                            platform::FileCreation::OpenAlways, false);
    if (file) {
        platform::SeekFile(file, 0, platform::SeekOrigin::End, nullptr);
        LinePart parts[6];
        size_t count = 0;
        parts[count++] = {keyword, std::strlen(keyword)};
        parts[count++] = {"\t", 1};
        parts[count++] = {first, std::strlen(first)};
        if (second) {
            parts[count++] = {"\t", 1};
            parts[count++] = {second, std::strlen(second)};
        }
        parts[count++] = {"\r\n", 2};
        WriteLine(file, parts, count);
        platform::CloseFile(file);
    }
    support::ReleaseSpinLock(&g_journalLock);
}

// The journal's folder is made when it is missing, which journals its own FolderCreated line.
void MakeJournalFolder(FileService& fs, const char* path) {
    char folder[kJournalPathSize];
    std::strcpy(folder, path);
    char* cut = support::LastSeparator(folder);
    if (!cut) return;
    *cut = '\0';
    if (folder[0] != '\0' && fs.FolderExists(folder) == 0) fs.CreateFolderPath(folder);
}

}  // namespace

int32_t JournalFileChanged(const char* name) {
    AppendLine("FileChanged", name, nullptr);
    return 0;
}

int32_t JournalFileDeleted(const char* name) {
    AppendLine("FileDeleted", name, nullptr);
    return 0;
}

int32_t JournalFileRenamed(const char* newName, const char* oldName) {
    AppendLine("FileRenamed", newName, oldName);
    return 0;
}

int32_t JournalFolderCreated(const char* path) {
    AppendLine("FolderCreated", path, nullptr);
    return 0;
}

int32_t JournalFolderDeleted(const char* path) {
    AppendLine("FolderDeleted", path, nullptr);
    return 0;
}

int32_t FileService::SetJournalFile(const char* path) {
    const size_t length = path ? std::strlen(path) : 0;
    // A path cut to fit would name another file; journaling stays off instead.
    const bool fits = length < kJournalPathSize;
    support::AcquireSpinLock(&g_journalLock);
    // The first byte says whether journaling is on; it is read without the lock, so it is
    // written last and on its own.
    __atomic_store_n(&g_journalPath[0], '\0', __ATOMIC_RELEASE);
    if (fits && length > 0) {
        std::memcpy(g_journalPath + 1, path + 1, length);
        __atomic_store_n(&g_journalPath[0], path[0], __ATOMIC_RELEASE);
    }
    support::ReleaseSpinLock(&g_journalLock);
    if (!fits) return -1;
    if (length > 0) MakeJournalFolder(*this, path);
    return 0;
}

}  // namespace fileservice
