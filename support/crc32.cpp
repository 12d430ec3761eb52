#include "support/crc32.h"

#include <array>

namespace support {

namespace {

// Made by the compiler, so the table is complete before any thread can use it.
constexpr std::array<uint32_t, 256> MakeTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit) value = (value & 1u) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        table[i] = value;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();

}  // namespace

uint32_t Crc32Update(const void* data, size_t length, uint32_t crc) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    crc = ~crc;
    for (size_t i = 0; i < length; ++i) crc = kTable[(crc ^ bytes[i]) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

uint32_t Crc32(const void* data, size_t length) { return Crc32Update(data, length, 0); }

}  // namespace support
