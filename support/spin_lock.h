// Two small lock primitives: a plain spin lock on a 32-bit word that its owner embeds, and 256
// numbered reader/writer locks in process-wide tables. Waiters sleep 10 ms between attempts;
// no owner is recorded, nothing is re-entrant and nothing times out.
#pragma once

#include <cstdint>

namespace support {

// 0 = free, 1 = held.
using SpinLockWord = volatile int32_t;

void AcquireSpinLock(SpinLockWord* word);
void ReleaseSpinLock(SpinLockWord* word);

void LockExclusive(int32_t n);
// 0 when the caller now holds lock n alone, -1 otherwise.
int32_t TryLockExclusive(int32_t n);
void UnlockExclusive(int32_t n);
void LockShared(int32_t n);
void UnlockShared(int32_t n);

// The numbered lock that serialises opening and closing databases.
constexpr int32_t kDatabaseTableLock = 2;

// For tests: the three words of numbered lock n (n must be 0..255).
struct NumberedLockState {
    int32_t writerFlag;
    int32_t guardFlag;
    int32_t readerCount;
};
NumberedLockState InspectNumberedLock(int32_t n);

}  // namespace support
