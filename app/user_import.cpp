#include "app/user_import.h"

#include <string>

#include "app/rebuild_run.h"

int32_t ImportUser(int32_t database, const char* folderName, uint32_t userId, const char* summaryPath) {
    (void)database;
    (void)userId;
    (void)summaryPath;
    const std::string line = std::string("Processing user ID \"") + folderName + "\"...";
    AddStatusLine(line.c_str());
    return 0;
}
