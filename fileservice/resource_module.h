// An optional resource library loaded from the executable's folder. Its state is process-wide.
#pragma once

#include <cstdint>

namespace fileservice {

class ResourceModule {
public:
    ResourceModule();
    virtual ~ResourceModule();

    // Loads `fileName` from the executable's folder as the resource library, if it exists;
    // forgets any library loaded before. Always 0.
    int32_t UseResourceLibrary(const char* fileName);
    // Characters copied into `buffer` (at most size - 1, zero-terminated); 0 when none.
    int32_t LoadResourceText(uint32_t id, char* buffer, int32_t size);
    // An image handle, or null.
    void* LoadResourceBitmap(uint32_t libraryId, uint32_t ownId);
    // The loaded library's instance, else the executable's own (null where there is none).
    void* ResourceInstance();
};

}  // namespace fileservice
