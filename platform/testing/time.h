// For tests: the zone and locale that platform/time.h works in.
#pragma once

namespace platform {

// Make this process use the zone `zone` (a TZ text; null restores the system's) and the locale
// `locale` for time formatting (null restores the user's). False where the system does not let
// a process choose them (Windows takes both from the system).
bool SetProcessTimeZone(const char* zone);
bool SetProcessTimeLocale(const char* locale);

}  // namespace platform
