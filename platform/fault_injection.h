// Fault injection and call counting for tests and benchmarks. Each platform call of a kind
// counts itself here and asks whether it must fail; a test arms "the Nth call of kind K from
// now fails" without touching the code under test.
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

// Arms a fault: the nth call of `kind` from now (1 = the very next) fails as `fault` says.
// `repeat` > 1 makes that many consecutive calls fail. Replaces an earlier fault of the kind.
void InjectFault(CallKind kind, uint32_t nth, Fault fault = {}, uint32_t repeat = 1);
// Disarms every fault.
void ClearFaults();

// Makes every free-space query answer `freeBytes` free of `totalBytes` (without asking the
// system) until ClearFaults, so that a full volume can be tested without filling a disk.
void InjectDiskSpace(uint64_t freeBytes, uint64_t totalBytes);
// The root (or path) that the last free-space query asked about; "" for none or a null root.
const char* LastDiskSpaceQuery();

// Calls of each kind since the last ResetCallCounts (counted whether or not they failed).
uint64_t CallCount(CallKind kind);
void ResetCallCounts();

namespace fault_detail {
// For the front functions (platform/os.h): counts the call and returns the armed fault, or null.
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
