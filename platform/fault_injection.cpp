#include "platform/platform.h"
#include "platform/fault_injection.h"

#include <atomic>

namespace platform {
namespace {

constexpr int kKinds = static_cast<int>(CallKind::Count);

struct Armed {
    std::atomic<uint64_t> countdown{0};  // 0 = not armed
    std::atomic<uint64_t> remaining{0};
    Fault fault;
};

Armed g_armed[kKinds];
std::atomic<uint64_t> g_counts[kKinds];
std::atomic<int> g_anyArmed{0};

}  // namespace

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
}

uint64_t CallCount(CallKind kind) { return g_counts[static_cast<int>(kind)].load(); }

void ResetCallCounts() {
    for (auto& c : g_counts) c.store(0);
}

namespace fault_detail {

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

}  // namespace fault_detail
}  // namespace platform
