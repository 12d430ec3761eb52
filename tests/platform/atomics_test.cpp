#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

TEST(AtomicCompareExchange, StoresOnlyOverTheExpectedValue) {
    struct Case {
        int32_t held, value, expected;
        int32_t result, after;
    };
    const Case cases[] = {
        {1, 3, 1, 1, 3},   // matches: stored
        {0, 3, 1, 0, 0},   // differs: left alone, the value held is returned
        {2, 3, 1, 2, 2},
        {-1, 7, -1, -1, 7},
    };
    for (const Case& c : cases) {
        volatile int32_t word = c.held;
        EXPECT_EQ(platform::AtomicCompareExchange(&word, c.value, c.expected), c.result) << c.held;
        EXPECT_EQ(word, c.after) << c.held;
    }
}

}  // namespace
