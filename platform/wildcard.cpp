#include "platform/wildcard.h"

namespace platform {
namespace {

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The rest of the pattern can match nothing at all ("", ".", ".*", "?*", ...).
bool MatchesEmpty(const char* p) {
    for (; *p; ++p)
        if (*p != '*' && *p != '?' && *p != '.') return false;
    return true;
}

bool Match(const char* p, const char* n) {
    for (;;) {
        if (*p == '\0') return *n == '\0';
        if (*p == '*') {
            while (*p == '*') ++p;
            if (*p == '\0') return true;
            for (const char* s = n;; ++s) {
                if (Match(p, s)) return true;
                if (*s == '\0') return false;
            }
        }
        if (*n == '\0') return MatchesEmpty(p);
        if (*p == '?') {
            // one character, or none before a dot
            if (*n == '.' && Match(p + 1, n)) return true;
            ++p;
            ++n;
            continue;
        }
        if (*p == '.' && *n != '.') {
            return false;
        }
        if (Fold(*p) != Fold(*n)) return false;
        ++p;
        ++n;
    }
}

}  // namespace

bool HasWildcards(const char* text) {
    for (; *text; ++text)
        if (*text == '*' || *text == '?') return true;
    return false;
}

bool WildcardMatch(const char* pattern, const char* name) {
    if (pattern[0] == '*' && (pattern[1] == '\0' || (pattern[1] == '.' && pattern[2] == '*' && pattern[3] == '\0')))
        return true;
    return Match(pattern, name);
}

}  // namespace platform
