// The console's exit codes. Scripts rely on them: the numbers never change.
#pragma once

namespace app {

constexpr int kExitComplete = 0;      // the rebuild is complete
constexpr int kExitFailed = 1;        // no usable new database, or the repository is busy
constexpr int kExitUsage = 2;         // the command line is wrong
constexpr int kExitIncomplete = 3;    // completed with losses: entries without an account, no users folder
constexpr int kExitOutputFailed = 4;  // the output could not be written whole

}  // namespace app
