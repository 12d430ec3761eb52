// Arming the fault seam, and reading its call counts.
#include "platform/testing/fault_injection.h"

#include "platform/fault_state.h"

namespace platform {

using namespace fault_detail;

void InjectFault(CallKind kind, uint32_t nth, Fault fault, uint32_t repeat) {
    Armed& a = g_armed[static_cast<int>(kind)];
    a.countdown.store(0);
    a.fault = fault;
    a.remaining.store(repeat == 0 ? 1 : repeat);
    a.countdown.store(nth == 0 ? 1 : nth);
    g_anyArmed.store(1);
}

void ClearFaults() {
    for (Armed& a : g_armed) {
        a.countdown.store(0);
        a.remaining.store(0);
    }
    g_anyArmed.store(0);
    std::lock_guard<std::mutex> guard(g_space.mutex);
    g_space.injected = false;
}

void InjectDiskSpace(uint64_t freeBytes, uint64_t totalBytes) {
    std::lock_guard<std::mutex> guard(g_space.mutex);
    g_space.injected = true;
    g_space.freeBytes = freeBytes;
    g_space.totalBytes = totalBytes;
}

const char* LastDiskSpaceQuery() { return g_space.lastQuery; }

uint64_t CallCount(CallKind kind) { return g_counts[static_cast<int>(kind)].load(); }

void ResetCallCounts() {
    for (auto& c : g_counts) c.store(0);
}

}  // namespace platform
