#include "app/local_addresses.h"

#include "platform/network.h"

namespace app {

namespace {

HostAddressSource g_source = nullptr;
ComputerNameSource g_nameSource = nullptr;

}  // namespace

void SetHostAddressSource(HostAddressSource source) { g_source = source; }
void SetComputerNameSource(ComputerNameSource source) { g_nameSource = source; }

int32_t LocalComputerName(char* buffer, uint32_t size) {
    return g_nameSource ? g_nameSource(buffer, size) : platform::ComputerName(buffer, size);
}

int32_t GetLocalAddresses(int32_t* count, uint32_t* addresses) {
    *count = 0;
    for (int32_t i = 0; i < kAddressListCapacity; ++i) addresses[i] = 0;
    const HostAddressSource source = g_source ? g_source : platform::LocalHostAddresses;
    const int32_t found = source(addresses, kMaxLocalAddresses);
    if (found <= 0) {
        // A source may have stored nothing or something; the list stays empty either way.
        for (int32_t i = 0; i < kMaxLocalAddresses; ++i) addresses[i] = 0;
        return -1;
    }
    *count = found < kMaxLocalAddresses ? found : kMaxLocalAddresses;
    return 0;
}

}  // namespace app
