// Case-free names on a case-sensitive file system, resolved as Wine resolves them: the name as
// written when it exists, else a case-free match from the folder's listing. One function, so
// that every operation that takes a name finds the same file.
#include "platform/posix/names.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

#include "platform/name_order.h"
#include "platform/os.h"
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
    if (!seam::FindCaseFree(folder, element.c_str(), match)) return false;
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

std::string MatchElement(const std::string& folder, const std::string& element) {
    const std::string separated = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    if (element.empty() || IsDotName(element.c_str()) || ExistsAsWritten(separated + element)) return element;
    std::string match;
    if (!os::FindCaseFree(separated, element.c_str(), match)) return std::string();
    return match;
}

bool ResolvedName::Resolve(const char* name) {
    path_ = ResolveName(name, storage_);
    if (!path_) return false;
    exists_ = lstat(path_, &status_) == 0;
    error_ = exists_ ? 0 : errno;
    return true;
}

bool ResolvedName::FailMissing() const {
    errno = error_;
    return FailWithErrnoFor(path_);
}

bool ResolvedName::HeldOpen() const { return IsHeldOpen(path_); }
bool ResolvedName::HeldForWriting() const { return IsHeldForWriting(path_); }

bool ReadFolder(const std::string& folder, std::vector<std::string>& names, std::vector<unsigned char>* types) {
    names.clear();
    if (types) types->clear();
    DIR* dir = OpenFolder(folder);
    if (!dir) return false;
    // A folder of many thousand entries is sorted here at every listing: the names and their
    // code units lie in two pools, so an entry costs no allocation of its own. Each entry's
    // units are followed by their upper-case forms.
    struct Entry {
        uint32_t name;   // offset of the name in `text`
        uint32_t units;  // offset of its units in `pool`
        uint32_t count;  // units in the name
        unsigned char type;
    };
    std::vector<Entry> entries;
    std::string text;
    std::vector<uint32_t> pool;
    bool dot = false, dotDot = false;
    while (const struct dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0) {
            dot = true;
        } else if (std::strcmp(entry->d_name, "..") == 0) {
            dotDot = true;
        } else {
            Entry e{static_cast<uint32_t>(text.size()), static_cast<uint32_t>(pool.size()), 0, entry->d_type};
            text.append(entry->d_name).push_back('\0');
            NameUnits(entry->d_name, pool);
            e.count = static_cast<uint32_t>(pool.size()) - e.units;
            for (uint32_t i = 0; i < e.count; ++i) pool.push_back(UpcaseUnit(pool[e.units + i]));
            entries.push_back(e);
        }
    }
    closedir(dir);
    const uint32_t* units = pool.data();
    // Folded units first, the units themselves between names equal but for case (ListsBefore).
    auto compare = [](const uint32_t* a, uint32_t na, const uint32_t* b, uint32_t nb) {
        const uint32_t n = na < nb ? na : nb;
        for (uint32_t i = 0; i < n; ++i)
            if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
        return na == nb ? 0 : na < nb ? -1 : 1;
    };
    std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        const int folded = compare(units + a.units + a.count, a.count, units + b.units + b.count, b.count);
        return folded != 0 ? folded < 0 : compare(units + a.units, a.count, units + b.units, b.count) < 0;
    });
    names.reserve(entries.size() + 2);
    if (dot) names.emplace_back(".");
    if (dotDot) names.emplace_back("..");
    for (const Entry& e : entries) names.emplace_back(text.data() + e.name);
    if (types) {
        types->reserve(names.size());
        types->assign(names.size() - entries.size(), DT_DIR);
        for (const Entry& e : entries) types->push_back(e.type);
    }
    return true;
}

}  // namespace platform::posix

namespace platform::os {

bool FindCaseFree(const std::string& folder, const char* element, std::string& match) {
    match.clear();
    DIR* dir = posix::OpenFolder(folder);
    if (!dir) {
        // A folder that is not there holds nothing; any other failure says nothing.
        const uint32_t error = LastError();
        return error == kErrorPathNotFound || error == kErrorInvalidName;
    }
    const NameKey wanted = MakeNameKey(element);
    NameKey best;
    while (const struct dirent* entry = readdir(dir)) {
        if (posix::IsDotName(entry->d_name)) continue;
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

}  // namespace platform::os
