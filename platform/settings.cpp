// Settings stores: the fault seam in front of the back ends' registry and initialisation-file
// reads.
#include "platform/settings.h"

#include "platform/fault_injection.h"
#include "platform/os.h"

namespace platform {

RegistryKey OpenMachineKey(const char* subKey) {
    if (const Fault* f = fault_detail::Check(CallKind::Registry)) {
        fault_detail::Fail(*f);
        return 0;
    }
    return os::OpenMachineKey(subKey);
}

bool QueryKeyText(RegistryKey key, const char* name, char* buffer, uint32_t size) {
    if (const Fault* f = fault_detail::Check(CallKind::Registry)) return fault_detail::Fail(*f);
    return os::QueryKeyText(key, name, buffer, size);
}

uint32_t ReadProfileString(const char* section, const char* key, const char* defaultText, char* out, uint32_t size,
                           const char* fileName) {
    if (const Fault* f = fault_detail::Check(CallKind::Profile)) {
        // An unreadable file gives the default, as the call gives it for a missing file.
        fault_detail::Fail(*f);
        return os::ProfileDefault(defaultText, out, size);
    }
    return os::ReadProfileString(section, key, defaultText, out, size, fileName);
}

}  // namespace platform
