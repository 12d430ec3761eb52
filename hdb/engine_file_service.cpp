#include "hdb/engine_file_service.h"

#include <cstdint>

#include <string>

#include "fileservice/file_service.h"
#include "platform/platform.h"
#include "support/path_helpers.h"
#include "support/spin_lock.h"

using support::AcquireSpinLock;
using support::LastSeparator;
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

bool FlushFolderOf(const char* path) {
    std::string folder = path;
    char* cut = LastSeparator(folder.data());
    if (!cut) folder.clear();
    else if (cut == folder.data()) folder.resize(1);  // the root itself
    else folder.resize(static_cast<size_t>(cut - folder.data()));
    return platform::FlushFolder(folder.c_str());
}

}  // namespace hdb
