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

// Makes the entries of the folder that holds `path` durable: a file made, renamed or deleted
// there survives a power cut only after this. False when the system says it could not.
bool FlushFolderOf(const char* path);

}  // namespace hdb
