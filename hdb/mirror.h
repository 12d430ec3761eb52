// The mirror: a whole-file copy beside a database, taken before a writer opens it.
#pragma once

#include <cstdint>

// Not built yet: both do nothing and report success. No mirror file is made or removed.
int32_t CopyToMirror(const char* databasePath);
int32_t DeleteMirror(const char* databasePath);
