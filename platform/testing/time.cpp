#include "platform/testing/time.h"

#include "platform/os.h"

namespace platform {

bool SetProcessTimeZone(const char* zone) { return os::SetProcessTimeZone(zone); }
bool SetProcessTimeLocale(const char* locale) { return os::SetProcessTimeLocale(locale); }

}  // namespace platform
