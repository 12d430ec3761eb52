// One rebuild per repository at a time. Between the template's close and the worker's reopen
// the new database is closed, and a second run could set it aside; so a run holds the lock file
// beside the database (UserConfig.hdb.lock) from before it touches anything until it is done.
#pragma once

#include <cstdint>
#include <string>

namespace app {

std::string LockFilePath(const std::string& databasePath);

class RepositoryLock {
public:
    enum Result { Held, Busy, Unavailable };

    RepositoryLock() = default;
    ~RepositoryLock() { Release(); }
    RepositoryLock(const RepositoryLock&) = delete;
    RepositoryLock& operator=(const RepositoryLock&) = delete;

    // Held: this run has the repository to itself. Busy: another run holds it. Unavailable: no
    // lock file can be made there (error() says why); nothing can be written there either, so
    // the run goes on and fails on its own terms.
    Result Acquire(const std::string& databasePath);
    void Release();

    const std::string& path() const { return path_; }
    uint32_t error() const { return error_; }

private:
    intptr_t handle_ = 0;
    std::string path_;
    uint32_t error_ = 0;
};

}  // namespace app
