#include "hdb/engine_file_service.h"

#include <cstdint>

#include "fileservice/file_service.h"
#include "support/spin_lock.h"

using support::AcquireSpinLock;
using support::ReleaseSpinLock;
using support::SpinLockWord;
using fileservice::FileService;

namespace hdb {

namespace {

FileService* g_fileService = nullptr;
int32_t g_managerCount = 0;  // under g_fileServiceLock
SpinLockWord g_fileServiceLock = 0;  // the count and the shared file service change together

}  // namespace

FileService& DatabaseFileService() {
    AcquireSpinLock(&g_fileServiceLock);
    if (!g_fileService) g_fileService = new FileService;  // a caller without a manager
    FileService& fs = *g_fileService;
    ReleaseSpinLock(&g_fileServiceLock);
    return fs;
}

// Managers made and destroyed on several threads at once: the first makes the shared file
// service and the last deletes it, decided under one lock so that none is made twice or kept.
void AcquireDatabaseFileService() {
    AcquireSpinLock(&g_fileServiceLock);
    if (g_managerCount == 0 && !g_fileService) g_fileService = new FileService;
    ++g_managerCount;
    ReleaseSpinLock(&g_fileServiceLock);
}

void ReleaseDatabaseFileService() {
    AcquireSpinLock(&g_fileServiceLock);
    if (--g_managerCount == 0) {
        delete g_fileService;
        g_fileService = nullptr;
    }
    ReleaseSpinLock(&g_fileServiceLock);
}

}  // namespace hdb
