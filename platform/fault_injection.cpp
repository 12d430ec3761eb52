// The fault seam's check: every front function counts its call here and learns whether a test
// armed it to fail. Arming is platform/testing/fault_injection.cpp.
#include "platform/fault_injection.h"

#include <algorithm>
#include <cstring>

#include "platform/fault_state.h"

namespace platform::fault_detail {

Armed g_armed[kKinds];
std::atomic<uint64_t> g_counts[kKinds];
std::atomic<int> g_anyArmed{0};
InjectedSpace g_space;

const Fault* Check(CallKind kind) {
    const int k = static_cast<int>(kind);
    g_counts[k].fetch_add(1, std::memory_order_relaxed);
    if (g_anyArmed.load(std::memory_order_relaxed) == 0) return nullptr;
    Armed& a = g_armed[k];
    uint64_t c = a.countdown.load();
    if (c == 0) return nullptr;
    if (c > 1) {
        a.countdown.fetch_sub(1);
        return nullptr;
    }
    // This call is the armed one; keep failing while repeats remain.
    if (a.remaining.fetch_sub(1) <= 1) a.countdown.store(0);
    return &a.fault;
}

bool InjectedDiskSpace(const char* root, uint64_t* freeOut, uint64_t* totalOut) {
    std::lock_guard<std::mutex> guard(g_space.mutex);
    const char* text = root ? root : "";
    const size_t length = std::min(std::strlen(text), sizeof g_space.lastQuery - 1);
    std::memcpy(g_space.lastQuery, text, length);
    g_space.lastQuery[length] = '\0';
    if (!g_space.injected) return false;
    *freeOut = g_space.freeBytes;
    *totalOut = g_space.totalBytes;
    return true;
}

}  // namespace platform::fault_detail
