// The code page that narrow texts are in, as far as walking them character by character needs:
// which bytes begin a two-byte character.
#pragma once

#include <cstdint>

namespace platform {

// Whether `byte` is the lead byte of a two-byte character in the code page in force: the
// system's ANSI code page (IsDBCSLeadByte on Windows; on POSIX the code page Wine gives the
// process's locale), or the one SelectCodePage chose.
bool IsLeadByte(uint8_t byte);

// Makes `codePage` the code page in force for IsLeadByte; 0 goes back to the system's. False
// (nothing changed) when the system does not know the code page. For tests and tools: a test
// selects 932 to see a two-byte code page on any machine.
bool SelectCodePage(uint32_t codePage);

// The code page in force: the selected one, else the system's ANSI code page.
uint32_t ActiveCodePage();

}  // namespace platform
