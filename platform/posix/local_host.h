// The local host's name and addresses as Windows (Wine on the same machine) reports them, from
// what Linux tells: the pure parts, kept apart from the system calls so that tests can give
// them any host.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform::posix {

// The NetBIOS name GetComputerNameA gives: the host's name, or its canonical name when the
// resolver knows one other than "localhost" (null when it knows none), up to the first dot, in
// capitals, at most 15 characters.
std::string NetBiosName(const char* hostName, const char* canonicalName);

// One IPv4 address of an interface, in the order getifaddrs lists them.
struct InterfaceAddress {
    std::string interface;
    uint32_t address;  // network byte order
    bool up;
    bool loopback;
};

// The addresses gethostbyname gives for the host's own name on Windows: one per interface that
// has a default route or a direct route in `routeTable` (the text of /proc/net/route), its first
// IPv4 address; interfaces with a default route first, in the order of those routes, then the
// others by their lowest route metric. Loopback, down and address-less interfaces are left out.
std::vector<uint32_t> AddressesByRoute(const std::string& routeTable, const std::vector<InterfaceAddress>& interfaces);

}  // namespace platform::posix
