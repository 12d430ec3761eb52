// The file service through which the engine does all its input and output: one for the
// process, made by the first DatabaseManager and deleted by the last.
#pragma once

namespace fileservice {
class FileService;
}  // namespace fileservice

namespace hdb {

fileservice::FileService& DatabaseFileService();

// A manager's share of the file service: the first acquire makes it, the last release deletes it.
void AcquireDatabaseFileService();
void ReleaseDatabaseFileService();

}  // namespace hdb
