// The machine's names and addresses, as the server's configuration records them.
#pragma once

#include <cstdint>

namespace platform {

// Copies the computer's name as GetComputerNameA reports it (the NetBIOS name: capitals, at
// most 15 characters; POSIX derives it from the host name as Wine does), zero-terminated, into
// `buffer` of `size` bytes. The length of the name, or -1 when there is none or it does not fit.
int32_t ComputerName(char* buffer, uint32_t size);

// The IPv4 addresses that gethostbyname gives for the local host's own name, in its order; each
// is 4 bytes in network byte order. Windows answers that name with the interfaces' addresses,
// not from the hosts file, and so does POSIX: the up, non-loopback interfaces with a default
// or a direct route, those with a default route first (platform/posix/local_host.h), and
// 127.0.0.1 alone when there is none. The first `capacity` of them are stored in `addresses`.
// Returns how many the host has (possibly more than `capacity`, possibly 0), or -1 when the
// host's name cannot be obtained or does not resolve.
int32_t LocalHostAddresses(uint32_t* addresses, int32_t capacity);

}  // namespace platform
