// The local host's IPv4 addresses, as the server's access points bind to them.
#pragma once

#include <cstdint>

namespace app {

constexpr int32_t kAddressListCapacity = 256;  // entries of a stored address list
constexpr int32_t kMaxLocalAddresses = 64;     // the most local addresses the template records

// Fills `addresses` (kAddressListCapacity entries, 4 bytes each in network byte order) with the
// host's addresses in resolver order, at most 64, and zeroes the rest. 0, or -1 with count 0 when
// the host has no name, the name does not resolve or it has no address.
int32_t GetLocalAddresses(int32_t* count, uint32_t* addresses);

// Where the addresses come from: the same contract as platform::LocalHostAddresses. Tests set
// their own list; null puts the system's back.
using HostAddressSource = int32_t (*)(uint32_t* addresses, int32_t capacity);
void SetHostAddressSource(HostAddressSource source);

// The computer's name as the template records it: the same contract as platform::ComputerName.
int32_t LocalComputerName(char* buffer, uint32_t size);
// Tests that need the same file on every machine set a fixed name; null puts the system's back.
using ComputerNameSource = int32_t (*)(char* buffer, uint32_t size);
void SetComputerNameSource(ComputerNameSource source);

}  // namespace app
