#include "platform/platform.h"
#include "platform/fault_injection.h"

#include <atomic>
#include <algorithm>
#include <cstring>
#include <mutex>

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

std::mutex g_spaceMutex;
bool g_spaceInjected = false;
uint64_t g_injectedFree = 0;
uint64_t g_injectedTotal = 0;
char g_lastSpaceQuery[1024] = "";

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
    std::lock_guard<std::mutex> guard(g_spaceMutex);
    g_spaceInjected = false;
}

void InjectDiskSpace(uint64_t freeBytes, uint64_t totalBytes) {
    std::lock_guard<std::mutex> guard(g_spaceMutex);
    g_spaceInjected = true;
    g_injectedFree = freeBytes;
    g_injectedTotal = totalBytes;
}

const char* LastDiskSpaceQuery() { return g_lastSpaceQuery; }

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

bool InjectedDiskSpace(const char* root, uint64_t* freeOut, uint64_t* totalOut) {
    std::lock_guard<std::mutex> guard(g_spaceMutex);
    const char* text = root ? root : "";
    const size_t length = std::min(std::strlen(text), sizeof g_lastSpaceQuery - 1);
    std::memcpy(g_lastSpaceQuery, text, length);
    g_lastSpaceQuery[length] = '\0';
    if (!g_spaceInjected) return false;
    *freeOut = g_injectedFree;
    *totalOut = g_injectedTotal;
    return true;
}

}  // namespace fault_detail
}  // namespace platform
