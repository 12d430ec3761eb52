// Names compared as the file system compares them: ASCII letters without regard to case.
#pragma once

#include "support/ascii_case.h"

namespace fileservice {

inline bool SameNameNoCase(const char* a, const char* b) { return support::SameAsciiNoCase(a, b); }

}  // namespace fileservice
