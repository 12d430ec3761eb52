// The mirror: a whole-file copy beside a database (its path with ".mirror" appended), taken
// before a writer opens it and removed by the writer's clean close. RecoverDatabase
// (DatabaseManager) puts it back in place of a database that a writer left open.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hdb/format.h"

namespace hdb {

// 0 when the mirror now holds a copy of the database, on the disk and not only in the system's
// cache; -1 otherwise, and then no mirror of ours exists (a mirror that another process's writer
// took while it holds the database stays with it).
int32_t CopyToMirror(const char* databasePath);
// Removes the mirror if there is one. Always 0.
int32_t DeleteMirror(const char* databasePath);

// The mirror path of `databasePath` into `out` (`size` bytes); false when it does not fit.
bool MirrorPath(const char* databasePath, char* out, size_t size);

// What a recovery found and did (DatabaseManager::RecoverDatabase gives 0 for the first six).
enum class RecoveryOutcome {
    Absent,            // no file at the path; nothing to do (a mirror, if any, is left alone)
    Clean,             // closed cleanly; nothing changed
    Restored,          // left open by a writer; the mirror now stands in its place
    DeletedTooShort,   // shorter than its header; deleted, and no mirror lay beside it
    DeletedBoth,       // shorter than its header, and so was its mirror; both deleted
    TooShortRestored,  // shorter than its header; deleted, and the mirror took its place
    NothingToRestore,  // left open by a writer, and no mirror lies beside it; unchanged
    InUse,             // open here or held by another program; nothing was touched
    Failed,            // the files could not be read, deleted or put in place; the mirror, if any, stays
};

// For a writer's open, under the table lock with the database not open here: a database that a
// writer left open (its header says so) and no other process holds, with a mirror beside it,
// gets the mirror back in its place, as RecoverDatabase would put it.
void RestoreLeftOpenDatabase(const char* databasePath);

// RecoverDatabase, telling its outcomes apart.
RecoveryOutcome RecoverDatabaseWithOutcome(const char* databasePath);
// Whether the outcome leaves the path as a writer may open it: a database closed cleanly, or none.
bool RecoverySucceeded(RecoveryOutcome outcome);

}  // namespace hdb
