// Volumes on Win32. The extended free-space call, the network library's universal-name call and
// the mount-point calls are bound at run time, so that the program still starts on systems that
// lack them.
#include "platform/volumes.h"
#include "platform/win32/win32.h"
#include "platform/os.h"

#include <winnetwk.h>

#include <cstring>

namespace platform {
namespace {

using DiskFreeSpaceExCall = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
using UniversalNameCall = DWORD(WINAPI*)(LPCSTR, DWORD, LPVOID, LPDWORD);

// Looked up once: "not looked up yet" until the first space query, then the entry or none.
volatile LONG g_spaceCallLooked = 0;
DiskFreeSpaceExCall g_diskFreeSpaceEx = nullptr;

// Looked up on first need and kept; a failed lookup is tried again next time.
HMODULE g_networkLibrary = nullptr;
UniversalNameCall g_universalName = nullptr;

DiskFreeSpaceExCall ExtendedSpaceCall() {
    if (::InterlockedCompareExchange(&g_spaceCallLooked, 0, 0) == 0) {
        if (HMODULE kernel = ::GetModuleHandleA("kernel32.dll"))
            g_diskFreeSpaceEx = reinterpret_cast<DiskFreeSpaceExCall>(
                reinterpret_cast<void*>(::GetProcAddress(kernel, "GetDiskFreeSpaceExA")));
        ::InterlockedExchange(&g_spaceCallLooked, 1);
    }
    return g_diskFreeSpaceEx;
}

UniversalNameCall BoundUniversalNameCall() {
    if (!g_universalName) {
        if (!g_networkLibrary) g_networkLibrary = ::LoadLibraryA("mpr.dll");
        if (g_networkLibrary)
            g_universalName = reinterpret_cast<UniversalNameCall>(
                reinterpret_cast<void*>(::GetProcAddress(g_networkLibrary, "WNetGetUniversalNameA")));
    }
    return g_universalName;
}

// Calls one kernel entry point found at run time with the library loaded for the call only.
template <typename Call, typename... Args>
int32_t CallKernel(const char* entry, Args... args) {
    HMODULE kernel = ::LoadLibraryA("Kernel32.dll");
    if (!kernel) return 0;
    auto call = reinterpret_cast<Call>(reinterpret_cast<void*>(::GetProcAddress(kernel, entry)));
    const int32_t result = call ? static_cast<int32_t>(call(args...)) : 0;
    ::FreeLibrary(kernel);
    return result;
}

}  // namespace

bool os::DiskSpace(const char* root, uint64_t* freeOut, uint64_t* totalOut) {
    if (DiskFreeSpaceExCall call = ExtendedSpaceCall()) {
        ULARGE_INTEGER available, total, totalFree;
        if (!call(root, &available, &total, &totalFree)) return false;
        // The volume's free bytes, not the share of them this caller may use.
        *freeOut = totalFree.QuadPart;
        *totalOut = total.QuadPart;
        return true;
    }
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (!::GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters)) return false;
    const uint64_t cluster = static_cast<uint64_t>(sectorsPerCluster) * bytesPerSector;
    *freeOut = cluster * freeClusters;
    *totalOut = cluster * totalClusters;
    return true;
}

uint32_t LogicalDrives() { return ::GetLogicalDrives(); }

uint32_t DriveType(const char* root) { return ::GetDriveTypeA(root); }

bool VolumeInformation(const char* root, char* label, uint32_t labelSize, uint32_t* serialNumber,
                       uint32_t* fileSystemFlags, char* fileSystemName, uint32_t fileSystemNameSize) {
    DWORD serial = 0, maximumComponent = 0, flags = 0;
    if (!::GetVolumeInformationA(root, label, labelSize, &serial, &maximumComponent, &flags, fileSystemName,
                                 fileSystemNameSize))
        return false;
    if (serialNumber) *serialNumber = serial;
    if (fileSystemFlags) *fileSystemFlags = flags;
    return true;
}

bool UniversalName(const char* root, char* out, uint32_t size) {
    if (out && size > 0) out[0] = '\0';
    UniversalNameCall call = BoundUniversalNameCall();
    if (!call) return false;
    // The answer is a pointer followed by the text it points to, in one buffer.
    alignas(UNIVERSAL_NAME_INFOA) char buffer[1288];
    DWORD length = sizeof buffer;
    if (call(root, UNIVERSAL_NAME_INFO_LEVEL, buffer, &length) != NO_ERROR) return false;
    const char* name = reinterpret_cast<const UNIVERSAL_NAME_INFOA*>(buffer)->lpUniversalName;
    if (!name) return false;
    const size_t n = std::strlen(name);
    if (n >= size) return win32::Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(out, name, n + 1);
    return true;
}

int32_t VolumeNameForMountPoint(const char* mountPoint, char* nameOut, uint32_t size) {
    using Call = BOOL(WINAPI*)(LPCSTR, LPSTR, DWORD);
    return CallKernel<Call>("GetVolumeNameForVolumeMountPointA", mountPoint, nameOut, static_cast<DWORD>(size));
}

int32_t DeleteMountPoint(const char* mountPoint) {
    using Call = BOOL(WINAPI*)(LPCSTR);
    return CallKernel<Call>("DeleteVolumeMountPointA", mountPoint);
}

int32_t SetMountPoint(const char* mountPoint, const char* volumeName) {
    using Call = BOOL(WINAPI*)(LPCSTR, LPCSTR);
    return CallKernel<Call>("SetVolumeMountPointA", mountPoint, volumeName);
}

}  // namespace platform
