// The code page that narrow texts are in, as far as walking them character by character needs:
// which bytes begin a two-byte character.
#pragma once

#include <cstdint>

namespace platform {

// Whether `byte` is the lead byte of a two-byte character in the code page in force: the
// system's ANSI code page (IsDBCSLeadByte on Windows; on POSIX the code page Wine gives the
// process's locale), or the one a test chose (platform/testing/code_page.h).
bool IsLeadByte(uint8_t byte);

// The code page in force: the selected one, else the system's ANSI code page.
uint32_t ActiveCodePage();

}  // namespace platform
