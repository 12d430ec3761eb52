#include "tools/database_recovery.h"

using hdb::kMirrorSuffix;
using hdb::RecoveryOutcome;
using hdb::RecoverySucceeded;

namespace tools {

int32_t RecoveryExitCode(RecoveryOutcome outcome) { return RecoverySucceeded(outcome) ? 0 : 1; }

std::string DescribeRecovery(RecoveryOutcome outcome, const std::string& path) {
    const std::string mirror = path + kMirrorSuffix;
    switch (outcome) {
        case RecoveryOutcome::Absent:
            return path + ": no such file; nothing to recover";
        case RecoveryOutcome::Clean:
            return path + ": closed cleanly; nothing changed";
        case RecoveryOutcome::Restored:
            return path + ": was left open by a writer; restored from " + mirror;
        case RecoveryOutcome::NothingToRestore:
            return path + ": was left open by a writer, and no mirror lies beside it; nothing to restore, the file is unchanged";
        case RecoveryOutcome::DeletedTooShort:
            return path + ": shorter than its 72-byte header; deleted as too short (no mirror lay beside it)";
        case RecoveryOutcome::DeletedBoth:
            return path + ": shorter than its 72-byte header, and so was " + mirror + "; both deleted as too short";
        case RecoveryOutcome::TooShortRestored:
            return path + ": shorter than its 72-byte header; deleted as too short and restored from " + mirror;
        case RecoveryOutcome::InUse:
            return path + ": in use: a program holds it open, so it cannot be replaced; nothing was touched";
        case RecoveryOutcome::Failed:
            return path + ": the file or its mirror could not be deleted or renamed; recovery is incomplete (" + mirror +
                   ", if it is there, still holds the database as it was)";
    }
    return path;
}

}  // namespace tools
