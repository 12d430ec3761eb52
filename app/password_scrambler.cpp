#include "app/password_scrambler.h"

namespace app {

PasswordScrambler::~PasswordScrambler() = default;

void PasswordScrambler::Scramble(const char* text, char* out) const {
    int32_t p = 0;
    for (; text[p] != '\0'; ++p)
        out[p] = static_cast<char>(static_cast<uint8_t>(text[p]) ^ kScramblingKey[p % 8]);
    out[p] = '\0';
}

void PasswordScrambler::ScrambleCounted(const void* data, void* out, int32_t n) const {
    const auto* in = static_cast<const uint8_t*>(data);
    auto* to = static_cast<uint8_t*>(out);
    int32_t p = 0;
    for (; p < n; ++p) to[p] = in[p] ^ kScramblingKey[p % 8];
    to[p] = 0;
}

void PasswordScrambler::MaskInPlace(void* buffer, int32_t n) const {
    auto* bytes = static_cast<uint8_t*>(buffer);
    for (int32_t p = 0; p < n; ++p) bytes[p] ^= kScramblingByteKey;
}

void PasswordScrambler::UnmaskInPlace(void* buffer, int32_t n) const { MaskInPlace(buffer, n); }

}  // namespace app
