// Directory searches on POSIX: the folder's listing in the order Windows on NTFS gives it
// (sorted by name, case-free), filtered by the Windows wildcard rules, each entry described
// from stat as FindFirstFileA describes it: when it is handed out, or, for a search that asked
// for names first, when FindDescribe asks. The folder part of a pattern, and a name without
// wildcards, are resolved case-free.
#include "platform/platform.h"
#include "platform/os.h"
#include "platform/posix/errors.h"
#include "platform/posix/names.h"
#include "platform/wildcard.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {


struct Search {
    std::string folder;               // with a trailing separator, or empty for the current folder
    std::vector<std::string> names;   // the matches, in listing order
    std::vector<unsigned char> types; // each match's type as the listing gives it (d_type)
    size_t next = 0;                  // the first match not yet handed out
    bool nameFirst = false;           // entries whose type the listing knows go out undescribed
    bool lastUndescribed = false;     // the entry handed out last waits for FindDescribe
    // The folder, held open while the search runs (as a Windows search holds its folder), so
    // that describing an entry looks up its name alone. -1: described by the whole path.
    int folderFd = -1;
    ~Search() {
        if (folderFd >= 0) close(folderFd);
    }
};

uint64_t FileTimeOf(const struct timespec& t) {
    constexpr uint64_t kSecondsFrom1601To1970 = 11644473600ull;
    return (static_cast<uint64_t>(t.tv_sec) + kSecondsFrom1601To1970) * 10000000ull +
           static_cast<uint64_t>(t.tv_nsec) / 100;
}

