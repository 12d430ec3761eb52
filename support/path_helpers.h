// Walking and editing paths: narrow, zero-terminated texts in the code page in force. The
// operations marked "mb" take a lead byte and the byte after it as one character, so a trail
// byte equal to '\' is never a separator; the others look at single bytes. Separators are '\'
// and '/' unless an operation says '\' only. A null text makes the searching operations return
// null and the editing operations do nothing.
//
// Operations that write into a caller's buffer are given its size and never write past it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace support {

// The work buffer of CombinePath: the joined path may have at most 2,047 characters.
constexpr size_t kCombineWorkSize = 2048;

inline bool IsSeparator(char ch) { return ch == '\\' || ch == '/'; }

// (mb) The character after the one at `text` (a lead byte and its trail byte are one); `text`
// itself at the terminator. Never steps over the terminator, also not after a lead byte.
const char* NextChar(const char* text);

// (mb) The start of the last character; for an empty text, the text itself.
const char* LastChar(const char* text);
// (mb) The first / last backslash or slash, or null.
const char* FirstSeparator(const char* text);
const char* LastSeparator(const char* text);
// (mb) The start of the character that ends just before `pos`, walking from `begin`: the start
// of the last character that began before `pos`. `begin` when `pos` is `begin`; null when either
// is null.
const char* PrevChar(const char* begin, const char* pos);
// (mb) The nearest backslash or slash before `pos`; null when `begin` and `pos` are equal or
// when there is none.
const char* PrevSeparator(const char* begin, const char* pos);

inline char* NextChar(char* text) { return const_cast<char*>(NextChar(static_cast<const char*>(text))); }
inline char* LastChar(char* text) { return const_cast<char*>(LastChar(static_cast<const char*>(text))); }
inline char* FirstSeparator(char* text) {
    return const_cast<char*>(FirstSeparator(static_cast<const char*>(text)));
}
inline char* LastSeparator(char* text) { return const_cast<char*>(LastSeparator(static_cast<const char*>(text))); }
inline char* PrevChar(char* begin, char* pos) {
    return const_cast<char*>(PrevChar(static_cast<const char*>(begin), pos));
}
inline char* PrevSeparator(char* begin, char* pos) {
    return const_cast<char*>(PrevSeparator(static_cast<const char*>(begin), pos));
}

// (mb) Appends `separator` unless the text is empty or its last character is a backslash or a
// slash. 0, or -1 (text unchanged) when `size` has no room for it.
int32_t AddTrailingSeparator(char* path, size_t size, char separator = platform::kPathSeparator);
// (mb) Removes every backslash and slash at the end: C:\ becomes C:, "\\/" becomes empty.
void RemoveTrailingSeparators(char* path);

void BackslashesToSlashes(char* text);
void SlashesToBackslashes(char* text);

// ('\' only) Skips leading backslashes and copies the component that follows, up to the next
// backslash or the end, into `out` (`size` bytes; a longer component is cut to size - 1 bytes).
// Returns the position just after that backslash (or the end), or null when nothing follows.
const char* NextComponent(const char* src, char* out, size_t size);
// ('\' only) From `pos` backwards: skips backslashes, then copies the component before them
// (from the backslash that precedes it up to the next backslash or the end) into `out`, cut as
// NextComponent cuts, and returns the position of that backslash. The first component of the
// text, which no backslash precedes, is returned whole with the position `begin`. Null when
// `pos` is `begin` or only backslashes lie before it.
const char* PrevComponent(const char* begin, const char* pos, char* out, size_t size);

// Joins `relative` to `base` and resolves its "." and ".." components into `out` (`size`
// bytes). Unless `relative` begins with a separator (then it stands alone) or `base` is empty,
// `base` is followed by one separator, a backslash when the first separator in `relative` is a
// backslash, otherwise a slash (also when `base` already ends with one). A "." or ".." counts as
// a component only when a separator or the end follows it; names that merely begin with dots
// are copied as they are. 0, or -1 (`out` empty) when the joined text begins with "..", when a
// ".." would climb above the start or the root, or when the text does not fit the 2,048-byte
// work buffer or `out`.
int32_t CombinePath(const char* base, const char* relative, char* out, size_t size);

}  // namespace support
