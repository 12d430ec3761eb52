// UTF-8 and UTF-16, strictly: one codec for the names, registry texts and initialisation files
// the platform layer converts. What is not a character in the source (a byte that begins no
// valid UTF-8 sequence, an overlong form, an encoded surrogate, a lone surrogate in UTF-16)
// becomes U+FFFD, as Windows converts such text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

constexpr char32_t kReplacementCharacter = 0xFFFD;

// The length of the valid UTF-8 sequence at the start of `text` and its code point in
// *codePoint; 0 when it begins none (overlong forms, surrogates, values past U+10FFFF and a
// sequence cut short by the end of `text` included).
size_t DecodeUtf8(std::string_view text, char32_t* codePoint);

// Appends the UTF-8 form of `c` (a code point that is no surrogate; others become U+FFFD).
void AppendUtf8(std::string& out, char32_t c);

std::u16string Utf16FromUtf8(std::string_view text);
std::string Utf8FromUtf16(std::u16string_view text);

}  // namespace platform