void Fill(const struct stat& st, bool isLink, const char* name, FindData* data) {
    std::memset(data, 0, sizeof *data);
    data->attributes = posix::AttributesOf(S_ISDIR(st.st_mode), (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0,
                                           isLink, name);
    data->creationTime = FileTimeOf(st.st_ctim);
    data->lastAccessTime = FileTimeOf(st.st_atim);
    data->lastWriteTime = FileTimeOf(st.st_mtim);
    data->size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    std::strncpy(data->name, name, sizeof data->name - 1);
}

// A link is described by what it leads to, or as the link when it leads nowhere.
bool Describe(const std::string& path, const char* name, FindData* data) {
    struct stat st {}, link {};
    if (lstat(path.c_str(), &link) != 0) return false;
    const bool isLink = S_ISLNK(link.st_mode);
    if (!isLink || stat(path.c_str(), &st) != 0) st = link;
    Fill(st, isLink, name, data);
    return true;
}

// An entry of the search's folder, looked up from the open folder: the name alone, not its path.
bool DescribeEntry(const Search& search, const std::string& name, FindData* data) {
    if (search.folderFd < 0) return Describe(search.folder + name, name.c_str(), data);
    struct stat st {}, link {};
    if (fstatat(search.folderFd, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0) return false;
    const bool isLink = S_ISLNK(link.st_mode);
    if (!isLink || fstatat(search.folderFd, name.c_str(), &st, 0) != 0) st = link;
    Fill(st, isLink, name.c_str(), data);
    return true;
}

// What the listing says of an entry of a plain type: its name and whether it is a folder. Until
// it is described, it counts as writable and no link.
void DescribeFromListing(const std::string& name, bool folder, FindData* data) {
    std::memset(data, 0, sizeof *data);
    data->attributes = posix::AttributesOf(folder, true, false, name.c_str());
    std::strncpy(data->name, name.c_str(), sizeof data->name - 1);
}

// Hands out the next match. Described at once, a match that has vanished since the listing is
// passed over; with names first, a folder or plain file goes out as the listing shows it.
bool NextMatch(Search* search, FindData* data) {
    search->lastUndescribed = false;
    while (search->next < search->names.size()) {
        const size_t at = search->next++;
        const std::string& name = search->names[at];
        const unsigned char type = at < search->types.size() ? search->types[at] : static_cast<unsigned char>(DT_UNKNOWN);
        if (search->nameFirst && (type == DT_DIR || type == DT_REG)) {
            DescribeFromListing(name, type == DT_DIR, data);
            search->lastUndescribed = true;
            return true;
        }
        if (DescribeEntry(*search, name, data)) return true;
    }
    return posix::Fail(kErrorNoMoreFiles);
}

// The error FindFirstFileA gives for a name that could not be described: a name below a file
// is an invalid name; below a missing folder the path is not found.
bool FailToDescribe(const char* path) {
    if (errno != ENOTDIR) return posix::FailWithErrnoFor(path);
    const char* slash = std::strrchr(path, '/');
    const std::string folder = slash ? std::string(path, static_cast<size_t>(slash - path)) : std::string(".");
    struct stat st {};
    if (stat(folder.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return posix::Fail(kErrorInvalidName);
    return posix::Fail(kErrorPathNotFound);
}

// A search without wildcards: the one entry of that name, found case-free.
FindHandle FindOne(const char* name, FindData* data) {
    std::string storage;
    const char* path = posix::ResolveName(name, storage);
    if (!path) return 0;
    const char* slash = std::strrchr(path, '/');
    const char* last = slash ? slash + 1 : path;
    if (std::strlen(last) >= sizeof data->name) {
        posix::Fail(kErrorFileNotFound);
        return 0;
    }
    if (!Describe(path, last, data)) {
        FailToDescribe(path);
        return 0;
    }
    auto* search = new (std::nothrow) Search;
    if (!search) {
        posix::Fail(kErrorNotEnoughMemory);
        return 0;
    }
    return reinterpret_cast<FindHandle>(search);
}

}  // namespace

namespace os {

FindHandle FindFirst(const char* pattern, FindData* data, FindFill fill) {
    std::string trimmed;
    pattern = posix::WindowsName(pattern, trimmed);
    const char* slash = std::strrchr(pattern, '/');
    const char* last = slash ? slash + 1 : pattern;
    if (*last == '\0') {
        posix::Fail(kErrorFileNotFound);
        return 0;
    }
    const std::string written(pattern, static_cast<size_t>(last - pattern));
    if (HasWildcards(written.c_str())) {
        posix::Fail(kErrorInvalidName);  // wildcards name no folder
        return 0;
    }
    if (!HasWildcards(last)) return FindOne(pattern, data);

    std::string storage;
    const char* folder = written.empty() ? "" : posix::ResolveName(written.c_str(), storage);
    if (!folder) return 0;
    std::vector<std::string> names;
    std::vector<unsigned char> types;
    if (!posix::ReadFolder(folder, names, &types)) return 0;
    auto* search = new (std::nothrow) Search;
    if (!search) {
        posix::Fail(kErrorNotEnoughMemory);
        return 0;
    }
    search->folder = folder;
    search->folderFd = open(*folder ? folder : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    search->nameFirst = fill == FindFill::NameFirst;
    const bool everyName = WildcardMatchesAll(last);
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i].size() >= sizeof data->name || !(everyName || WildcardMatch(last, names[i].c_str()))) continue;
        search->names.push_back(std::move(names[i]));
        search->types.push_back(types[i]);
    }
    if (!NextMatch(search, data)) {
        delete search;
        posix::Fail(kErrorFileNotFound);
        return 0;
    }
    return reinterpret_cast<FindHandle>(search);
}

bool FindNext(FindHandle handle, FindData* data) {
    return NextMatch(reinterpret_cast<Search*>(handle), data);
}

}  // namespace os

// An entry that has vanished since the listing keeps the listing's description.
void FindDescribe(FindHandle handle, FindData* data) {
    auto* search = reinterpret_cast<Search*>(handle);
    if (!search || !search->lastUndescribed) return;
    search->lastUndescribed = false;
    DescribeEntry(*search, search->names[search->next - 1], data);
}

void FindClose(FindHandle handle) { delete reinterpret_cast<Search*>(handle); }

}  // namespace platform
