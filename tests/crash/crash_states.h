// The crash states of a recorded run: what the disk may hold if the power goes after any change
// of the log (platform/testing/recording.h), under the persistence rules a POSIX file system
// gives. A file's bytes are those of its last flush, plus any subset of the writes made since
// (kept in their order or not, each torn at 512-byte sector boundaries); a name made, changed
// or removed is on the disk once its folder was flushed, and before that may be either way. The
// name changes that are not yet forced reach the disk in the order they were made (a journaled
// file system commits them in order), so a state holds a prefix of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/testing/recording.h"

namespace crash_test {

// One state: every file the disk would show, by name, with its bytes.
struct CrashState {
    std::map<std::string, std::vector<uint8_t>> files;
    bool Has(const std::string& name) const { return files.count(name) != 0; }
};

class CrashStates {
public:
    explicit CrashStates(platform::Recording recording);

    // Crash points: 0 (before the first change) to the number of changes (after the last).
    size_t Points() const { return recording_.changes.size() + 1; }
    const platform::Recording& recording() const { return recording_; }

    // Visits the states a power cut right after the first `point` changes may leave: every one
    // when there are at most `budget`, else `budget` of them: what was flushed alone, everything
    // the run wrote, and random choices from `random` between those.
    void Visit(size_t point, size_t budget, std::mt19937_64& random,
               const std::function<void(const CrashState&)>& visit) const;

private:
    platform::Recording recording_;
};

// A digest of a state's names and bytes, to visit each distinct state once.
uint64_t StateDigest(const CrashState& state);

// Writes the state into its folder (emptied first): the disk as the machine would find it.
void Materialise(const std::string& folder, const CrashState& state);

}  // namespace crash_test
