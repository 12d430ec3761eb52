// Atomics, sleep, threads, the version query and counted allocation on POSIX.
#include "platform/platform.h"
#include "platform/os.h"
#include "platform/posix/errors.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <new>
#include <pthread.h>
#include <sys/random.h>

namespace platform {

int32_t AtomicExchange(volatile int32_t* target, int32_t value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
int32_t AtomicIncrement(volatile int32_t* target) { return __atomic_add_fetch(target, 1, __ATOMIC_SEQ_CST); }
int32_t AtomicDecrement(volatile int32_t* target) { return __atomic_sub_fetch(target, 1, __ATOMIC_SEQ_CST); }
int32_t AtomicLoad(const volatile int32_t* target) { return __atomic_load_n(target, __ATOMIC_SEQ_CST); }
void AtomicStore(volatile int32_t* target, int32_t value) { __atomic_store_n(target, value, __ATOMIC_SEQ_CST); }
int32_t AtomicCompareExchange(volatile int32_t* target, int32_t value, int32_t expected) {
    __atomic_compare_exchange_n(target, &expected, value, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return expected;
}

void Sleep(uint32_t milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    struct timespec wait {
        static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L
    };
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

uint32_t TickCount() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

bool os::RandomBytes(void* buffer, size_t size) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    while (size > 0) {
        const ssize_t got = getrandom(bytes, size, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return posix::FailWithErrno();
        }
        bytes += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

namespace {
struct ThreadStart {
    ThreadEntry entry;
    void* argument;
};

void* RunThread(void* start) {
    ThreadStart s = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    s.entry(s.argument);
    return nullptr;
}
}  // namespace

bool os::StartThread(ThreadEntry entry, void* argument) {
    auto* start = new (std::nothrow) ThreadStart{entry, argument};
    if (!start) return false;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, RunThread, start) != 0) {
        delete start;
        return false;
    }
    pthread_detach(thread);
    return true;
}

void EndThread() { pthread_exit(nullptr); }

// Answers as Windows 8 (6.2, build 9200) does: an NT-family system.
uint32_t GetVersion() { return (9200u << 16) | (2u << 8) | 6u; }

void* os::Allocate(size_t size) {
    return std::malloc(size == 0 ? 1 : size);
}

void Free(void* block) { std::free(block); }

}  // namespace platform
