// Whole-file operations on POSIX with Win32 results: copying (the share rules of both files
// respected, no partial copy left behind), replacing renames, attributes and file times.
#include "platform/platform.h"
#include "platform/os.h"
#include "platform/posix/errors.h"
#include "platform/posix/names.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace posix {

uint32_t AttributesOf(bool folder, bool writable, bool link, const char* leafName) {
    uint32_t attributes = folder ? kAttributeDirectory : kAttributeArchive;
    if (!writable) attributes |= kAttributeReadOnly;
    if (link) attributes |= kAttributeReparsePoint;
    if (leafName[0] == '.' && std::strcmp(leafName, ".") != 0 && std::strcmp(leafName, "..") != 0)
        attributes |= kAttributeHidden;
    return attributes;
}

}  // namespace posix

namespace {

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr uint32_t kErrorDirectory = 267;  // ERROR_DIRECTORY: the name is not a folder

const char* LeafOf(const char* name) {
    const char* slash = std::strrchr(name, '/');
    return slash ? slash + 1 : name;
}

timespec TimespecOf(uint64_t fileTime) {
    constexpr uint64_t kTicksPerSecond = 10000000;
    constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
    timespec t{};
    t.tv_sec = static_cast<time_t>(static_cast<int64_t>(fileTime / kTicksPerSecond) - kSecondsFrom1601To1970);
    t.tv_nsec = static_cast<long>(fileTime % kTicksPerSecond) * 100;
    return t;
}

// Writes `count` bytes whole; false on an error (errno set).
bool WriteAll(int fd, const char* data, size_t count) {
    while (count > 0) {
        const ssize_t n = write(fd, data, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

// Copies the bytes of `from` in [at, end) to the same place in `to`, as far as the source
// reaches. False on an error (errno set); *done is where the copy stopped.
bool CopyRange(int from, int to, uint64_t at, uint64_t end, uint64_t* done) {
    static thread_local char buffer[1 << 16];
    *done = at;
    if (lseek(to, static_cast<off_t>(at), SEEK_SET) < 0) return false;
    while (*done < end) {
        const uint64_t left = end - *done;
        const size_t want = left < sizeof buffer ? static_cast<size_t>(left) : sizeof buffer;
        const ssize_t n = pread(from, buffer, want, static_cast<off_t>(*done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        if (!WriteAll(to, buffer, static_cast<size_t>(n))) return false;
        *done += static_cast<uint64_t>(n);
    }
    return true;
}

// The next stretch of `fd` at or after `at` that holds data, cut off at `stop`; false when only
// a hole is left. Where the file system cannot tell holes from data, the rest is one stretch.
bool NextDataStretch(int fd, uint64_t at, uint64_t stop, uint64_t* first, uint64_t* end) {
    const off_t data = lseek(fd, static_cast<off_t>(at), SEEK_DATA);
    if (data < 0) {
        if (errno == ENXIO) return false;
        *first = at;
        *end = stop;
        return true;
    }
    const off_t hole = lseek(fd, data, SEEK_HOLE);
    *first = std::min<uint64_t>(static_cast<uint64_t>(data), stop);
    *end = hole < 0 ? stop : std::min<uint64_t>(static_cast<uint64_t>(hole), stop);
    return *first < *end;
}

// Copies the bytes of `from` (`size` bytes long when the copy began) to `to`, at most `limit`
// of them. Holes in the source stay holes in the target: only the stretches that hold data are
// read and written. A database whose damaged header counts far more blocks than it holds grows
// a hole of gigabytes at its first new block, and its mirror must not cost that much reading,
// writing and disk. What a writer adds while the copy runs is copied as it stands. False on an
// error (errno set).
bool CopyBytes(int from, int to, uint64_t size, uint64_t limit) {
    const uint64_t stop = std::min(size, limit);
    uint64_t first = 0, end = 0, done = 0;
    for (uint64_t at = 0; at < stop && NextDataStretch(from, at, stop, &first, &end); at = end) {
        if (!CopyRange(from, to, first, end, &done)) return false;
        if (done < end) break;  // the source got shorter meanwhile
    }
    // The target takes the source's length, also where that ends in a hole, but no more than
    // the source still has.
    struct stat now {};
    if (fstat(from, &now) != 0) return false;
    if (ftruncate(to, static_cast<off_t>(std::min<uint64_t>(stop, static_cast<uint64_t>(now.st_size)))) != 0)
        return false;
    return limit <= size || CopyRange(from, to, size, limit, &done);
}

// Opens the source of a copy sharing reading and writing, as the system's copy does: a file
// that a writer holds can be copied, but not deleted or renamed during the copy.
int OpenCopySource(const char* source, struct stat* st) {
    const int fd = open(source, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        posix::FailWithErrnoFor(source);
        return -1;
    }
    if (fstat(fd, st) != 0 || S_ISDIR(st->st_mode)) {
        close(fd);
        posix::Fail(kErrorAccessDenied);
        return -1;
    }
    posix::TakePresenceLock(fd);
    return fd;
}

// Opens the target of a copy sharing nothing (so never the copy's own source), without emptying
// it until it is ours.
int OpenCopyTarget(const char* target) {
    struct stat st {};
    if (stat(target, &st) == 0 && (S_ISDIR(st.st_mode) || (st.st_mode & kWriteBits) == 0)) {
        posix::Fail(kErrorAccessDenied);
        return -1;
    }
    const int fd = open(target, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        posix::FailWithErrnoFor(target);
        return -1;
    }
    if (!posix::TakeSoleLock(fd)) {
        close(fd);
        posix::Fail(kErrorSharingViolation);
        return -1;
    }
    if (ftruncate(fd, 0) != 0) {
        posix::FailWithErrno();
        close(fd);
        return -1;
    }
    return fd;
}

// Opens `path` for the moment and writes what the system holds of it through to the disk.
bool FlushPath(const char* path, int flags) {
    const int fd = open(path, flags);
    if (fd < 0) return posix::FailWithErrnoFor(path);
    const bool flushed = fsync(fd) == 0;
    if (!flushed) posix::FailWithErrno();
    close(fd);
    return flushed;
}

}  // namespace

namespace os {

bool CopyFile(const char* source, const char* target, const CopyBreak* breakOff) {
    std::string sourceStorage, targetStorage;
    source = posix::ResolveName(source, sourceStorage);
    if (!source) return false;
    target = posix::ResolveName(target, targetStorage);
    if (!target) return false;

    struct stat st {};
    const int from = OpenCopySource(source, &st);
    if (from < 0) return false;
    const int to = OpenCopyTarget(target);
    if (to < 0) {
        close(from);
        return false;
    }
    const uint64_t limit = breakOff ? breakOff->bytes : UINT64_MAX;
    bool copied = CopyBytes(from, to, static_cast<uint64_t>(st.st_size), limit);
    uint32_t error = copied ? 0 : posix::ErrorFromErrno(errno, true);
    if (copied && breakOff) {
        copied = false;
        error = breakOff->error;
    }
    if (copied) {
        // The copy keeps the source's last-write time and its read-only attribute.
        const timespec times[2] = {{0, UTIME_NOW}, st.st_mtim};
        futimens(to, times);
        fchmod(to, st.st_mode & 07777);
    }
    if (close(to) != 0 && copied) {
        copied = false;
        error = posix::ErrorFromErrno(errno, true);
    }
    close(from);
    if (!copied) {
        unlink(target);  // a broken-off copy must not pass for a whole one
        return posix::Fail(error);
    }
    return true;
}

bool ReplaceFile(const char* source, const char* target) {
    posix::ResolvedName from, to;
    if (!from.Resolve(source) || !to.Resolve(target)) return false;
    if (!from.exists()) return from.FailMissing();
    if (from.IsPlainFile() && from.HeldOpen()) return posix::Fail(kErrorSharingViolation);
    // A read-only target is replaced as well; one that someone holds open, or a folder, is not.
    if (to.IsFolder() || (to.IsPlainFile() && to.HeldOpen())) return posix::Fail(kErrorAccessDenied);
    if (rename(from.path(), to.path()) != 0) return posix::FailWithErrnoFor(to.path());
    return true;
}

bool FlushNamedFile(const char* name) {
    std::string storage;
    name = posix::ResolveName(name, storage);
    if (!name) return false;
    return FlushPath(name, O_RDONLY | O_CLOEXEC);
}

}  // namespace os

bool HeldForWriting(const char* name) {
    posix::ResolvedName file;
    return file.Resolve(name) && file.HeldForWriting();
}

bool HeldByAnyone(const char* name) {
    posix::ResolvedName file;
    return file.Resolve(name) && file.HeldOpen();
}

namespace os {

uint32_t GetFileAttributes(const char* name) {
    posix::ResolvedName file;
    if (!file.Resolve(name)) return kInvalidAttributes;
    if (!file.exists()) {
        file.FailMissing();
        return kInvalidAttributes;
    }
    struct stat st {};
    if (!file.IsLink() || stat(file.path(), &st) != 0) st = file.status();
    return posix::AttributesOf(S_ISDIR(st.st_mode), (st.st_mode & kWriteBits) != 0, file.IsLink(), LeafOf(file.path()));
}

bool SetFileAttributes(const char* name, uint32_t attributes) {
    std::string storage;
    name = posix::ResolveName(name, storage);
    if (!name) return false;
    struct stat st {};
    if (stat(name, &st) != 0) return posix::FailWithErrnoFor(name);
    // A folder without write permission could not take new entries, which its read-only
    // attribute does not mean on Windows; folders keep their permissions.
    if (S_ISDIR(st.st_mode)) return true;
    const bool readOnly = (attributes & kAttributeReadOnly) != 0;
    const mode_t mode = readOnly ? st.st_mode & ~kWriteBits : ((st.st_mode & kWriteBits) ? st.st_mode : st.st_mode | S_IWUSR);
    if (mode != st.st_mode && chmod(name, mode & 07777) != 0) return posix::FailWithErrno();
    return true;
}

bool SetFileTimes(FileHandle file, const uint64_t* creation, const uint64_t* access, const uint64_t* write) {
    (void)creation;  // no creation time to set here
    timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
    if (access) times[0] = TimespecOf(*access);
    if (write) times[1] = TimespecOf(*write);
    if (futimens(posix::FdOf(file), times) != 0) return posix::FailWithErrno();
    return true;
}

bool CreateFolder(const char* name) {
    std::string storage;
    name = posix::ResolveName(name, storage);
    if (!name) return false;
    if (mkdir(name, 0777) == 0) return true;
    if (errno == ENOENT || errno == ENOTDIR) return posix::Fail(kErrorPathNotFound);
    return posix::FailWithErrno();
}

bool RemoveFolder(const char* name) {
    posix::ResolvedName folder;
    if (!folder.Resolve(name)) return false;
    if (!folder.exists()) return folder.FailMissing();
    if (folder.IsLink()) {
        // A link to a folder goes as the link; its target and what lies in it stay.
        struct stat st {};
        if (stat(folder.path(), &st) != 0 || !S_ISDIR(st.st_mode)) return posix::Fail(kErrorDirectory);
        if (unlink(folder.path()) != 0) return posix::FailWithErrno();
        return true;
    }
    if (!folder.IsFolder()) return posix::Fail(kErrorDirectory);
    if (rmdir(folder.path()) == 0) return true;
    if (errno == ENOTEMPTY || errno == EEXIST) return posix::Fail(145);  // ERROR_DIR_NOT_EMPTY
    if (errno == EBUSY) return posix::Fail(kErrorSharingViolation);
    return posix::FailWithErrno();
}

bool FlushFolder(const char* folder) {
    std::string storage;
    folder = posix::ResolveName(folder, storage);
    if (!folder) return false;
    return FlushPath(*folder ? folder : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

}  // namespace os
bool FullPathName(const char* name, char* out, size_t size) {
    if (!name || !*name || size == 0) return false;
    std::string full;
    if (name[0] == '/') {
        full = name;
    } else {
        char here[4096];
        if (!::getcwd(here, sizeof here)) return false;
        full = here;
        if (full.back() != '/') full += '/';
        full += name;
    }
    if (full.size() >= size) return false;
    std::memcpy(out, full.c_str(), full.size() + 1);
    return true;
}

bool TempFolder(char* out, size_t size) {
    std::string folder = "/tmp";
    for (const char* variable : {"TMPDIR", "TMP", "TEMP", "TEMPDIR"}) {
        if (const char* value = std::getenv(variable); value && *value) {
            folder = value;
            break;
        }
    }
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder.size() >= size) return false;
    std::memcpy(out, folder.c_str(), folder.size() + 1);
    return true;
}

}  // namespace platform
