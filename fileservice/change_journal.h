// The change journal: an append-only text file naming every file-system change the file
// service makes. Off until a journal file is named; while off every append returns at once.
#pragma once

#include <cstdint>

int32_t JournalFileChanged(const char* name);
int32_t JournalFileDeleted(const char* name);
int32_t JournalFileRenamed(const char* newName, const char* oldName);
int32_t JournalFolderCreated(const char* path);
int32_t JournalFolderDeleted(const char* path);
