// Names and addresses of the local host on POSIX, as Wine's GetComputerNameA and gethostbyname
// of the host's own name give them on the same machine.
#include "platform/network.h"
#include "platform/posix/local_host.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/route.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sstream>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr uint32_t kHostNameBuffer = 260;
constexpr size_t kNetBiosNameLength = 15;

bool HostName(char (&name)[kHostNameBuffer]) {
    std::memset(name, 0, sizeof name);
    return gethostname(name, sizeof name - 1) == 0 && name[0] != '\0';
}

bool ReadText(const char* path, std::string& text) {
    FILE* file = std::fopen(path, "re");
    if (!file) return false;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    std::fclose(file);
    return true;
}

std::vector<posix::InterfaceAddress> InterfaceAddresses() {
    std::vector<posix::InterfaceAddress> list;
    ifaddrs* all = nullptr;
    if (getifaddrs(&all) != 0) return list;
    for (const ifaddrs* a = all; a; a = a->ifa_next) {
        if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !a->ifa_name) continue;
        const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
        list.push_back({a->ifa_name, in->sin_addr.s_addr, (a->ifa_flags & IFF_UP) != 0, (a->ifa_flags & IFF_LOOPBACK) != 0});
    }
    freeifaddrs(all);
    return list;
}

}  // namespace

namespace posix {

std::string NetBiosName(const char* hostName, const char* canonicalName) {
    std::string name = canonicalName && strcasecmp(canonicalName, "localhost") != 0 ? canonicalName : hostName;
    name = name.substr(0, name.find('.'));
    if (name.size() > kNetBiosNameLength) name.resize(kNetBiosNameLength);
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return name;
}

std::vector<uint32_t> AddressesByRoute(const std::string& routeTable, const std::vector<InterfaceAddress>& interfaces) {
    struct Route {
        std::string interface;
        uint32_t metric;
        int defaultOrder;  // 1 for the first default route, 2 for the next, ...; 0 for none
    };
    std::vector<Route> routes;
    int defaults = 0;
    std::istringstream lines(routeTable);
    std::string line;
    std::getline(lines, line);  // the column titles
    while (std::getline(lines, line)) {
        char interface[64] = {};
        unsigned destination = 0, gateway = 0, flags = 0, metric = 0;
        int refCount = 0, use = 0;
        if (std::sscanf(line.c_str(), "%63s %x %x %x %d %d %u", interface, &destination, &gateway, &flags, &refCount,
                        &use, &metric) != 7)
            continue;
        int defaultOrder = 0;
        if (destination == 0)
            defaultOrder = ++defaults;
        else if (flags & RTF_GATEWAY)
            continue;  // only default routes and the interfaces' own networks count
        // An interface counts once, with its lowest metric and the place of its first route.
        auto known = std::find_if(routes.begin(), routes.end(), [&](const Route& r) { return r.interface == interface; });
        if (known != routes.end()) {
            known->metric = std::min(known->metric, metric);
            continue;
        }
        routes.push_back({interface, metric, defaultOrder});
    }
    std::stable_sort(routes.begin(), routes.end(), [](const Route& a, const Route& b) {
        if (a.defaultOrder != 0 && b.defaultOrder != 0) return a.defaultOrder < b.defaultOrder;
        if (a.defaultOrder != 0 || b.defaultOrder != 0) return a.defaultOrder != 0;
        return a.metric < b.metric;
    });
    std::vector<uint32_t> addresses;
    for (const Route& route : routes) {
        auto address = std::find_if(interfaces.begin(), interfaces.end(),
                                    [&](const InterfaceAddress& i) { return i.interface == route.interface; });
        if (address == interfaces.end() || !address->up || address->loopback) continue;
        addresses.push_back(address->address);
    }
    return addresses;
}

}  // namespace posix

int32_t ComputerName(char* buffer, uint32_t size) {
    char host[kHostNameBuffer];
    if (size == 0 || !HostName(host)) return -1;
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    const bool resolved = getaddrinfo(host, nullptr, &hints, &found) == 0;
    const std::string name = posix::NetBiosName(host, resolved ? found->ai_canonname : nullptr);
    if (resolved) freeaddrinfo(found);
    if (name.empty() || name.size() + 1 > size) return -1;
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return static_cast<int32_t>(name.size());
}

int32_t LocalHostAddresses(uint32_t* addresses, int32_t capacity) {
    char host[kHostNameBuffer];
    if (!HostName(host)) return -1;
    std::string routeTable;
    std::vector<uint32_t> found;
    if (ReadText("/proc/net/route", routeTable)) found = posix::AddressesByRoute(routeTable, InterfaceAddresses());
    // A host without a network answers for its own name with the loopback address.
    if (found.empty()) found.push_back(htonl(INADDR_LOOPBACK));
    const int32_t count = static_cast<int32_t>(found.size());
    for (int32_t i = 0; i < count && i < capacity; ++i) addresses[i] = found[static_cast<size_t>(i)];
    return count;
}

}  // namespace platform
