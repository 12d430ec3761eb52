// Passwords are stored scrambled: each byte is combined by exclusive-or with the key byte of its
// position. Scrambling the scrambled bytes again gives the plain bytes back.
#pragma once

#include <cstdint>

namespace app {

// The 8-byte key is part of the stored format: whatever reads or writes stored passwords must
// use exactly these bytes.
inline constexpr uint8_t kScramblingKey[8] = {0x5A, 0xC3, 0x1E, 0x97, 0x6B, 0xD4, 0x28, 0xF1};
// The single key byte of the in-place forms.
inline constexpr uint8_t kScramblingByteKey = 0xA7;

class PasswordScrambler {
public:
    PasswordScrambler() = default;
    virtual ~PasswordScrambler();

    // Scrambles the zero-terminated `text` into `out` (at least its length + 1 bytes) and ends
    // `out` with a zero byte. The scrambled bytes may themselves contain zeros: keep the length.
    void Scramble(const char* text, char* out) const;
    // Scrambles `n` bytes (zeros included) into `out` (at least n + 1 bytes), then a zero byte.
    // A count of 0 or less writes only the zero byte.
    void ScrambleCounted(const void* data, void* out, int32_t n) const;
    // Combine `n` bytes in place with the single key byte; the two are the same operation.
    void MaskInPlace(void* buffer, int32_t n) const;
    void UnmaskInPlace(void* buffer, int32_t n) const;
};

}  // namespace app
