// The change journal: an append-only text file naming every file-system change the file
// service makes. Off until a journal file is named; while off every append returns at once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fileservice {

// The journal's path is held in a buffer of this size; a longer path is refused.
constexpr size_t kJournalPathSize = 570;
// A line is composed in a buffer of this size; a longer line is written in pieces, still whole.
constexpr size_t kJournalLineSize = 1596;

// Each appends its one line when journaling is on (FileService::SetJournalFile) and returns 0.

int32_t JournalFileChanged(const char* name);
int32_t JournalFileDeleted(const char* name);
int32_t JournalFileRenamed(const char* newName, const char* oldName);
int32_t JournalFolderCreated(const char* path);
int32_t JournalFolderDeleted(const char* path);

}  // namespace fileservice
