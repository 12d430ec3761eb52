// The fault seam's tables, shared by its check (platform/fault_injection.cpp, in the product)
// and its arming (platform/testing/fault_injection.cpp, for tests). Not for use elsewhere.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/fault_injection.h"

namespace platform::fault_detail {

constexpr int kKinds = static_cast<int>(CallKind::Count);

struct Armed {
    std::atomic<uint64_t> countdown{0};  // 0 = not armed
    std::atomic<uint64_t> remaining{0};
    Fault fault;
};

extern Armed g_armed[kKinds];
extern std::atomic<uint64_t> g_counts[kKinds];
extern std::atomic<int> g_anyArmed;

// The free-space answer a test injected, and the root the last query asked about.
struct InjectedSpace {
    std::mutex mutex;
    bool injected = false;
    uint64_t freeBytes = 0;
    uint64_t totalBytes = 0;
    char lastQuery[1024] = "";
};
extern InjectedSpace g_space;

}  // namespace platform::fault_detail
