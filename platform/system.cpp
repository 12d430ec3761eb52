// Random bytes, threads and memory: the fault seam in front of the back ends.
#include "platform/fault_injection.h"
#include "platform/os.h"
#include "platform/platform.h"

namespace platform {

bool RandomBytes(void* buffer, size_t size) {
    if (const Fault* f = fault_detail::Check(CallKind::Random)) return fault_detail::Fail(*f);
    return os::RandomBytes(buffer, size);
}

bool StartThread(ThreadEntry entry, void* argument) {
    if (const Fault* f = fault_detail::Check(CallKind::Thread)) return fault_detail::Fail(*f);
    return os::StartThread(entry, argument);
}

void* Allocate(size_t size) {
    if (const Fault* f = fault_detail::Check(CallKind::Allocate)) {
        fault_detail::Fail(*f);
        return nullptr;
    }
    return os::Allocate(size);
}

}  // namespace platform
