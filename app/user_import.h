// The import of one entry of the repository's users folder into the new database.
#pragma once

#include <cstdint>

// Adds the client account of the user in `folderName`; the status line comes first. Returns 0.
int32_t ImportUser(int32_t database, const char* folderName, uint32_t userId, const char* summaryPath);
