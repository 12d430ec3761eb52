#include "platform/wildcard.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/name_order.h"

namespace platform {
namespace {

using Units = std::vector<uint32_t>;

// The file system's DOS wildcards, written as the search hands them down.
constexpr uint32_t kDosStar = '<';  // '*' before a dot: any run that does not pass the last dot
constexpr uint32_t kDosQm = '>';    // '?': one character; none at a dot or at the end
constexpr uint32_t kDosDot = '"';   // '.' before a wildcard or at the end: a dot, or the end
constexpr uint32_t kEnd = 0;        // past the last unit

// A name's units with case folded as the volume folds it, so that matching is case-free for
// every letter the volume knows, not only for ASCII.
Units Folded(const char* text) {
    Units units;
    NameUnits(text, units);
    for (uint32_t& unit : units) unit = UpcaseUnit(unit);
    return units;
}

// The pattern as the search passes it on. '<', '>' and '"' cannot occur in Windows names, so
// they are free to stand for the DOS wildcards.
Units Translate(const char* pattern) {
    Units p = Folded(pattern);
    size_t end = p.size();
    while (end > 0 && p[end - 1] == '.') --end;
    if (end > 0) p.resize(end);  // "." and ".." stay as they are
    if (p == Units{'*', '.', '*'}) return Units{'*'};
    for (size_t i = 0; i < p.size(); ++i) {
        const uint32_t next = i + 1 < p.size() ? p[i + 1] : kEnd;
        if (p[i] == '?')
            p[i] = kDosQm;
        else if (p[i] == '*' && next == '.')
            p[i] = kDosStar;
        else if (p[i] == '.' && (next == '*' || next == '?' || next == kEnd))
            p[i] = kDosDot;
    }
    return p;
}

struct Matcher {
    const Units& p;
    const Units& n;

    uint32_t P(size_t i) const { return i < p.size() ? p[i] : kEnd; }
    uint32_t N(size_t i) const { return i < n.size() ? n[i] : kEnd; }
    bool DotAfter(size_t i) const { return std::find(n.begin() + static_cast<std::ptrdiff_t>(i), n.end(), '.') != n.end(); }

    bool Match(size_t pi, size_t ni) const {
        for (;;) {
            switch (P(pi)) {
                case kEnd:
                    return ni == n.size();
                case '*':
                    for (;; ++ni) {
                        if (Match(pi + 1, ni)) return true;
                        if (ni == n.size()) return false;
                    }
                case kDosStar:
                    // It may take a dot only while another dot follows: the last one stays.
                    for (;; ++ni) {
                        if (Match(pi + 1, ni)) return true;
                        if (ni == n.size()) return false;
                        if (N(ni) == '.' && !DotAfter(ni + 1)) return false;
                    }
                case kDosQm:
                    if (ni < n.size() && N(ni) != '.') ++ni;
                    ++pi;
                    continue;
                case kDosDot:
                    if (N(ni) == '.')
                        ++ni;
                    else if (ni < n.size())
                        return false;
                    ++pi;
                    continue;
                default:
                    if (ni == n.size() || P(pi) != N(ni)) return false;
                    ++pi;
                    ++ni;
            }
        }
    }
};

}  // namespace

bool HasWildcards(const char* text) {
    for (; *text; ++text)
        if (*text == '*' || *text == '?') return true;
    return false;
}

bool WildcardMatchesAll(const char* pattern) {
    const Units p = Translate(pattern);
    return p.size() == 1 && p[0] == '*';
}

bool WildcardMatch(const char* pattern, const char* name) {
    const Units p = Translate(pattern);
    const Units n = Folded(name);
    return Matcher{p, n}.Match(0, 0);
}

}  // namespace platform
