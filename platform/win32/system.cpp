// Atomics, sleep, threads, the version query and counted allocation on Win32.
#include "platform/win32/win32.h"
#include "platform/os.h"

#include <cstdlib>
#include <ntsecapi.h>
#include <process.h>

namespace platform {
namespace {

// LONG is 32 bits on every Windows target, but a distinct type from int32_t.
volatile LONG* AsLong(volatile int32_t* target) {
    static_assert(sizeof(LONG) == sizeof(int32_t));
    return reinterpret_cast<volatile LONG*>(target);
}

}  // namespace

int32_t AtomicExchange(volatile int32_t* target, int32_t value) { return ::InterlockedExchange(AsLong(target), value); }
int32_t AtomicIncrement(volatile int32_t* target) { return ::InterlockedIncrement(AsLong(target)); }
int32_t AtomicDecrement(volatile int32_t* target) { return ::InterlockedDecrement(AsLong(target)); }
int32_t AtomicLoad(const volatile int32_t* target) { return __atomic_load_n(target, __ATOMIC_SEQ_CST); }
void AtomicStore(volatile int32_t* target, int32_t value) { ::InterlockedExchange(AsLong(target), value); }
int32_t AtomicCompareExchange(volatile int32_t* target, int32_t value, int32_t expected) {
    return ::InterlockedCompareExchange(AsLong(target), value, expected);
}

void Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

uint32_t TickCount() { return ::GetTickCount(); }

bool os::RandomBytes(void* buffer, size_t size) {
    // RtlGenRandom takes at most a ULONG at a time.
    auto* bytes = static_cast<uint8_t*>(buffer);
    while (size > 0) {
        const ULONG chunk = size > 0x10000000u ? 0x10000000u : static_cast<ULONG>(size);
        if (!::RtlGenRandom(bytes, chunk)) return win32::Fail(ERROR_GEN_FAILURE);
        bytes += chunk;
        size -= chunk;
    }
    return true;
}

bool os::StartThread(ThreadEntry entry, void* argument) {
    // _beginthread (not CreateThread) so that the C runtime is set up for the new thread.
    return ::_beginthread(entry, 0, argument) != static_cast<uintptr_t>(-1);
}

void EndThread() { ::_endthread(); }

uint32_t GetVersion() { return ::GetVersion(); }

void* os::Allocate(size_t size) {
    return std::malloc(size == 0 ? 1 : size);
}

void Free(void* block) { std::free(block); }

}  // namespace platform
