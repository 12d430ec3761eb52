#include "support/spin_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace support;

namespace {

using Clock = std::chrono::steady_clock;

// Waits (bounded) until `done` turns true; a lock that never lets go fails the test.
template <typename Predicate>
bool Eventually(Predicate done) {
    for (int i = 0; i < 500; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

TEST(SpinLock, AcquireAndReleaseSetTheWord) {
    SpinLockWord word = 0;
    AcquireSpinLock(&word);
    EXPECT_EQ(word, 1);
    ReleaseSpinLock(&word);
    EXPECT_EQ(word, 0);
}

TEST(SpinLock, SecondAcquirerWaitsForRelease) {
    SpinLockWord word = 0;
    AcquireSpinLock(&word);
    std::atomic<bool> attempting{false};
    std::atomic<bool> acquired{false};
    Clock::time_point firstAttempt;
    Clock::time_point gotIt;
    std::thread other([&] {
        firstAttempt = Clock::now();
        attempting = true;
        AcquireSpinLock(&word);
        gotIt = Clock::now();
        acquired = true;
    });
    ASSERT_TRUE(Eventually([&] { return attempting.load(); }));
    // Held well past the other thread's first attempt, however slowly it is scheduled.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(acquired);
    ReleaseSpinLock(&word);
    other.join();
    EXPECT_TRUE(acquired);
    // A failed attempt sleeps 10 ms before the next one.
    EXPECT_GE(gotIt - firstAttempt, std::chrono::milliseconds(10));
    EXPECT_EQ(word, 1);
}

TEST(NumberedLock, WriterClaimsAtOnceAndWaitsForReaders) {
    constexpr int32_t n = 40;
    LockShared(n);
    LockShared(n);
    std::atomic<bool> writerIn{false};
    std::thread writer([&] {
        LockExclusive(n);
        writerIn = true;
    });
    ASSERT_TRUE(Eventually([&] { return InspectNumberedLock(n).writerFlag == 1; }));
    std::atomic<bool> lateReaderIn{false};
    std::thread lateReader([&] {
        LockShared(n);
        lateReaderIn = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_FALSE(writerIn);
    EXPECT_FALSE(lateReaderIn);  // a claimed lock admits no new reader
    UnlockShared(n);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(writerIn);
    UnlockShared(n);
    writer.join();
    EXPECT_TRUE(writerIn);
    EXPECT_FALSE(lateReaderIn);
    UnlockExclusive(n);
    lateReader.join();
    EXPECT_TRUE(lateReaderIn);
    UnlockShared(n);
    EXPECT_EQ(InspectNumberedLock(n).readerCount, 0);
}

TEST(NumberedLock, TryLockExclusive) {
    constexpr int32_t n = 41;
    LockShared(n);
    EXPECT_EQ(TryLockExclusive(n), -1);
    EXPECT_EQ(InspectNumberedLock(n).writerFlag, 0);
    UnlockShared(n);

    EXPECT_EQ(TryLockExclusive(n), 0);
    EXPECT_EQ(InspectNumberedLock(n).writerFlag, 1);
    EXPECT_EQ(TryLockExclusive(n), -1);  // held by a writer
    UnlockExclusive(n);
    EXPECT_EQ(InspectNumberedLock(n).writerFlag, 0);
}

TEST(NumberedLock, OutOfRangeNumbersDoNothing) {
    for (int32_t n : {-1, 256, 100000}) {
        EXPECT_EQ(TryLockExclusive(n), -1) << n;
        LockExclusive(n);  // returns at once
        LockShared(n);
        UnlockShared(n);
        UnlockExclusive(n);
    }
    for (int32_t n : {0, 255}) {
        NumberedLockState s = InspectNumberedLock(n);
        EXPECT_EQ(s.writerFlag, 0);
        EXPECT_EQ(s.readerCount, 0);
    }
}

TEST(NumberedLock, UnlockOfAFreeLockLeavesItFree) {
    constexpr int32_t n = 42;
    UnlockExclusive(n);
    EXPECT_EQ(InspectNumberedLock(n).writerFlag, 0);
    EXPECT_EQ(TryLockExclusive(n), 0);
    UnlockExclusive(n);
}

TEST(NumberedLock, ExclusiveHoldersNeverOverlap) {
    constexpr int32_t n = 43;
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    auto work = [&] {
        for (int i = 0; i < 20; ++i) {
            LockExclusive(n);
            if (inside.fetch_add(1) != 0) ++overlaps;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            inside.fetch_sub(1);
            UnlockExclusive(n);
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(overlaps, 0);
}

}  // namespace
