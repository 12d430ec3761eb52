// For tests: the code page that platform/code_page.h answers for.
#pragma once

#include <cstdint>

namespace platform {

// Makes `codePage` the code page in force for IsLeadByte; 0 goes back to the system's. False
// (nothing changed) when the system does not know the code page. A test selects 932 to see a
// two-byte code page on any machine.
bool SelectCodePage(uint32_t codePage);

}  // namespace platform
