#include "hdb/database_record.h"

#include "platform/platform.h"

namespace hdb {

void* AllocateForAnswer(DatabaseRecord& db, size_t size) {
    void* memory = platform::Allocate(size);
    if (!memory) db.memoryFailed = 1;
    return memory;
}

void LockDatabase(DatabaseRecord& db) { support::AcquireSpinLock(&db.lockWord); }
void UnlockDatabase(DatabaseRecord& db) { support::ReleaseSpinLock(&db.lockWord); }

}  // namespace hdb
