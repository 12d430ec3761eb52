#include "app/repository_lock.h"

#include "platform/platform.h"

namespace app {

std::string LockFilePath(const std::string& databasePath) { return databasePath + ".lock"; }

RepositoryLock::Result RepositoryLock::Acquire(const std::string& databasePath) {
    Release();
    path_ = LockFilePath(databasePath);
    handle_ = platform::AcquireLockFile(path_.c_str());
    if (handle_ != 0) return Held;
    error_ = platform::LastError();
    return error_ == platform::kErrorSharingViolation ? Busy : Unavailable;
}

void RepositoryLock::Release() {
    if (handle_ == 0) return;
    platform::ReleaseLockFile(handle_, path_.c_str());
    handle_ = 0;
}

}  // namespace app
