// The local host as Windows reports it, derived on POSIX from what Linux tells: the cases are
// those Wine's GetComputerNameA and gethostbyname gave for the same hosts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/network.h"

#ifndef _WIN32
#include "platform/posix/local_host.h"
#endif

namespace {

// Whatever the host, the name is a NetBIOS name, as GetComputerNameA gives it.
TEST(LocalHost, ComputerNameIsANetBiosName) {
    char name[260];
    const int32_t length = platform::ComputerName(name, sizeof name);
    if (length < 0) GTEST_SKIP() << "this host has no name";
    EXPECT_EQ(static_cast<size_t>(length), std::strlen(name));
    EXPECT_LE(length, 15);
    for (const char* c = name; *c; ++c) {
        EXPECT_FALSE(*c >= 'a' && *c <= 'z') << name;
        EXPECT_NE(*c, '.') << name;
    }
}

#ifndef _WIN32
using platform::posix::AddressesByRoute;
using platform::posix::InterfaceAddress;
using platform::posix::NetBiosName;

TEST(LocalHost, NetBiosNameFromTheHostName) {
    struct Case {
        const char* host;
        const char* canonical;
        const char* expected;
    } cases[] = {
        {"vm", "vm", "VM"},
        {"abcdefghijklmnopqrstu.sub.example", nullptr, "ABCDEFGHIJKLMNO"},
        {"MiXeD.local", nullptr, "MIXED"},
        {"box", "box.example.com", "BOX"},
        {"box", "LocalHost", "BOX"},  // the resolver's "localhost" is no name for the host
        {"short", "server-name-of-twenty.example", "SERVER-NAME-OF-"},
    };
    for (const Case& c : cases) EXPECT_EQ(NetBiosName(c.host, c.canonical), c.expected) << c.host;
}

constexpr const char* kTitles =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

uint32_t Ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    const uint8_t bytes[4] = {a, b, c, d};
    uint32_t address;
    std::memcpy(&address, bytes, 4);
    return address;
}

TEST(LocalHost, AddressesFollowTheRoutes) {
    const std::vector<InterfaceAddress> interfaces = {
        {"lo", Ip(127, 0, 0, 1), true, true},        {"eth0", Ip(192, 0, 2, 2), true, false},
        {"eth0", Ip(192, 0, 2, 3), true, false},     {"wlan0", Ip(10, 1, 1, 5), true, false},
        {"docker0", Ip(172, 17, 0, 1), true, false}, {"virbr0", Ip(192, 168, 122, 1), true, false},
        {"down0", Ip(10, 9, 9, 9), false, false},
    };
    struct Case {
        const char* what;
        std::string table;
        std::vector<uint32_t> expected;
    } cases[] = {
        // This machine: Wine gave 192.0.2.2 where the hosts file says 127.0.0.1.
        {"one interface",
         std::string(kTitles) + "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
                                "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n",
         {Ip(192, 0, 2, 2)}},
        // Default routes first, in their order (not by metric); then the rest by metric.
        {"several",
         std::string(kTitles) + "virbr0\t007AA8C0\t00000000\t0001\t0\t0\t5\t00FFFFFF\t0\t0\t0\n"
                                "wlan0\t00000000\t0101010A\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                                "eth0\t00000000\t010200C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
                                "docker0\t000011AC\t00000000\t0001\t0\t0\t0\t0000FFFF\t0\t0\t0\n"
                                "eth0\t000200C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n",
         {Ip(10, 1, 1, 5), Ip(192, 0, 2, 2), Ip(172, 17, 0, 1), Ip(192, 168, 122, 1)}},
        // Routes through a gateway to other networks name no interface of ours; down and
        // loopback interfaces, and interfaces without an address, give nothing.
        {"left out",
         std::string(kTitles) + "wlan0\t0000000A\t0101010A\t0003\t0\t0\t0\t000000FF\t0\t0\t0\n"
                                "down0\t0000090A\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
                                "lo\t0000007F\t00000000\t0001\t0\t0\t0\t000000FF\t0\t0\t0\n"
                                "tun9\t0000080A\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n",
         {}},
        {"no routes", kTitles, {}},
        {"not a table", "garbage\n\nmore garbage\n", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(AddressesByRoute(c.table, interfaces), c.expected) << c.what;
}
#endif

}  // namespace
