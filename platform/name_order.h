// Names as Windows compares them on a case-free volume: the order of a folder listing and the
// case-free match of two names. POSIX names are UTF-8, as the Linux file system and Wine read
// them; each name becomes its UTF-16 code units, and case is folded per unit with the volume's
// upper-case table (Windows folds by upper case, so '_' sorts after 'Z').
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

// The upper-case form of one UTF-16 code unit, as the volume's table gives it (Wine's
// RtlUpcaseUnicodeChar on the same machine): 'a' to 'A', 'é' to 'É', 'ÿ' to 'Ÿ'; 'µ', 'ß' and
// 'ı' stay as they are. Values above 0xFFFF (the byte units below) pass unchanged.
uint32_t UpcaseUnit(uint32_t unit);

// The UTF-16 code units of a UTF-8 name, appended to `units`. A byte that does not begin a
// valid UTF-8 sequence stands for itself as 0x10000 + byte: it sorts after every character and
// equals only the same byte.
void NameUnits(const char* name, std::vector<uint32_t>& units);

// A name ready for many comparisons: its units and their upper-case forms.
struct NameKey {
    std::vector<uint32_t> folded;
    std::vector<uint32_t> units;
};
NameKey MakeNameKey(const char* name);

// The listing order: names compared case-free unit by unit (a shorter name first when one is
// the start of the other), and names equal that way by their units themselves ("A" before "a").
bool ListsBefore(const NameKey& a, const NameKey& b);
int CompareNames(const char* a, const char* b);

// True when the names are the same but for letter case.
bool SameNameCaseFree(const char* a, const char* b);

}  // namespace platform
