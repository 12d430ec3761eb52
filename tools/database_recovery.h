// Recovery of a database that a writer left open: the mirror beside it (the database's path
// with ".mirror" appended, a copy of the file as it was before that writer opened it) is put in
// its place. A database closed cleanly is left alone; one shorter than its 72-byte header is
// deleted, and a mirror of at least that size takes its place.
#pragma once

#include <cstdint>
#include <string>

class FileService;

enum class RecoveryOutcome {
    Absent,            // no file at the path; nothing to do (a mirror, if any, is left alone)
    Clean,             // closed cleanly; nothing changed
    Restored,          // left open by a writer; the mirror now stands in its place
    NothingToRestore,  // left open by a writer, and no mirror lies beside it; unchanged
    DeletedTooShort,   // shorter than its header; deleted, and no mirror lay beside it
    DeletedBoth,       // shorter than its header, and so was its mirror; both deleted
    TooShortRestored,  // shorter than its header; deleted, and the mirror took its place
    InUse,             // a program holds it open, so it cannot be replaced; nothing was touched
    Failed,            // the file or the mirror could not be deleted or renamed
};

// Recovers the database at `path`. The outcome says what was done.
RecoveryOutcome RecoverDatabaseFile(FileService& files, const char* path);

// 0 for the outcomes after which a database can be opened as it stands, 1 for the others.
int32_t RecoveryExitCode(RecoveryOutcome outcome);

// One line that says what was done, naming the files.
std::string DescribeRecovery(RecoveryOutcome outcome, const std::string& path);
