// For tests: file set-up that the product never needs.
#pragma once

namespace platform {

// Sets the read-only attribute (clears write permission on POSIX). Counted as an attributes
// call, so it can fail like the product's own attribute calls.
bool SetFileReadOnly(const char* name);

}  // namespace platform
