#include "platform/testing/settings.h"

#include "platform/os.h"

namespace platform {

bool WriteMachineKeyText(const char* subKey, const char* name, const char* text) {
    return os::WriteMachineKeyText(subKey, name, text);
}

bool DeleteMachineKey(const char* subKey) { return os::DeleteMachineKey(subKey); }

bool SelectWinePrefix(const char* path) { return os::SelectWinePrefix(path); }

}  // namespace platform
