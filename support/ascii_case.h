// ASCII letter case, the one rule of the engine, the file service's name table and the tools:
// A-Z and a-z are the only letters that fold; every other byte, those above 0x7F too, stands for
// itself. (Names on a volume fold by the platform's own rule, platform/name_order.h.)
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace support {

constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Folds `text` in place.
inline void AsciiLowerInPlace(char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) text[i] = AsciiLower(text[i]);
}

inline std::string AsciiLowered(std::string_view text) {
    std::string folded(text);
    AsciiLowerInPlace(folded.data(), folded.size());
    return folded;
}

inline bool SameAsciiNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

}  // namespace support
