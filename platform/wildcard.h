// Windows wildcard matching for directory searches on systems whose own listing has none.
#pragma once

namespace platform {

// True when `name` matches `pattern` as a Windows directory search matches it: case-free for
// ASCII letters; '*' any run of characters; '?' one character, or none at a dot or at the end
// of the name; a '.' that is followed only by '*', '?' and '.' also matches the end of a name
// without a dot, so "*.*" matches every name and "readme.*" matches "readme".
bool WildcardMatch(const char* pattern, const char* name);

// True when the text holds '*' or '?'.
bool HasWildcards(const char* text);

}  // namespace platform
