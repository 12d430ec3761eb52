// For tests: a log of what a run did to the files of one folder, in the order it happened, for
// rebuilding the states a power cut could leave (tests/crash/). While recording, every open,
// write, flush, copy, rename and delete that goes through the platform layer under the folder
// is logged with the identity of the file it touched; nothing else changes.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace platform {

// One change, in terms of file identities: a rename moves an identity to a new name, and a
// write lands in the identity, whatever its name is by then.
struct FileChange {
    enum class Kind {
        Create,       // `name` is a new, empty file with identity `file`
        Truncate,     // `file` is cut to no bytes
        Write,        // `bytes` written into `file` at `offset`
        Flush,        // `file`'s bytes are on the disk
        FlushFolder,  // `name` (a folder)'s entries are on the disk
        Rename,       // `name` now goes by `target` (a file that had that name is gone)
        Delete,       // `name` no longer exists
    };
    Kind kind = Kind::Create;
    uint32_t file = 0;
    std::string name;
    std::string target;
    uint64_t offset = 0;
    std::vector<uint8_t> bytes;
};

struct Recording {
    std::string folder;
    // The folder's files when the recording began (all on the disk), by name and identity.
    std::map<std::string, uint32_t> names;
    std::map<uint32_t, std::vector<uint8_t>> contents;
    std::vector<FileChange> changes;
};

// Starts logging the changes under `folder` (its files, and those of its sub-folders, are the
// starting point). One recording at a time.
void StartRecording(const char* folder);
// Stops logging and hands over the log.
Recording StopRecording();

}  // namespace platform
