#include "platform/testing/files.h"

#include "platform/fault_injection.h"
#include "platform/os.h"

namespace platform {

bool SetFileReadOnly(const char* name) {
    if (const Fault* f = fault_detail::Check(CallKind::Attributes)) return fault_detail::Fail(*f);
    return os::SetFileReadOnly(name);
}

}  // namespace platform
