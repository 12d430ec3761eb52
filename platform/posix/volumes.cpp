// Volumes on POSIX: no drive letters, network mapping or mount-point calls, so those questions
// answer "none"; free space comes from statvfs of the volume that holds the path.
#include "platform/volumes.h"
#include "platform/os.h"
#include "platform/platform.h"
#include "platform/posix/errors.h"
#include "platform/posix/names.h"

#include <cerrno>
#include <string>
#include <sys/statvfs.h>

namespace platform {

bool os::DiskSpace(const char* root, uint64_t* freeOut, uint64_t* totalOut) {
    std::string storage;
    std::string path = root && *root ? posix::WindowsName(root, storage) : ".";
    // A file about to be made (a copy's target) lies on the volume of the folder that will hold it.
    for (;;) {
        struct statvfs st {};
        if (statvfs(path.c_str(), &st) == 0) {
            *freeOut = static_cast<uint64_t>(st.f_bfree) * st.f_frsize;
            *totalOut = static_cast<uint64_t>(st.f_blocks) * st.f_frsize;
            return true;
        }
        if ((errno != ENOENT && errno != ENOTDIR) || path == "." || path == "/") return posix::FailWithErrno();
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        const size_t slash = path.rfind('/');
        if (slash == std::string::npos) path = ".";
        else if (slash == 0) path = "/";
        else path.resize(slash);
    }
}

uint32_t LogicalDrives() { return 0; }
uint32_t DriveType(const char*) { return kDriveUnknown; }

bool VolumeInformation(const char*, char* label, uint32_t labelSize, uint32_t*, uint32_t*, char* fileSystemName,
                       uint32_t fileSystemNameSize) {
    if (label && labelSize > 0) label[0] = '\0';
    if (fileSystemName && fileSystemNameSize > 0) fileSystemName[0] = '\0';
    return posix::Fail(kErrorPathNotFound);
}

bool UniversalName(const char*, char* out, uint32_t size) {
    if (out && size > 0) out[0] = '\0';
    return posix::Fail(kErrorPathNotFound);
}

int32_t VolumeNameForMountPoint(const char*, char* nameOut, uint32_t size) {
    if (nameOut && size > 0) nameOut[0] = '\0';
    return 0;
}
int32_t DeleteMountPoint(const char*) { return 0; }
int32_t SetMountPoint(const char*, const char*) { return 0; }

}  // namespace platform
