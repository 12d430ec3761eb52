#include "platform/resources.h"

#include <io.h>
#include <windows.h>

namespace platform {

uint32_t ExecutablePath(char* buffer, uint32_t size) {
    if (size == 0) return 0;
    const DWORD n = GetModuleFileNameA(nullptr, buffer, size);
    if (n == 0 || n >= size) {
        buffer[0] = '\0';
        return 0;
    }
    return n;
}

bool PathAccessible(const char* path) { return _access(path, 0) == 0; }

ModuleHandle LoadResourceLibrary(const char* path) { return reinterpret_cast<ModuleHandle>(LoadLibraryA(path)); }

void FreeResourceLibrary(ModuleHandle module) {
    if (module) FreeLibrary(reinterpret_cast<HMODULE>(module));
}

ModuleHandle OwnModule() { return reinterpret_cast<ModuleHandle>(GetModuleHandleA(nullptr)); }

int32_t LoadResourceString(ModuleHandle module, uint32_t id, char* buffer, int32_t size) {
    if (!buffer || size <= 0) return 0;
    buffer[0] = '\0';
    if (!module) return 0;
    return LoadStringA(reinterpret_cast<HINSTANCE>(module), id, buffer, size);
}

void* LoadResourceBitmap(ModuleHandle module, uint32_t id) {
    if (!module) return nullptr;
    return LoadImageA(reinterpret_cast<HINSTANCE>(module), MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0,
                      LR_CREATEDIBSECTION | LR_DEFAULTSIZE);
}

}  // namespace platform
