// Volumes, drives and network names. Windows answers with its own calls, binding at run time
// those that older systems lack; a system without drive letters, network mapping or mount points
// answers "none" to those questions and gives the free space of the volume that holds a path.
#pragma once

#include <cstdint>

namespace platform {

// Whether paths here begin with drive letters ("c:\"), and so whether a volume is named by the
// root of its path.
#ifdef _WIN32
constexpr bool kDriveLetters = true;
#else
constexpr bool kDriveLetters = false;
#endif

// Free and total bytes of a volume. `root` is the volume's root where there are drive letters
// (a null root is the current folder's volume), and any path on the volume elsewhere (a path
// that does not exist yet answers for the nearest folder above it that does). False when the
// system cannot answer; the outputs are then 0.
bool DiskSpace(const char* root, uint64_t* freeOut, uint64_t* totalOut);

// Drive types as GetDriveTypeA reports them.
constexpr uint32_t kDriveUnknown = 0;
constexpr uint32_t kDriveRemovable = 2;
constexpr uint32_t kDriveFixed = 3;
constexpr uint32_t kDriveRemote = 4;
constexpr uint32_t kDriveCdRom = 5;

// Bit n set for each existing drive (bit 0 = A). 0 where there are no drive letters.
uint32_t LogicalDrives();
// The type of the drive whose root is `root` ("c:\"); kDriveUnknown where there are none.
uint32_t DriveType(const char* root);

// The label and file-system name of the volume whose root is `root`, each zero-terminated in a
// buffer of the size given, and its serial number and file-system flags. False when the system
// cannot describe it (always, where there are no drive letters).
bool VolumeInformation(const char* root, char* label, uint32_t labelSize, uint32_t* serialNumber,
                       uint32_t* fileSystemFlags, char* fileSystemName, uint32_t fileSystemNameSize);

// The universal (network) name of a mapped drive's root, zero-terminated in `out`. False when
// the network library or its call is missing or the call reports an error.
bool UniversalName(const char* root, char* out, uint32_t size);

// Mount points: the system call's result (non-zero on success), or 0 where the system does not
// offer the call.
int32_t VolumeNameForMountPoint(const char* mountPoint, char* nameOut, uint32_t size);
int32_t DeleteMountPoint(const char* mountPoint);
int32_t SetMountPoint(const char* mountPoint, const char* volumeName);

}  // namespace platform
