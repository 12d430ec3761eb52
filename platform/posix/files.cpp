// Files on POSIX with Win32 semantics. Every open asks for share-read only; we emulate that with
// open-file-description locks: a read open holds a shared lock, a write open an exclusive one,
// and a conflict is the sharing violation. OFD locks belong to the open description, so two
// opens in one process conflict just as two processes do. The compatibility open shares reading
// and writing but not deleting or renaming, so it locks only a byte far beyond the share range:
// writers are not stopped, and the test for an opener sees it.
#include "platform/platform.h"
#include "platform/os.h"
#include "platform/posix/errors.h"
#include "platform/posix/names.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

thread_local uint32_t t_lastError = 0;

using posix::FdOf;
using posix::HandleOf;

// Linux moves at most this many bytes in one read or write call (MAX_RW_COUNT).
constexpr size_t kLongestRead = 0x7ffff000;

using posix::kPresenceByte;

bool TakeLock(int fd, short type, off_t start, off_t length) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = length;
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return stat(path.empty() ? "." : path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ReadOnlyByMode(const struct stat& st) { return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

// The common open, of a file that exists under the name as written, costs the open, a status
// query of the open file and its lock: no lookup of the name before. 0 with *refused false when
// the name as written opens nothing, so that the caller resolves it and reports what it finds;
// with *refused true the open failed for good (LastError set).
FileHandle OpenExistingForReading(const char* name, bool privileged, bool* refused) {
    std::string trimmed;
    const char* written = posix::WindowsName(name, trimmed);
    int fd;
    do {
        fd = open(written, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return 0;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        close(fd);
        return 0;
    }
    *refused = true;
    if (S_ISDIR(st.st_mode) && !privileged) {
        close(fd);
        posix::Fail(kErrorAccessDenied);  // a folder opens only with backup semantics
        return 0;
    }
    if (!posix::TakeShareLock(fd, false)) {
        close(fd);
        posix::Fail(kErrorSharingViolation);
        return 0;
    }
    return HandleOf(fd);
}

}  // namespace

namespace posix {

bool TakeShareLock(int fd, bool write) { return TakeLock(fd, write ? F_WRLCK : F_RDLCK, 0, kPresenceByte); }
bool TakePresenceLock(int fd) { return TakeLock(fd, F_RDLCK, kPresenceByte, 1); }
bool TakeSoleLock(int fd) { return TakeLock(fd, F_WRLCK, 0, 0); }

uint32_t ErrorFromErrno(int error, bool mustExist) {
    switch (error) {
        case ENOENT: return mustExist ? kErrorFileNotFound : kErrorPathNotFound;
        case ENOTDIR: return kErrorPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS: return kErrorAccessDenied;
        case EEXIST:
        case ENOTEMPTY: return kErrorAlreadyExists;
        case ENOSPC: return kErrorDiskFull;
        case EMFILE:
        case ENFILE: return kErrorTooManyOpenFiles;
        case EBUSY:
        case ETXTBSY: return kErrorSharingViolation;
        case ENOMEM: return kErrorNotEnoughMemory;
        case EINVAL: return kErrorInvalidParameter;
        case ENAMETOOLONG: return 206;  // ERROR_FILENAME_EXCED_RANGE
        case EXDEV: return 17;          // ERROR_NOT_SAME_DEVICE
        default: return kErrorGenFailure;
    }
}

bool FailWithErrno(bool mustExist) {
    t_lastError = ErrorFromErrno(errno, mustExist);
    return false;
}

bool FailWithErrnoFor(const char* name) {
    if (errno != ENOENT) return FailWithErrno();
    const char* slash = std::strrchr(name, '/');
    const std::string folder = slash ? std::string(name, static_cast<size_t>(slash - name) + 1) : std::string();
    return Fail(IsFolder(folder) ? kErrorFileNotFound : kErrorPathNotFound);
}

bool Fail(uint32_t error) {
    t_lastError = error;
    return false;
}

bool IsHeldOpen(const char* name) {
    int fd = open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // the share range and the compatibility byte
    bool held = fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    close(fd);
    return held;
}

bool IsHeldForWriting(const char* name) {
    const int fd = open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    // Only a writer's exclusive share lock refuses a reader's shared one.
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = kPresenceByte;
    const bool held = fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    close(fd);
    return held;
}

}  // namespace posix

uint32_t LastError() { return t_lastError; }
uint32_t NameCodePage() { return kCodePageUtf8; }
void SetLastError(uint32_t error) { t_lastError = error; }

void ReleaseLockFile(FileHandle lock, const char* name) {
    if (lock == 0) return;
    // Removed while still held, so nobody can claim the old file after it is gone.
    unlink(name);
    close(FdOf(lock));
}

namespace os {

FileHandle OpenFile(const char* name, FileAccess access, FileCreation creation, bool privileged) {
    if (access == FileAccess::Read && creation == FileCreation::OpenExisting) {
        bool refused = false;
        if (const FileHandle opened = OpenExistingForReading(name, privileged, &refused); opened || refused)
            return opened;
    }
    std::string storage;
    name = posix::ResolveName(name, storage);
    if (!name) return 0;
    const bool write = access == FileAccess::ReadWrite;
    struct stat st {};
    const bool exists = stat(name, &st) == 0;
    const bool folder = exists && S_ISDIR(st.st_mode);
    if (folder && !privileged) {
        posix::Fail(kErrorAccessDenied);  // a folder opens only with backup semantics
        return 0;
    }
    if (folder && creation == FileCreation::CreateAlways) {
        posix::Fail(kErrorFileExists);  // a folder is never replaced by a file
        return 0;
    }
    if (exists && creation == FileCreation::CreateNew) {
        posix::Fail(kErrorFileExists);
        return 0;
    }
    if (exists && !folder && write && ReadOnlyByMode(st)) {
        posix::Fail(kErrorAccessDenied);  // read-only attribute, refused even to administrators
        return 0;
    }
    // A folder handle serves queries only; it is opened for reading whatever the access asked.
    int flags = (write && !folder ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    if (creation != FileCreation::OpenExisting) flags |= O_CREAT;
    if (creation == FileCreation::CreateNew) flags |= O_EXCL;  // the name may appear after the stat
    int fd;
    do {
        fd = open(name, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == EEXIST) posix::Fail(kErrorFileExists);
        else posix::FailWithErrnoFor(name);
        return 0;
    }
    if (!posix::TakeShareLock(fd, write && !folder)) {
        close(fd);
        posix::Fail(kErrorSharingViolation);
        return 0;
    }
    // Truncate only once the file is ours: a file someone else holds must stay whole.
    if (creation == FileCreation::CreateAlways && ftruncate(fd, 0) != 0) {
        posix::FailWithErrno();
        close(fd);
        return 0;
    }
    return HandleOf(fd);
}

FileHandle OpenFileCompat(const char* name) {
    std::string storage;
    name = posix::ResolveName(name, storage);
    if (!name) return 0;
    int fd = open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        posix::FailWithErrnoFor(name);
        return 0;
    }
    // Marks the file as open without stopping readers or writers (see the top of this file).
    posix::TakePresenceLock(fd);
    return HandleOf(fd);
}

bool ReadFile(FileHandle file, void* buffer, uint32_t count, uint32_t* done) {
    char* out = static_cast<char*>(buffer);
    // A short read of a file is its end, as on Windows: no second call to be told so. Only a
    // transfer that the system cut at its own limit for one call goes on.
    while (*done < count) {
        ssize_t n = read(FdOf(file), out + *done, count - *done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return posix::FailWithErrno();
        }
        *done += static_cast<uint32_t>(n);
        if (static_cast<size_t>(n) < kLongestRead) break;
    }
    return true;
}

bool WriteFile(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) {
    const char* in = static_cast<const char*>(buffer);
    while (*done < count) {
        ssize_t n = write(FdOf(file), in + *done, count - *done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return posix::FailWithErrno();
        }
        *done += static_cast<uint32_t>(n);
    }
    return true;
}

bool SeekFile(FileHandle file, int64_t offset, SeekOrigin origin, uint64_t* newPosition) {
    int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
    off_t at = lseek(FdOf(file), static_cast<off_t>(offset), whence);
    if (at < 0) return posix::Fail(errno == EINVAL ? kErrorNegativeSeek : posix::ErrorFromErrno(errno, true));
    if (newPosition) *newPosition = static_cast<uint64_t>(at);
    return true;
}

bool FlushFile(FileHandle file) {
    if (fsync(FdOf(file)) != 0) return posix::FailWithErrno();
    return true;
}

bool CloseFile(FileHandle file) {
    if (close(FdOf(file)) != 0) return posix::FailWithErrno();
    return true;
}

bool DeleteFile(const char* name) {
    posix::ResolvedName file;
    if (!file.Resolve(name)) return false;
    if (!file.exists()) return file.FailMissing();
    if (file.IsFolder()) return posix::Fail(kErrorAccessDenied);
    if (!file.IsLink() && ReadOnlyByMode(file.status())) return posix::Fail(kErrorAccessDenied);
    if (file.HeldOpen()) return posix::Fail(kErrorSharingViolation);
    if (unlink(file.path()) != 0) return posix::FailWithErrnoFor(file.path());
    return true;
}

bool MoveFile(const char* source, const char* target) {
    posix::ResolvedName from;
    std::string targetStorage;
    if (!from.Resolve(source)) return false;
    target = posix::ResolveName(target, targetStorage);
    if (!target) return false;
    source = from.path();
    if (!from.exists()) return from.FailMissing();
    // A target that is the source itself, also in other letter case, leaves the file as it is
    // and succeeds, as Wine does.
    if (std::strcmp(source, target) == 0) return true;
    if (from.IsPlainFile() && from.HeldOpen()) return posix::Fail(kErrorSharingViolation);
    if (renameat2(AT_FDCWD, source, AT_FDCWD, target, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) {
        if (errno == EEXIST) return posix::Fail(kErrorAlreadyExists);
        return posix::FailWithErrnoFor(target);
    }
    // The file system cannot rename without replacing: link and unlink keep "never replace"
    // exact for files; folders fall back to a test before the rename.
    if (!from.IsFolder()) {
        if (link(source, target) != 0) {
            if (errno == EEXIST) return posix::Fail(kErrorAlreadyExists);
            return posix::FailWithErrnoFor(target);
        }
        unlink(source);
        return true;
    }
    struct stat targetStat {};
    if (lstat(target, &targetStat) == 0) return posix::Fail(kErrorAlreadyExists);
    if (rename(source, target) != 0) return posix::FailWithErrnoFor(target);
    return true;
}

bool SetFileAttributesNormal(const char* name) {
    std::string storage;
    name = posix::ResolveName(name, storage);
    if (!name) return false;
    struct stat st {};
    if (stat(name, &st) != 0) return posix::FailWithErrnoFor(name);
    if (!ReadOnlyByMode(st)) return true;
    if (chmod(name, st.st_mode | S_IWUSR) != 0) return posix::FailWithErrno();
    return true;
}

FileHandle AcquireLockFile(const char* name) {
    // The holder removes the file before it lets go, so a claim may land on a file that is no
    // longer the one under the name: then it takes the name's new file instead.
    for (;;) {
        int fd;
        do {
            fd = open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            posix::FailWithErrnoFor(name);
            return 0;
        }
        if (!TakeLock(fd, F_WRLCK, 0, 0)) {
            const int error = errno;
            close(fd);
            if (error == EAGAIN || error == EACCES) posix::Fail(kErrorSharingViolation);
            else posix::Fail(posix::ErrorFromErrno(error, true));
            return 0;
        }
        struct stat held {}, named {};
        if (fstat(fd, &held) == 0 && stat(name, &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino)
            return HandleOf(fd);
        close(fd);
    }
}

bool SetFileReadOnly(const char* name) {
    std::string storage;
    name = posix::ResolveName(name, storage);
    if (!name) return false;
    struct stat st {};
    if (stat(name, &st) != 0) return posix::FailWithErrnoFor(name);
    if (chmod(name, st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) != 0) return posix::FailWithErrno();
    return true;
}

}  // namespace os
}  // namespace platform
