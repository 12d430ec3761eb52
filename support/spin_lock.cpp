#include "support/spin_lock.h"

#include "platform/platform.h"

namespace support {

namespace {

constexpr int32_t kLockCount = 256;
constexpr uint32_t kRetrySleepMs = 10;

volatile int32_t writerFlags[kLockCount];
volatile int32_t guardFlags[kLockCount];
volatile int32_t readerCounts[kLockCount];

bool IsValidLock(int32_t n) { return n >= 0 && n < kLockCount; }

}  // namespace

void AcquireSpinLock(SpinLockWord* word) {
    while (platform::AtomicExchange(word, 1) == 1) platform::Sleep(kRetrySleepMs);
}

void ReleaseSpinLock(SpinLockWord* word) { platform::AtomicExchange(word, 0); }

void LockExclusive(int32_t n) {
    if (!IsValidLock(n)) return;
    for (;;) {
        AcquireSpinLock(&guardFlags[n]);
        if (platform::AtomicExchange(&writerFlags[n], 1) != 1) break;
        ReleaseSpinLock(&guardFlags[n]);
        platform::Sleep(kRetrySleepMs);
    }
    ReleaseSpinLock(&guardFlags[n]);
    // The claim stops new readers; wait for those inside to leave.
    while (platform::AtomicLoad(&readerCounts[n]) != 0) platform::Sleep(kRetrySleepMs);
}

int32_t TryLockExclusive(int32_t n) {
    if (!IsValidLock(n)) return -1;
    AcquireSpinLock(&guardFlags[n]);
    if (platform::AtomicLoad(&readerCounts[n]) != 0) {
        ReleaseSpinLock(&guardFlags[n]);
        return -1;
    }
    const int32_t old = platform::AtomicExchange(&writerFlags[n], 1);
    ReleaseSpinLock(&guardFlags[n]);
    return old == 1 ? -1 : 0;
}

void UnlockExclusive(int32_t n) {
    if (IsValidLock(n)) platform::AtomicExchange(&writerFlags[n], 0);
}

void LockShared(int32_t n) {
    if (!IsValidLock(n)) return;
    for (;;) {
        AcquireSpinLock(&guardFlags[n]);
        if (platform::AtomicLoad(&writerFlags[n]) != 1) break;
        ReleaseSpinLock(&guardFlags[n]);
        platform::Sleep(kRetrySleepMs);
    }
    platform::AtomicIncrement(&readerCounts[n]);
    ReleaseSpinLock(&guardFlags[n]);
}

void UnlockShared(int32_t n) {
    if (IsValidLock(n)) platform::AtomicDecrement(&readerCounts[n]);
}

NumberedLockState InspectNumberedLock(int32_t n) {
    return {platform::AtomicLoad(&writerFlags[n]), platform::AtomicLoad(&guardFlags[n]),
            platform::AtomicLoad(&readerCounts[n])};
}

}  // namespace support
