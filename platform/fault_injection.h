// The fault seam: each platform call of a kind that tests can make fail counts itself here and
// asks whether it must fail. Only the front functions in platform/ ask (platform/os.h); a test
// arms "the Nth call of kind K from now fails" through platform/testing/fault_injection.h,
// without touching the code under test.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace platform {

enum class CallKind : int {
    Open,
    Read,
    Write,
    Seek,
    Flush,
    Close,
    Rename,
    Delete,
    Copy,
    Find,
    Attributes,  // reading and setting attributes and file times
    Allocate,
    Registry,  // opening a registry key, reading a value
    Profile,   // reading an initialisation file
    Random,    // the system's generator for keys
    Thread,    // thread starts
    FolderRead,  // a folder read to find a name case-free (POSIX only; Windows needs none)
    Folder,    // creating and removing folders
    Space,     // free-space queries
    Count      // number of kinds, not a kind
};

// What the armed call does.
struct Fault {
    uint32_t error = kFaultDefaultError;  // the error LastError() reports
    // For Read and Write: move this many bytes and report success (a short transfer) instead
    // of failing. For Copy: copy this many bytes, then fail (a copy that breaks off part-way).
    // -1 means fail outright.
    int32_t shortCount = -1;
    static constexpr uint32_t kFaultDefaultError = 31;  // ERROR_GEN_FAILURE
};

namespace fault_detail {
// For the front functions: counts the call and returns the armed fault, or null.
const Fault* Check(CallKind kind);
// Fails the call as the armed fault says: LastError takes its error; false.
inline bool Fail(const Fault& fault) {
    SetLastError(fault.error);
    return false;
}
// For the free-space query (after its Check): records its root, and answers it when a test injected
// the amounts (true) or leaves it to the system (false).
bool InjectedDiskSpace(const char* root, uint64_t* freeOut, uint64_t* totalOut);
}  // namespace fault_detail

}  // namespace platform
