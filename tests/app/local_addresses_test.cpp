#include "app/local_addresses.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/network.h"

using namespace app;

namespace {

int32_t g_available = 0;  // how many addresses the stub host has; -1: no name

int32_t StubHost(uint32_t* addresses, int32_t capacity) {
    for (int32_t i = 0; i < g_available && i < capacity; ++i) addresses[i] = 0x0A0000u + static_cast<uint32_t>(i);
    return g_available;
}

class LocalAddressesTest : public ::testing::Test {
protected:
    void SetUp() override { SetHostAddressSource(StubHost); }
    void TearDown() override { SetHostAddressSource(nullptr); }

    int32_t Get(int32_t available) {
        g_available = available;
        count = 12345;
        addresses.assign(kAddressListCapacity, 0xFFFFFFFFu);
        return GetLocalAddresses(&count, addresses.data());
    }

    int32_t count = 0;
    std::vector<uint32_t> addresses;
};

TEST_F(LocalAddressesTest, KeepsResolverOrderAndAtMostSixtyFour) {
    struct Case {
        int32_t available;
        int32_t count;
    } cases[] = {{1, 1}, {64, 64}, {70, 64}};
    for (const Case& c : cases) {
        ASSERT_EQ(Get(c.available), 0) << c.available;
        EXPECT_EQ(count, c.count);
        for (int32_t i = 0; i < kAddressListCapacity; ++i)
            EXPECT_EQ(addresses[i], i < c.count ? 0x0A0000u + static_cast<uint32_t>(i) : 0u) << "entry " << i;
    }
}

TEST_F(LocalAddressesTest, NoNameOrNoAddressGivesAnEmptyList) {
    for (int32_t available : {0, -1}) {
        EXPECT_EQ(Get(available), -1) << available;
        EXPECT_EQ(count, 0);
        EXPECT_EQ(addresses, std::vector<uint32_t>(kAddressListCapacity, 0));
    }
}

// The real host: whatever it has, the list is consistent with what the system reports.
TEST(LocalHostTest, SystemAddressesAgreeWithTheList) {
    std::vector<uint32_t> direct(kMaxLocalAddresses, 0);
    const int32_t found = platform::LocalHostAddresses(direct.data(), kMaxLocalAddresses);
    int32_t count = -1;
    std::vector<uint32_t> addresses(kAddressListCapacity, 0xFFFFFFFFu);
    const int32_t result = GetLocalAddresses(&count, addresses.data());
    if (found <= 0) {
        EXPECT_EQ(result, -1);
        EXPECT_EQ(count, 0);
    } else {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(count, found < kMaxLocalAddresses ? found : kMaxLocalAddresses);
        for (int32_t i = 0; i < count; ++i) EXPECT_EQ(addresses[i], direct[i]);
    }

    char name[260];
    const int32_t length = platform::ComputerName(name, sizeof name);
    if (length >= 0) {
        EXPECT_EQ(static_cast<size_t>(length), std::strlen(name));
    }
    EXPECT_EQ(platform::ComputerName(name, 1), -1) << "a name never fits in one byte";
}

}  // namespace
