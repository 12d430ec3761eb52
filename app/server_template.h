// The server's default configuration, written into a new database.
#pragma once

#include <cstdint>

class DatabaseManager;

// Creates the database at `databasePath` holding the default configuration. 0, or -1 (the file
// it created is deleted again).
int32_t WriteServerTemplate(DatabaseManager& manager, const char* databasePath);
