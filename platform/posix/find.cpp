// Directory searches on POSIX: a listing of the folder filtered by the Windows wildcard rules,
// each entry described from stat as FindFirstFileA describes it.
#include "platform/platform.h"
#include "platform/fault_injection.h"
#include "platform/posix/errors.h"
#include "platform/wildcard.h"

#include <cstring>
#include <dirent.h>
#include <new>
#include <string>
#include <sys/stat.h>

namespace platform {
namespace {

struct Search {
    DIR* dir = nullptr;  // null for a search without wildcards (one entry, already given)
    std::string folder;  // with a trailing separator, or empty for the current folder
    std::string pattern;
};

uint64_t FileTimeOf(const struct timespec& t) {
    constexpr uint64_t kSecondsFrom1601To1970 = 11644473600ull;
    return (static_cast<uint64_t>(t.tv_sec) + kSecondsFrom1601To1970) * 10000000ull +
           static_cast<uint64_t>(t.tv_nsec) / 100;
}

bool Describe(const std::string& path, const char* name, FindData* data) {
    struct stat st {}, link {};
    if (lstat(path.c_str(), &link) != 0) return false;
    const bool isLink = S_ISLNK(link.st_mode);
    if (!isLink || stat(path.c_str(), &st) != 0) st = link;
    std::memset(data, 0, sizeof *data);
    data->attributes = posix::AttributesOf(S_ISDIR(st.st_mode), (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0,
                                           isLink, name);
    data->creationTime = FileTimeOf(st.st_ctim);
    data->lastAccessTime = FileTimeOf(st.st_atim);
    data->lastWriteTime = FileTimeOf(st.st_mtim);
    data->size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    std::strncpy(data->name, name, sizeof data->name - 1);
    return true;
}

bool NextMatch(Search* search, FindData* data) {
    while (struct dirent* entry = readdir(search->dir)) {
        if (std::strlen(entry->d_name) >= sizeof data->name) continue;
        if (!WildcardMatch(search->pattern.c_str(), entry->d_name)) continue;
        if (Describe(search->folder + entry->d_name, entry->d_name, data)) return true;
    }
    return posix::Fail(kErrorNoMoreFiles);
}

}  // namespace

FindHandle FindFirst(const char* pattern, FindData* data) {
    if (const Fault* f = fault_detail::Check(CallKind::Find)) {
        posix::Fail(f->error);
        return 0;
    }
    std::string storage;
    pattern = posix::WindowsName(pattern, storage);
    const char* slash = std::strrchr(pattern, '/');
    const char* last = slash ? slash + 1 : pattern;
    if (*last == '\0') {
        posix::Fail(kErrorFileNotFound);
        return 0;
    }
    auto* search = new (std::nothrow) Search;
    if (!search) {
        posix::Fail(kErrorNotEnoughMemory);
        return 0;
    }
    search->folder.assign(pattern, static_cast<size_t>(last - pattern));
    search->pattern = last;
    if (!HasWildcards(last)) {
        if (!Describe(pattern, last, data)) {
            posix::FailWithErrnoFor(pattern);
            delete search;
            return 0;
        }
        return reinterpret_cast<FindHandle>(search);
    }
    search->dir = opendir(search->folder.empty() ? "." : search->folder.c_str());
    if (!search->dir) {
        posix::FailWithErrno(false);
        delete search;
        return 0;
    }
    if (!NextMatch(search, data)) {
        closedir(search->dir);
        delete search;
        posix::Fail(kErrorFileNotFound);
        return 0;
    }
    return reinterpret_cast<FindHandle>(search);
}

bool FindNext(FindHandle handle, FindData* data) {
    if (const Fault* f = fault_detail::Check(CallKind::Find)) return posix::Fail(f->error);
    auto* search = reinterpret_cast<Search*>(handle);
    if (!search->dir) return posix::Fail(kErrorNoMoreFiles);
    return NextMatch(search, data);
}

void FindClose(FindHandle handle) {
    auto* search = reinterpret_cast<Search*>(handle);
    if (!search) return;
    if (search->dir) closedir(search->dir);
    delete search;
}

}  // namespace platform
