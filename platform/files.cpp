// Files: the fault seam in front of the back ends' opens, transfers and renames. An armed fault
// fails the call before the system sees it; a short transfer moves fewer bytes and succeeds.
#include "platform/fault_injection.h"
#include "platform/os.h"
#include "platform/platform.h"

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
    return os::OpenFile(name, access, creation, privileged);
}

FileHandle OpenFileCompat(const char* name) {
    if (const Fault* f = fault_detail::Check(CallKind::Open)) {
        fault_detail::Fail(*f);
        return 0;
    }
    return os::OpenFileCompat(name);
}

bool ReadFile(FileHandle file, void* buffer, uint32_t count, uint32_t* done) {
    *done = 0;
    if (!TransferAllowed(CallKind::Read, &count)) return false;
    return os::ReadFile(file, buffer, count, done);
}

bool WriteFile(FileHandle file, const void* buffer, uint32_t count, uint32_t* done) {
    *done = 0;
    if (!TransferAllowed(CallKind::Write, &count)) return false;
    return os::WriteFile(file, buffer, count, done);
}

bool SeekFile(FileHandle file, int64_t offset, SeekOrigin origin, uint64_t* newPosition) {
    if (const Fault* f = fault_detail::Check(CallKind::Seek)) return fault_detail::Fail(*f);
    return os::SeekFile(file, offset, origin, newPosition);
}

bool FlushFile(FileHandle file) {
    if (const Fault* f = fault_detail::Check(CallKind::Flush)) return fault_detail::Fail(*f);
    return os::FlushFile(file);
}

bool CloseFile(FileHandle file) {
    if (const Fault* f = fault_detail::Check(CallKind::Close)) {
        os::CloseFile(file);  // the handle is gone either way, as on Windows
        return fault_detail::Fail(*f);
    }
    return os::CloseFile(file);
}

bool DeleteFile(const char* name) {
    if (const Fault* f = fault_detail::Check(CallKind::Delete)) return fault_detail::Fail(*f);
    return os::DeleteFile(name);
}

bool MoveFile(const char* source, const char* target) {
    if (const Fault* f = fault_detail::Check(CallKind::Rename)) return fault_detail::Fail(*f);
    return os::MoveFile(source, target);
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
