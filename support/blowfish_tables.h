// The Blowfish initial P-array and S-boxes: the fractional hexadecimal digits of pi, as the
// algorithm was published, stored as bytes in big-endian order (18 + 4 x 256 words).
#pragma once

#include <cstddef>
#include <cstdint>

namespace support {

constexpr size_t kBlowfishTableBytes = 4168;
extern const uint8_t kBlowfishInitialTables[kBlowfishTableBytes];

}  // namespace support
