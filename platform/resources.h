// Resource loading: strings and bitmaps from the program itself or from a resource library.
// Systems without resource sections answer "none" to every lookup.
#pragma once

#include <cstdint>

namespace platform {

using ModuleHandle = intptr_t;  // 0 = none

// The running program's own path, zero-terminated in `buffer`; its length, or 0 on failure.
uint32_t ExecutablePath(char* buffer, uint32_t size);
// Whether something exists at `path` (the runtime's access check, mode 0).
bool PathAccessible(const char* path);
// Loads a library for its resources; 0 when it cannot be loaded.
ModuleHandle LoadResourceLibrary(const char* path);
void FreeResourceLibrary(ModuleHandle module);
// The program's own module (0 where there is none).
ModuleHandle OwnModule();
// String resource `id` of `module` into `buffer` (size bytes, zero-terminated): characters
// copied, 0 when there is none.
int32_t LoadResourceString(ModuleHandle module, uint32_t id, char* buffer, int32_t size);
// Bitmap resource `id` of `module` as a DIB section at its own size; null when there is none.
void* LoadResourceBitmap(ModuleHandle module, uint32_t id);

}  // namespace platform
