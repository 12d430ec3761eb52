// No journal file can be named yet, so journaling is always off and every append is a no-op.
#include "fileservice/change_journal.h"

int32_t JournalFileChanged(const char*) { return 0; }
int32_t JournalFileDeleted(const char*) { return 0; }
int32_t JournalFileRenamed(const char*, const char*) { return 0; }
int32_t JournalFolderCreated(const char*) { return 0; }
int32_t JournalFolderDeleted(const char*) { return 0; }
