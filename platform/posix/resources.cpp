// No resource sections here: the program's path is real, every resource lookup finds nothing.
#include "platform/resources.h"

#include <unistd.h>

namespace platform {

uint32_t ExecutablePath(char* buffer, uint32_t size) {
    if (size == 0) return 0;
    const ssize_t n = readlink("/proc/self/exe", buffer, size - 1);
    if (n <= 0) {
        buffer[0] = '\0';
        return 0;
    }
    buffer[n] = '\0';
    return static_cast<uint32_t>(n);
}

bool PathAccessible(const char* path) { return access(path, F_OK) == 0; }

ModuleHandle LoadResourceLibrary(const char*) { return 0; }
void FreeResourceLibrary(ModuleHandle) {}
ModuleHandle OwnModule() { return 0; }

int32_t LoadResourceString(ModuleHandle, uint32_t, char* buffer, int32_t size) {
    if (buffer && size > 0) buffer[0] = '\0';
    return 0;
}

void* LoadResourceBitmap(ModuleHandle, uint32_t) { return nullptr; }

}  // namespace platform
