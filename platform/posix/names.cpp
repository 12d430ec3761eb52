// Case-free names on a case-sensitive file system, resolved as Wine resolves them: the name as
// written when it exists, else a case-free match from the folder's listing. One function, so
// that every operation that takes a name finds the same file.
#include "platform/posix/names.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

#include "platform/fault_injection.h"
#include "platform/name_order.h"
#include "platform/platform.h"
#include "platform/posix/errors.h"

namespace platform::posix {
namespace {


bool IsDotName(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

// Opens `folder` for reading its entries, with the error a Windows listing would report.
DIR* OpenFolder(const std::string& folder) {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (dir) return dir;
    const int error = errno;
    std::string bare = folder;
    while (bare.size() > 1 && bare.back() == '/') bare.pop_back();
    struct stat st {};
    if (error == ENOTDIR && stat(bare.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
        Fail(kErrorInvalidName);  // the folder named is a file
    else
        Fail(ErrorFromErrno(error, false));
    return nullptr;
}

// The entry of `folder` that matches `element` case-free and comes first in listing order, or
// empty when none does. False (LastError set) when the folder exists but cannot be read.
bool FindCaseFree(const std::string& folder, const char* element, std::string& match) {
    match.clear();
    if (const Fault* f = fault_detail::Check(CallKind::FolderRead)) return Fail(f->error);
    DIR* dir = OpenFolder(folder);
    if (!dir) {
        // A folder that is not there holds nothing; any other failure says nothing.
        const uint32_t error = LastError();
        return error == kErrorPathNotFound || error == kErrorInvalidName;
    }
    const NameKey wanted = MakeNameKey(element);
    NameKey best;
    while (const struct dirent* entry = readdir(dir)) {
        if (IsDotName(entry->d_name)) continue;
        NameKey key = MakeNameKey(entry->d_name);
        if (key.folded != wanted.folded) continue;
        if (match.empty() || ListsBefore(key, best)) {
            match = entry->d_name;
            best = std::move(key);
        }
    }
    closedir(dir);
    return true;
}

bool ExistsAsWritten(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// `path` does not exist as written. Resolves its folder first (when that is missing too), then
// its last element in the resolved folder.
bool Resolve(const std::string& path, std::string& out) {
    size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') --end;
    const std::string tail = path.substr(end);
    const std::string body = path.substr(0, end);
    const size_t slash = body.rfind('/');
    const std::string parent = slash == std::string::npos ? std::string() : body.substr(0, slash + 1);
    const std::string element = slash == std::string::npos ? body : body.substr(slash + 1);

    std::string folder = parent;
    if (!parent.empty() && parent != "/") {
        struct stat st {};
        if (lstat(parent.c_str(), &st) != 0) {
            if (errno != ENOENT) {
                out = path;  // not searchable, not a folder, ...: the operation reports it
                return true;
            }
            if (!Resolve(parent, folder)) return false;
        }
    }
    if (element.empty() || IsDotName(element.c_str()) || (folder != parent && ExistsAsWritten(folder + element))) {
        out = folder + element + tail;
        return true;
    }
    std::string match;
    if (!FindCaseFree(folder, element.c_str(), match)) return false;
    out = folder + (match.empty() ? element : match) + tail;
    return true;
}

}  // namespace

const char* WindowsName(const char* name, std::string& storage) {
    const char* slash = std::strrchr(name, '/');
    const char* last = slash ? slash + 1 : name;
    size_t end = std::strlen(last);
    while (end > 0 && (last[end - 1] == '.' || last[end - 1] == ' ')) --end;
    // "." and ".." name folders; an element of dots and blanks only is left alone.
    if (end == 0 || last[end] == '\0') return name;
    storage.assign(name, static_cast<size_t>(last - name) + end);
    return storage.c_str();
}

const char* ResolveName(const char* name, std::string& storage) {
    std::string trimmed;
    const char* written = WindowsName(name, trimmed);
    struct stat st {};
    // The common case costs one call: a path that exists as written is its own resolution.
    if (lstat(written, &st) == 0 || errno != ENOENT) {
        if (written == name) return name;
        storage = std::move(trimmed);
        return storage.c_str();
    }
    std::string resolved;
    if (!Resolve(written, resolved)) return nullptr;
    storage = std::move(resolved);
    return storage.c_str();
}

bool ReadFolder(const std::string& folder, std::vector<std::string>& names) {
    names.clear();
    DIR* dir = OpenFolder(folder);
    if (!dir) return false;
    struct Entry {
        NameKey key;
        std::string name;
    };
    std::vector<Entry> entries;
    bool dot = false, dotDot = false;
    while (const struct dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0) {
            dot = true;
        } else if (std::strcmp(entry->d_name, "..") == 0) {
            dotDot = true;
        } else {
            entries.push_back({MakeNameKey(entry->d_name), entry->d_name});
        }
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return ListsBefore(a.key, b.key); });
    if (dot) names.emplace_back(".");
    if (dotDot) names.emplace_back("..");
    for (Entry& e : entries) names.push_back(std::move(e.name));
    return true;
}

}  // namespace platform::posix
