#include "app/server_template.h"

#include "hdb/database_manager.h"

// The key tree is not written yet: the template is the empty database, created and closed.
int32_t WriteServerTemplate(DatabaseManager& manager, const char* databasePath) {
    const int32_t handle = manager.OpenDatabase(databasePath, ModeReadWrite);
    if (handle < 0) return -1;
    manager.CloseDatabase(handle);
    return 0;
}
