// Folder trees: creating whole folder paths, deleting and pruning trees, listing and measuring
// folders, matching the letter case of folder names, and temporary file names. Working copies
// of paths live in kPathBufferSize buffers; a path that would not fit is refused, never cut,
// because a cut path names another file.
#include <cstring>

#include "fileservice/change_journal.h"
#include "fileservice/file_service.h"
#include "fileservice/name_compare.h"
#include "platform/platform.h"
#include "platform/resources.h"
#include "platform/volumes.h"
#include "support/number_text.h"
#include "support/path_helpers.h"

using namespace support;

namespace fileservice {

namespace {

volatile int32_t g_tempNameCounter = 0;
constexpr int kTempNameAttempts = 100;

bool CopyPath(const char* path, char (&out)[kPathBufferSize]) {
    const size_t length = std::strlen(path);
    if (length >= sizeof out) return false;
    std::memcpy(out, path, length + 1);
    return true;
}

bool Append(char* buffer, size_t size, const char* text) {
    const size_t length = std::strlen(buffer), extra = std::strlen(text);
    if (length + extra >= size) return false;
    std::memcpy(buffer + length, text, extra + 1);
    return true;
}

// folder + separator (only when missing) + name.
bool JoinPath(const char* folder, const char* name, char (&out)[kPathBufferSize]) {
    return CopyPath(folder, out) && AddTrailingSeparator(out, sizeof out) == 0 && Append(out, sizeof out, name);
}

bool IsFolderEntry(uint32_t attributes) { return (attributes & platform::kAttributeDirectory) != 0; }
// A folder link is removed as a link: following it would reach what lies outside the tree.
bool IsFolderLink(uint32_t attributes) {
    return IsFolderEntry(attributes) && (attributes & platform::kAttributeReparsePoint) != 0;
}

bool IsDotEntry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

bool FindsAnything(const char* pattern) {
    platform::FindData data;
    const platform::FindHandle search = platform::FindFirst(pattern, &data);
    if (!search) return false;
    platform::FindClose(search);
    return true;
}

bool IsDriveText(const char* text) {
    return platform::kDriveLetters && text[0] != '\0' && text[1] == ':' && !IsSeparator(text[0]);
}

// The level of a path being made, up to a separator: a drive must answer for its volume, any
// other folder must be there or be made.
bool EnsureLevel(FileService& fs, const char* prefix) {
    const size_t length = std::strlen(prefix);
    if (length == 0) return true;
    if (length <= 2 && IsDriveText(prefix)) {
        const char root[4] = {prefix[0], ':', '\\', '\0'};
        uint32_t serial = 0, flags = 0;
        char label[261], fileSystem[261];
        return platform::VolumeInformation(root, label, sizeof label, &serial, &flags, fileSystem, sizeof fileSystem);
    }
    if (fs.FileExists(prefix) == 1) return true;
    // Someone else making the same level at this moment is as good as making it here.
    return platform::CreateFolder(prefix) || platform::LastError() == platform::kErrorAlreadyExists;
}

// Sum of the file sizes below one folder, found with the system's find calls directly (no
// search slot, so any depth can be measured).
uint64_t SumFolder(const char* path, int32_t recursive) {
    char pattern[kPathBufferSize];
    if (!JoinPath(path, "*.*", pattern)) return 0;
    platform::FindData entry;
    const platform::FindHandle search = platform::FindFirst(pattern, &entry);
    if (!search) return 0;
    uint64_t sum = 0;
    do {
        if (IsDotEntry(entry.name)) continue;
        if (!IsFolderEntry(entry.attributes)) {
            sum += entry.size;
        } else if (recursive == 1 && !IsFolderLink(entry.attributes)) {
            char sub[kPathBufferSize];
            if (JoinPath(path, entry.name, sub)) sum += SumFolder(sub, 1);
        }
    } while (platform::FindNext(search, &entry));
    platform::FindClose(search);
    return sum;
}

}  // namespace

int32_t FileService::CreateFolderPath(const char* path) {
    char work[kPathBufferSize];
    if (!CopyPath(path, work)) return -1;
    // A trailing separator names the same folder; without it the last level is made (and
    // journaled) by the final step like any other path. A root keeps its separators.
    size_t root = 0;
    while (IsSeparator(work[root])) ++root;
    if (root == 0 && IsDriveText(work)) root = IsSeparator(work[2]) ? 3 : 2;
    for (char* last = LastChar(work); last >= work + root && IsSeparator(*last); last = LastChar(work)) *last = '\0';

    const char* p = work;
    int leading = 0;
    while (IsSeparator(*p)) {
        ++p;
        ++leading;
    }
    // Two leading separators begin a network path; its server and share are never made. One
    // leading separator is the root of the volume, which always exists.
    const bool network = leading >= 2;
    int count = 1;
    for (; *p != '\0'; p = NextChar(p)) {
        if (!IsSeparator(*p)) continue;
        ++count;
        if (network && count < 4) continue;
        const char saved = *p;
        work[p - work] = '\0';
        const bool ready = EnsureLevel(*this, work);
        work[p - work] = saved;
        if (!ready) return -1;
    }
    const size_t length = std::strlen(work);
    if (network && count < 3) return 0;
    if (length <= 3 && IsDriveText(work)) return 0;
    // A name already there, file or folder, is left as it is, as at every level above.
    if (FileExists(work) == 1) return 0;
    if (!platform::CreateFolder(work)) {
        // Made by someone else just now.
        return platform::LastError() == platform::kErrorAlreadyExists && FileExists(work) == 1 ? 0 : -1;
    }
    JournalFolderCreated(work);
    return 0;
}

int32_t FileService::DeleteFolder(const char* path, int32_t recursive) {
    if (std::strlen(path) >= kPathBufferSize) return -1;
    if (recursive == 1) {
        char pattern[kPathBufferSize];
        const int32_t slot = JoinPath(path, "*.*", pattern) ? SearchOpen(pattern) : -1;
        // Without a slot (all in use, or an empty folder) nothing inside is touched, and a folder
        // that is not empty then stays.
        if (slot >= 0) {
            do {
                char sub[kPathBufferSize];
                if (!JoinPath(path, SearchName(slot), sub)) continue;
                const uint32_t attributes = SearchAttributes(slot);
                if (IsFolderLink(attributes)) DeleteFolder(sub, 0);
                else if (IsFolderEntry(attributes)) DeleteFolder(sub, recursive);
                else FileDelete(sub);
            } while (SearchNext(slot) == 0);
            SearchClose(slot);
        }
    }
    if (!platform::RemoveFolder(path)) return -1;
    JournalFolderDeleted(path);
    return 0;
}

int32_t FileService::FolderExists(const char* path) {
    if (FindsAnything(path)) return 1;
    char pattern[kPathBufferSize];
    return JoinPath(path, "*.*", pattern) && FindsAnything(pattern) ? 1 : 0;
}

int32_t FileService::PruneEmptyFolders(const char* stopAt, const char* path) {
    char folder[kPathBufferSize], stop[kPathBufferSize];
    if (!CopyPath(path, folder) || !CopyPath(stopAt, stop)) return 0;
    // "c:\data\" stops where "c:\data" does.
    RemoveTrailingSeparators(stop);
    for (;;) {
        char pattern[kPathBufferSize];
        if (!JoinPath(folder, "*.*", pattern)) return 0;
        const int32_t slot = SearchOpen(pattern);
        if (slot >= 0) {
            SearchClose(slot);
            return 0;
        }
        DeleteFolder(folder, 0);
        char* cut = LastSeparator(folder);
        if (!cut) return 0;
        *cut = '\0';
        if (folder[0] == '\0' || SameNameNoCase(folder, stop)) return 0;
    }
}

int32_t FileService::ListFolder(const char* path, FolderEntry** listOut) {
    *listOut = nullptr;
    char pattern[kPathBufferSize];
    if (!JoinPath(path, "*.*", pattern)) return 0;
    const int32_t slot = SearchOpen(pattern);
    if (slot < 0) return 0;
    FolderEntry* head = nullptr;
    FolderEntry* tail = nullptr;
    do {
        auto* entry = static_cast<FolderEntry*>(platform::Allocate(sizeof(FolderEntry)));
        if (!entry) {
            SearchClose(slot);
            FreeFolderList(head);
            return -1;
        }
        std::memset(entry, 0, sizeof *entry);
        std::strncpy(entry->name, SearchName(slot), sizeof entry->name - 1);
        entry->isFile = SearchIsFolder(slot) == 1 ? 0 : 1;
        if (tail) tail->next = entry;
        else head = entry;
        tail = entry;
    } while (SearchNext(slot) == 0);
    SearchClose(slot);
    *listOut = head;
    return 0;
}

void FreeFolderList(FolderEntry* list) {
    while (list) {
        FolderEntry* next = list->next;
        platform::Free(list);
        list = next;
    }
}

uint64_t FileService::FolderSize(const char* path, int32_t recursive) { return SumFolder(path, recursive); }

int32_t FileService::MatchFolderCase(const char* path) {
    char prefix[kPathBufferSize];
    if (!CopyPath(path, prefix)) return 0;
    char* cut = LastSeparator(prefix);
    if (!cut) return 0;
    *cut = '\0';  // the file name at the end is not touched
    while (std::strlen(prefix) > 4) {
        char* separator = LastSeparator(prefix);
        const char* component = separator ? separator + 1 : prefix;
        platform::FindData found;
        const platform::FindHandle search = platform::FindFirst(prefix, &found);
        if (!search) return 0;
        platform::FindClose(search);
        if (SameNameNoCase(found.name, component) && std::strcmp(found.name, component) != 0) {
            // From the name as it is on the disk to the name as written.
            char current[kPathBufferSize];
            const size_t parentLength = static_cast<size_t>(component - prefix);
            if (parentLength + std::strlen(found.name) < sizeof current) {
                std::memcpy(current, prefix, parentLength);
                std::strcpy(current + parentLength, found.name);
                platform::MoveFile(current, prefix);
            }
        }
        if (!separator) return 0;
        *separator = '\0';
    }
    return 0;
}

int32_t FileService::TempFileName(char* nameOut, size_t size) {
    if (size > 0) nameOut[0] = '\0';
    char folder[kPathBufferSize];
    const uint32_t length = platform::ExecutablePath(folder, sizeof folder);
    char* cut = length > 0 && length < sizeof folder - 1 ? LastSeparator(folder) : nullptr;
    if (!cut) return -1;
    cut[1] = '\0';
    if (!Append(folder, sizeof folder, "data") || AddTrailingSeparator(folder, sizeof folder) != 0) return -1;

    char candidate[kPathBufferSize];
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        char digits[kIdentifierTextSize];
        UIntToHex8(static_cast<uint32_t>(platform::AtomicIncrement(&g_tempNameCounter)), digits);
        char pattern[kPathBufferSize];
        std::strcpy(candidate, folder);
        if (!Append(candidate, sizeof candidate, "qrm") || !Append(candidate, sizeof candidate, digits)) return -1;
        std::strcpy(pattern, candidate);
        if (!Append(pattern, sizeof pattern, ".*")) return -1;
        // A name taken with any extension is passed over.
        const int32_t slot = SearchOpen(pattern);
        if (slot < 0) break;
        SearchClose(slot);
    }
    if (!Append(candidate, sizeof candidate, ".tmp") || std::strlen(candidate) >= size) return -1;
    std::strcpy(nameOut, candidate);
    return 0;
}

}  // namespace fileservice
