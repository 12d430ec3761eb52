// For tests and benchmarks: arming the fault seam (platform/fault_injection.h) and reading its
// call counts. A test makes the Nth call of a kind fail, or a volume report little free space,
// without touching the code under test.
#pragma once

#include <cstdint>

#include "platform/fault_injection.h"

namespace platform {

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

}  // namespace platform
