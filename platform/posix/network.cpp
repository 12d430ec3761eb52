// Names and addresses of the local host on POSIX: the host name stands for the computer name.
#include "platform/network.h"

#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

constexpr uint32_t kHostNameBuffer = 260;

// The resolver's host entry for `name`; gethostbyname_r keeps the order of the host database
// (getaddrinfo would re-sort the addresses). False when the name does not resolve.
bool ResolveHost(const char* name, hostent* entry, std::vector<char>& scratch) {
    scratch.resize(1024);
    for (;;) {
        hostent* result = nullptr;
        int error = 0;
        const int rc = gethostbyname_r(name, entry, scratch.data(), scratch.size(), &result, &error);
        if (rc == ERANGE && scratch.size() < (1u << 20)) {
            scratch.resize(scratch.size() * 2);
            continue;
        }
        return rc == 0 && result != nullptr;
    }
}

}  // namespace

int32_t ComputerName(char* buffer, uint32_t size) {
    if (size == 0) return -1;
    char name[kHostNameBuffer] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return -1;
    const size_t length = std::strlen(name);
    if (length + 1 > size) return -1;
    std::memcpy(buffer, name, length + 1);
    return static_cast<int32_t>(length);
}

int32_t LocalHostAddresses(uint32_t* addresses, int32_t capacity) {
    char name[kHostNameBuffer] = {};
    if (gethostname(name, sizeof name - 1) != 0) return -1;
    hostent entry{};
    std::vector<char> scratch;
    if (!ResolveHost(name, &entry, scratch)) return -1;
    if (entry.h_addrtype != AF_INET || entry.h_length != 4) return 0;
    int32_t count = 0;
    for (char** address = entry.h_addr_list; *address != nullptr; ++address, ++count)
        if (count < capacity) std::memcpy(&addresses[count], *address, 4);
    return count;
}

}  // namespace platform
