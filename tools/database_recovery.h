// Recovery of a database that a writer left open: the mirror beside it (the database's path
// with ".mirror" appended, a copy of the file as it was before that writer opened it) is put in
// its place. A database closed cleanly is left alone; one shorter than its 72-byte header is
// deleted, and a mirror of at least that size takes its place.
#pragma once

#include <cstdint>
#include <string>

#include "hdb/mirror.h"

namespace tools {

// 0 for the outcomes after which a database can be opened as it stands, 1 for the others.
int32_t RecoveryExitCode(hdb::RecoveryOutcome outcome);

// One line that says what was done, naming the files.
std::string DescribeRecovery(hdb::RecoveryOutcome outcome, const std::string& path);

}  // namespace tools
