// Names on POSIX as Windows reads them: trailing dots dropped, letter case free. Every POSIX
// operation that takes a name passes it through ResolveName before it asks the system.
#pragma once

#include <string>
#include <sys/stat.h>
#include <vector>

namespace platform::posix {

// `name` as Windows reads it: trailing dots and blanks of the last element are dropped
// ("readme." is "readme"). Returns `name` itself when nothing is dropped, else storage's text.
const char* WindowsName(const char* name, std::string& storage);

// The path to hand to the system for `name`, found as Windows finds names on a case-free
// volume, element by element: an element that exists as written is taken; otherwise the first
// entry of its folder, in listing order, that matches it case-free. An element that matches
// nothing is kept as written, and so is the rest of the path after it, so a new file is created
// with the case given. Trailing dots are dropped first (WindowsName).
// Returns `name` itself or storage's text. Null, with LastError set, when a folder on the way
// cannot be read: nobody can tell then whether the name exists, and a failure must never read
// as "not found". Each folder read counts as a FolderRead call for fault injection.
const char* ResolveName(const char* name, std::string& storage);

// The entry of `folder` that `element` names, by the rule ResolveName applies to each element:
// the element itself when it exists as written, else the first entry in listing order that
// matches it case-free; empty when none does or the folder cannot be read. The folder read is
// not a counted call: this serves paths that are not a caller's name (the Wine prefix's drives).
std::string MatchElement(const std::string& folder, const std::string& element);

// The prologue of every call that acts on an existing name: the name resolved case-free
// (ResolveName), what lstat says of it, and whether someone holds it open.
class ResolvedName {
public:
    ResolvedName() = default;
    ResolvedName(const ResolvedName&) = delete;
    ResolvedName& operator=(const ResolvedName&) = delete;

    // False, with LastError set, when a folder on the way cannot be read (ResolveName).
    bool Resolve(const char* name);

    const char* path() const { return path_; }
    // Whether lstat found the name; status() is what it said.
    bool exists() const { return exists_; }
    const struct stat& status() const { return status_; }
    bool IsFolder() const { return exists_ && S_ISDIR(status_.st_mode); }
    bool IsPlainFile() const { return exists_ && S_ISREG(status_.st_mode); }
    bool IsLink() const { return exists_ && S_ISLNK(status_.st_mode); }
    // Fails the call for a name that lstat did not find, with the error Windows gives for it.
    bool FailMissing() const;
    // Whether another opener holds it through OpenFile or OpenFileCompat (IsHeldOpen), and
    // whether one holds it for writing (which refuses an open for reading).
    bool HeldOpen() const;
    bool HeldForWriting() const;

private:
    std::string storage_;
    const char* path_ = nullptr;
    struct stat status_ {};
    bool exists_ = false;
    int error_ = 0;  // lstat's errno when it did not find the name
};

// The names in `folder` ("" for the current folder) in the order a Windows listing gives them:
// "." and ".." first, then sorted as platform/name_order.h sorts. False, with LastError set, when
// the folder cannot be read, with the error FindFirstFileA gives for a listing of it (3 when it
// does not exist, 123 when it is a file, 5 when access is denied).
// With `types`, each name's type as the listing gives it (a dirent d_type: DT_DIR, DT_REG, DT_LNK,
// or DT_UNKNOWN where the file system does not say), in the same order.
bool ReadFolder(const std::string& folder, std::vector<std::string>& names,
                std::vector<unsigned char>* types = nullptr);

}  // namespace platform::posix
