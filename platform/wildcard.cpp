#include "platform/wildcard.h"

#include <cstring>
#include <string>

namespace platform {
namespace {

// The file system's DOS wildcards, written as the search hands them down.
constexpr char kDosStar = '<';  // '*' before a dot: any run that does not pass the last dot
constexpr char kDosQm = '>';    // '?': one character; none at a dot or at the end
constexpr char kDosDot = '"';   // '.' before a wildcard or at the end: a dot, or the end

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The pattern as the search passes it on. '<', '>' and '"' cannot occur in Windows names, so
// they are free to stand for the DOS wildcards.
std::string Translate(const char* pattern) {
    std::string p(pattern);
    size_t end = p.size();
    while (end > 0 && p[end - 1] == '.') --end;
    if (end > 0) p.resize(end);  // "." and ".." stay as they are
    if (p == "*.*") return "*";
    for (size_t i = 0; i < p.size(); ++i) {
        const char next = i + 1 < p.size() ? p[i + 1] : '\0';
        if (p[i] == '?')
            p[i] = kDosQm;
        else if (p[i] == '*' && next == '.')
            p[i] = kDosStar;
        else if (p[i] == '.' && (next == '*' || next == '?' || next == '\0'))
            p[i] = kDosDot;
    }
    return p;
}

bool Match(const char* p, const char* n) {
    for (;;) {
        switch (*p) {
            case '\0':
                return *n == '\0';
            case '*':
                for (;; ++n) {
                    if (Match(p + 1, n)) return true;
                    if (*n == '\0') return false;
                }
            case kDosStar:
                // It may take a dot only while another dot follows: the last one stays.
                for (;; ++n) {
                    if (Match(p + 1, n)) return true;
                    if (*n == '\0') return false;
                    if (*n == '.' && std::strchr(n + 1, '.') == nullptr) return false;
                }
            case kDosQm:
                if (*n != '\0' && *n != '.') ++n;
                ++p;
                continue;
            case kDosDot:
                if (*n == '.')
                    ++n;
                else if (*n != '\0')
                    return false;
                ++p;
                continue;
            default:
                if (*n == '\0' || Fold(*p) != Fold(*n)) return false;
                ++p;
                ++n;
        }
    }
}

}  // namespace

bool HasWildcards(const char* text) {
    for (; *text; ++text)
        if (*text == '*' || *text == '?') return true;
    return false;
}

bool WildcardMatch(const char* pattern, const char* name) { return Match(Translate(pattern).c_str(), name); }

}  // namespace platform
