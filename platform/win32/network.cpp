// Names and addresses of the local host on Windows: GetComputerNameA, and Windows Sockets 1.1
// for the host name and its addresses (link ws2_32).
#include "platform/network.h"

#include <winsock2.h>
#include <windows.h>

#include <cstring>

namespace platform {

namespace {

constexpr int kHostNameBuffer = 260;

}  // namespace

int32_t ComputerName(char* buffer, uint32_t size) {
    char name[kHostNameBuffer] = {};
    DWORD length = sizeof name;
    if (!GetComputerNameA(name, &length) || length == 0) return -1;
    if (length + 1 > size) return -1;
    std::memcpy(buffer, name, length + 1);
    return static_cast<int32_t>(length);
}

int32_t LocalHostAddresses(uint32_t* addresses, int32_t capacity) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return -1;
    int32_t count = -1;
    char name[kHostNameBuffer] = {};
    if (gethostname(name, kHostNameBuffer) == 0) {
        const hostent* entry = gethostbyname(name);
        if (entry != nullptr) {
            count = 0;
            if (entry->h_addrtype == AF_INET && entry->h_length == 4) {
                for (char** address = entry->h_addr_list; *address != nullptr; ++address, ++count)
                    if (count < capacity) std::memcpy(&addresses[count], *address, 4);
            }
        }
    }
    WSACleanup();
    return count;
}

}  // namespace platform
