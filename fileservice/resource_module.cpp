// On systems without resource sections the module holds nothing: there is no library to load
// and no string or bitmap to find, so every lookup reports "none". The object count is kept as
// on Windows so that the module's life cycle is the same.
#include "fileservice/resource_module.h"

#include "platform/platform.h"

namespace {
volatile int32_t g_resourceModuleCount = 0;
}

ResourceModule::ResourceModule() { platform::AtomicIncrement(&g_resourceModuleCount); }

ResourceModule::~ResourceModule() { platform::AtomicDecrement(&g_resourceModuleCount); }

int32_t ResourceModule::UseResourceLibrary(const char*) { return 0; }

int32_t ResourceModule::LoadResourceText(uint32_t, char* buffer, int32_t size) {
    if (buffer && size > 0) buffer[0] = '\0';
    return 0;
}

void* ResourceModule::LoadResourceBitmap(uint32_t, uint32_t) { return nullptr; }

void* ResourceModule::ResourceInstance() { return nullptr; }
