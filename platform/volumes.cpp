// Free space: the fault seam in front of the back ends' queries. A test may also answer the
// query itself, so that a full volume needs no full disk.
#include "platform/volumes.h"

#include "platform/fault_injection.h"
#include "platform/os.h"

namespace platform {

bool DiskSpace(const char* root, uint64_t* freeOut, uint64_t* totalOut) {
    *freeOut = 0;
    *totalOut = 0;
    if (const Fault* f = fault_detail::Check(CallKind::Space)) return fault_detail::Fail(*f);
    if (fault_detail::InjectedDiskSpace(root, freeOut, totalOut)) return true;
    return os::DiskSpace(root, freeOut, totalOut);
}

}  // namespace platform
