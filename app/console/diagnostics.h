// The console's own lines on standard error: what failed, on which file, and the system's
// reason; why nothing was imported; what each lost entry lacks. Every line starts "pellucor: ".
#pragma once

#include <cstdint>
#include <string>

#include "app/rebuild_run.h"

namespace fileservice {
class FileService;
}  // namespace fileservice

namespace app {

class RepositoryLock;

// "access denied (system error 5)".
std::string SystemReason(uint32_t error);

// Why the old database was not set aside (nothing was changed).
std::string SetAsideFailureLine(const RunReport& report, const std::string& repositoryPath,
                                fileservice::FileService& files);
// Why the new database could not be created, with what the repository path turned out to be
// when that is the cause (missing, not a folder).
std::string CreateFailureLine(const RunReport& report, const std::string& repositoryPath,
                              fileservice::FileService& files);
// Why the new database could not be written whole to the disk.
std::string WriteFailureLine(const RunReport& report);
// Why the users folder gave no users or not all of them; empty when it was listed whole (an
// empty folder included).
std::string UsersFolderLine(const RunReport& report, const std::string& usersFolder, fileservice::FileService& files);
// Why the entry `name` has no account in the new database. `lost`: the import wrote it, but it
// is not there.
std::string EntryLossLine(const UsersEntry& entry, bool lost);
// Another run holds the repository.
std::string BusyLine(const std::string& repositoryPath, const std::string& lockPath);

// What is at `path`: 1 a folder, 0 something else, -1 nothing (or it cannot be told).
int32_t PathKind(fileservice::FileService& files, const std::string& path);

}  // namespace app
