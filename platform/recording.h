// The recording seam: while a test records, the front functions in platform/ tell a recorder
// about every change to a file's bytes or names and every flush, in the order they happen, so
// that the test can rebuild what a power cut at any moment could leave on the disk
// (platform/testing/recording.h). Each hook is called only after the system call succeeded;
// without a recorder the front functions pay one atomic load.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace platform::recording_detail {

class Recorder {
public:
    virtual ~Recorder() = default;
    virtual void Opened(FileHandle file, const char* name, FileCreation creation) = 0;
    virtual void Wrote(FileHandle file, const void* bytes, uint32_t count) = 0;
    virtual void Flushed(FileHandle file) = 0;
    virtual void Closed(FileHandle file) = 0;
    virtual void FlushedName(const char* name) = 0;
    virtual void FlushedFolder(const char* folder) = 0;
    // A copy ended, whether or not it succeeded: the target is now what the disk holds.
    virtual void Copied(const char* target) = 0;
    virtual void Renamed(const char* source, const char* target) = 0;
    virtual void Deleted(const char* name) = 0;
};

extern std::atomic<Recorder*> g_recorder;

inline Recorder* Active() { return g_recorder.load(std::memory_order_acquire); }

}  // namespace platform::recording_detail
