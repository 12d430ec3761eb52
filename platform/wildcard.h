// Windows wildcard matching for directory searches on systems whose own listing has none.
#pragma once

namespace platform {

// True when `name` matches `pattern` as a Windows directory search matches it. The search turns
// the pattern into the file system's DOS wildcards first: "*.*" becomes "*"; every '?' matches
// one character, or none at a dot or at the end of the name; a '*' before a dot stops at the
// name's last dot; a dot before '*' or '?' also matches the end of a name that has no more dots.
// So "*.*" matches every name, "readme.*" matches "readme", "a?" matches "a" and "ab" but not
// "a.b", and "*.?" matches names with a one-character extension or none. Letters are compared
// case-free as the volume compares names (platform/name_order.h), also beyond ASCII. Trailing
// dots of the pattern are dropped, as Windows drops them from the last element of every path.
bool WildcardMatch(const char* pattern, const char* name);

// True when `pattern` matches every name ("*", "*.*", "*." and the like), so that a listing
// need not match its names one by one.
bool WildcardMatchesAll(const char* pattern);

// True when the text holds '*' or '?'.
bool HasWildcards(const char* text);

}  // namespace platform
