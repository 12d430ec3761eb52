// Questions about volumes: the list of drives, the file system of a path's volume, network
// drives and their universal names, and mount points. They look at single bytes: drive letters,
// colons and the separators of a share name are never trail bytes worth walking for. Where the
// system has no drive letters every question answers "none".
#include <cstring>

#include "fileservice/file_service.h"
#include "fileservice/name_compare.h"
#include "platform/platform.h"
#include "platform/volumes.h"
#include "support/path_helpers.h"

namespace fileservice {

namespace {

constexpr uint32_t kVolumeTextSize = 260;

// The drive's root, "x:\", with `letter` as it comes: lower case from the listing, a path's
// own first character from the path questions.
void DriveRoot(char letter, char (&root)[4]) {
    root[0] = letter;
    root[1] = ':';
    root[2] = '\\';
    root[3] = '\0';
}

bool OnDriveLetter(const char* path) { return path[0] != '\0' && path[1] == ':' && path[0] != '\\'; }

bool Wanted(uint32_t type, int32_t includeRemote, int32_t includeRemovable) {
    if (type == platform::kDriveFixed) return true;
    if (type == platform::kDriveRemote) return includeRemote == 1;
    if (type == platform::kDriveCdRom || type == platform::kDriveRemovable) return includeRemovable == 1;
    return false;
}

VolumeInfo* DescribeVolume(char letter) {
    char root[4];
    DriveRoot(letter, root);
    char label[kVolumeTextSize], fileSystem[kVolumeTextSize];
    uint32_t serial = 0, flags = 0;
    if (!platform::VolumeInformation(root, label, sizeof label, &serial, &flags, fileSystem, sizeof fileSystem))
        return nullptr;
    auto* info = static_cast<VolumeInfo*>(platform::Allocate(sizeof(VolumeInfo)));
    if (!info) return nullptr;
    std::memset(info, 0, sizeof *info);
    std::strncpy(info->label, label, sizeof info->label - 1);
    info->drive = letter;
    info->fileSystemFlags = flags;
    info->serialNumber = serial;
    std::strncpy(info->fileSystemName, fileSystem, sizeof info->fileSystemName - 1);
    return info;
}

}  // namespace

VolumeInfo* FileService::ListVolumes(int32_t includeRemote, int32_t includeRemovable) {
    const uint32_t drives = platform::LogicalDrives();
    VolumeInfo* head = nullptr;
    VolumeInfo* tail = nullptr;
    // A and B are never listed.
    for (int bit = 2; bit <= 25; ++bit) {
        if ((drives & (1u << bit)) == 0) continue;
        const char letter = static_cast<char>('a' + bit);
        char root[4];
        DriveRoot(letter, root);
        if (!Wanted(platform::DriveType(root), includeRemote, includeRemovable)) continue;
        VolumeInfo* info = DescribeVolume(letter);
        if (!info) continue;
        if (tail) tail->next = info;
        else head = info;
        tail = info;
    }
    return head;
}

void FreeVolumeList(VolumeInfo* list) {
    while (list) {
        VolumeInfo* next = list->next;
        platform::Free(list);
        list = next;
    }
}

int32_t FileService::IsNetworkDrive(const char* path) {
    if (!OnDriveLetter(path)) return 0;
    char root[4];
    DriveRoot(path[0], root);
    return platform::DriveType(root) == platform::kDriveRemote ? 1 : 0;
}

int32_t FileService::UniversalPath(const char* path, char* nameOut, size_t size) {
    if (size == 0) return -1;
    const size_t length = std::strlen(path);
    if (length >= size) {
        nameOut[0] = '\0';
        return -1;
    }
    std::memcpy(nameOut, path, length + 1);
    if (!OnDriveLetter(path)) return -1;
    char root[4];
    DriveRoot(path[0], root);
    char universal[1288];
    if (!platform::UniversalName(root, universal, sizeof universal)) return -1;
    const char* rest = std::strchr(path, '\\');
    rest = rest ? rest + 1 : "";
    char joined[sizeof universal + kPathBufferSize];
    std::strcpy(joined, universal);
    if (support::AddTrailingSeparator(joined, sizeof joined, '\\') != 0) return -1;
    if (std::strlen(joined) + std::strlen(rest) >= size) return -1;  // nameOut keeps the copy
    std::strcpy(nameOut, joined);
    std::strcat(nameOut, rest);
    return 0;
}

int32_t IsNtfsVolume(const char* path) {
    char root[kPathBufferSize];
    if (path[0] == '\\') {
        // The share root: cut after the second backslash that follows the leading two. A path
        // shorter than those two is its own root.
        const size_t whole = std::strlen(path);
        const char* end = path + whole;
        int seen = 0;
        for (const char* p = path + (whole < 2 ? whole : 2); *p; ++p) {
            if (*p == '\\' && ++seen == 2) {
                end = p + 1;
                break;
            }
        }
        const size_t length = static_cast<size_t>(end - path);
        if (length >= sizeof root) return 0;
        std::memcpy(root, path, length);
        root[length] = '\0';
    } else {
        if (path[0] == '\0') return 0;
        root[0] = path[0];
        root[1] = ':';
        root[2] = '\\';
        root[3] = '\0';
    }
    char label[kVolumeTextSize], fileSystem[kVolumeTextSize];
    uint32_t serial = 0, flags = 0;
    if (!platform::VolumeInformation(root, label, sizeof label, &serial, &flags, fileSystem, sizeof fileSystem))
        return 0;
    return SameNameNoCase(fileSystem, "ntfs") ? 1 : 0;
}

int32_t VolumeNameForMountPoint(const char* mountPoint, char* nameOut, uint32_t size) {
    return platform::VolumeNameForMountPoint(mountPoint, nameOut, size);
}

int32_t DeleteMountPoint(const char* mountPoint) { return platform::DeleteMountPoint(mountPoint); }

int32_t SetMountPoint(const char* mountPoint, const char* volumeName) {
    return platform::SetMountPoint(mountPoint, volumeName);
}

}  // namespace fileservice
