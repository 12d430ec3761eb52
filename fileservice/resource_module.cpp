#include "fileservice/resource_module.h"

#include <cstring>

#include "platform/platform.h"
#include "platform/resources.h"

namespace fileservice {

namespace {

constexpr size_t kModulePathBuffer = 570;

volatile int32_t g_resourceModuleCount = 0;
platform::ModuleHandle g_library = 0;

void ForgetLibrary() {
    platform::FreeResourceLibrary(g_library);
    g_library = 0;
}

}  // namespace

ResourceModule::ResourceModule() { platform::AtomicIncrement(&g_resourceModuleCount); }

ResourceModule::~ResourceModule() {
    if (platform::AtomicLoad(&g_resourceModuleCount) == 1) ForgetLibrary();
    platform::AtomicDecrement(&g_resourceModuleCount);
}

int32_t ResourceModule::UseResourceLibrary(const char* fileName) {
    ForgetLibrary();
    char path[kModulePathBuffer];
    if (platform::ExecutablePath(path, sizeof path) == 0) return 0;
    char* cut = std::strrchr(path, platform::kPathSeparator);
    if (!cut) return 0;
    cut[1] = '\0';
    // Whatever does not fit the buffer names no file we could load.
    if (std::strlen(path) + std::strlen(fileName) >= sizeof path) return 0;
    std::strcat(path, fileName);
    if (platform::PathAccessible(path)) g_library = platform::LoadResourceLibrary(path);
    return 0;
}

int32_t ResourceModule::LoadResourceText(uint32_t id, char* buffer, int32_t size) {
    int32_t copied = 0;
    if (g_library) copied = platform::LoadResourceString(g_library, id, buffer, size);
    if (copied == 0) copied = platform::LoadResourceString(platform::OwnModule(), id, buffer, size);
    return copied;
}

void* ResourceModule::LoadResourceBitmap(uint32_t libraryId, uint32_t ownId) {
    void* image = nullptr;
    if (g_library) image = platform::LoadResourceBitmap(g_library, libraryId);
    if (!image) image = platform::LoadResourceBitmap(platform::OwnModule(), ownId);
    return image;
}

void* ResourceModule::ResourceInstance() {
    return reinterpret_cast<void*>(g_library ? g_library : platform::OwnModule());
}

}  // namespace fileservice
