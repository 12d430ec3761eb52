// Files: the fault seam in front of the back ends' opens, transfers and renames. An armed fault
// fails the call before the system sees it; a short transfer moves fewer bytes and succeeds.
#include "platform/fault_injection.h"
#include "platform/move_between_volumes.h"
#include "platform/os.h"
#include "platform/platform.h"
#include "platform/recording.h"

namespace platform {
namespace {

// The bytes a read or write may move: all of them, or what an armed short transfer allows.
// False when the transfer fails outright.
bool TransferAllowed(CallKind kind, uint32_t* count) {
    const Fault* f = fault_detail::Check(kind);
    if (!f) return true;
    if (f->shortCount < 0) return fault_detail::Fail(*f);
    if (static_cast<uint32_t>(f->shortCount) < *count) *count = static_cast<uint32_t>(f->shortCount);
    return true;
}

}  // namespace

FileHandle OpenFile(const char* name, FileAccess access, FileCreation creation, bool privileged) {
    if (const Fault* f = fault_detail::Check(CallKind::Open)) {
        fault_detail::Fail(*f);
        return 0;
    }
    const FileHandle file = os::OpenFile(name, access, creation, privileged);
    if (file != 0)
        if (recording_detail::Recorder* r = recording_detail::Active()) r->Opened(file, name, creation);
    return file;
}

FileHandle OpenFileCompat(const char* name) {
    if (const Fault* f = fault_detail::Check(CallKind::Open)) {
        fault_detail::Fail(*f);
        return 0;
    }
    const FileHandle file = os::OpenFileCompat(name);
    if (file != 0)
        if (recording_detail::Recorder* r = recording_detail::Active()) r->Opened(file, name, FileCreation::OpenExisting);
    return file;
}

bool ReadFile(FileHandle file, void* buffer, uint32_t count, uint32_t* done) {
    *done = 0;
    if (!TransferAllowed(CallKind::Read, &count)) return false;
    return os::ReadFile(file, buffer, count, done);
}

bool WriteFile(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) {
    *done = 0;
    if (!TransferAllowed(CallKind::Write, &count)) return false;
    const bool written = os::WriteFile(file, buffer, count, done);
    if (*done > 0)
        if (recording_detail::Recorder* r = recording_detail::Active()) r->Wrote(file, buffer, *done);
    return written;
}

bool SeekFile(FileHandle file, int64_t offset, SeekOrigin origin, uint64_t* newPosition) {
    if (const Fault* f = fault_detail::Check(CallKind::Seek)) return fault_detail::Fail(*f);
    return os::SeekFile(file, offset, origin, newPosition);
}

bool FlushFile(FileHandle file) {
    if (const Fault* f = fault_detail::Check(CallKind::Flush)) return fault_detail::Fail(*f);
    if (!os::FlushFile(file)) return false;
    if (recording_detail::Recorder* r = recording_detail::Active()) r->Flushed(file);
    return true;
}

bool CloseFile(FileHandle file) {
    if (recording_detail::Recorder* r = recording_detail::Active()) r->Closed(file);
    if (const Fault* f = fault_detail::Check(CallKind::Close)) {
        os::CloseFile(file);  // the handle is gone either way, as on Windows
        return fault_detail::Fail(*f);
    }
    return os::CloseFile(file);
}

bool DeleteFile(const char* name) {
    if (const Fault* f = fault_detail::Check(CallKind::Delete)) return fault_detail::Fail(*f);
    if (!os::DeleteFile(name)) return false;
    if (recording_detail::Recorder* r = recording_detail::Active()) r->Deleted(name);
    return true;
}

bool MoveFile(const char* source, const char* target) {
    if (const Fault* f = fault_detail::Check(CallKind::Rename)) {
        // Armed with "not the same device", the fault is the system's answer to a rename between
        // volumes, and the move goes on as it then does.
        if (f->error != kErrorNotSameDevice) return fault_detail::Fail(*f);
        return MoveBetweenVolumes(source, target, false);
    }
    if (os::MoveFile(source, target)) {
        if (recording_detail::Recorder* r = recording_detail::Active()) r->Renamed(source, target);
        return true;
    }
    return LastError() == kErrorNotSameDevice && MoveBetweenVolumes(source, target, false);
}

bool SetFileAttributesNormal(const char* name) {
    if (const Fault* f = fault_detail::Check(CallKind::Attributes)) return fault_detail::Fail(*f);
    return os::SetFileAttributesNormal(name);
}

FileHandle AcquireLockFile(const char* name) {
    if (const Fault* f = fault_detail::Check(CallKind::Open)) {
        fault_detail::Fail(*f);
        return 0;
    }
    return os::AcquireLockFile(name);
}

}  // namespace platform
