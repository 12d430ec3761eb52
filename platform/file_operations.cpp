// Whole-file operations: the fault seam in front of the back ends' copies, renames, attributes
// and folders.
#include "platform/fault_injection.h"
#include "platform/move_between_volumes.h"
#include "platform/os.h"
#include "platform/platform.h"
#include "platform/recording.h"

namespace platform {

// An armed copy fault with a short count lets the copy run that far, then fails it; the back
// end removes the broken-off target, so no partial copy passes for a whole one.
bool CopyFile(const char* source, const char* target) {
    const Fault* f = fault_detail::Check(CallKind::Copy);
    if (f && f->shortCount < 0) return fault_detail::Fail(*f);
    const os::CopyBreak breakOff{f ? static_cast<uint64_t>(f->shortCount) : 0, f ? f->error : 0};
    const bool copied = os::CopyFile(source, target, f ? &breakOff : nullptr);
    if (recording_detail::Recorder* r = recording_detail::Active()) {
        const uint32_t error = LastError();
        r->Copied(target);
        SetLastError(error);
    }
    return copied;
}

bool ReplaceFile(const char* source, const char* target) {
    if (const Fault* f = fault_detail::Check(CallKind::Rename)) {
        if (f->error != kErrorNotSameDevice) return fault_detail::Fail(*f);
        return MoveBetweenVolumes(source, target, true);
    }
    if (os::ReplaceFile(source, target)) {
        if (recording_detail::Recorder* r = recording_detail::Active()) r->Renamed(source, target);
        return true;
    }
    return LastError() == kErrorNotSameDevice && MoveBetweenVolumes(source, target, true);
}

bool FlushNamedFile(const char* name) {
    if (const Fault* f = fault_detail::Check(CallKind::Flush)) return fault_detail::Fail(*f);
    if (!os::FlushNamedFile(name)) return false;
    if (recording_detail::Recorder* r = recording_detail::Active()) r->FlushedName(name);
    return true;
}

uint32_t GetFileAttributes(const char* name) {
    if (const Fault* f = fault_detail::Check(CallKind::Attributes)) {
        fault_detail::Fail(*f);
        return kInvalidAttributes;
    }
    return os::GetFileAttributes(name);
}

bool SetFileAttributes(const char* name, uint32_t attributes) {
    if (const Fault* f = fault_detail::Check(CallKind::Attributes)) return fault_detail::Fail(*f);
    return os::SetFileAttributes(name, attributes);
}

bool SetFileTimes(FileHandle file, const uint64_t* creation, const uint64_t* access, const uint64_t* write) {
    if (const Fault* f = fault_detail::Check(CallKind::Attributes)) return fault_detail::Fail(*f);
    return os::SetFileTimes(file, creation, access, write);
}

bool CreateFolder(const char* name) {
    if (const Fault* f = fault_detail::Check(CallKind::Folder)) return fault_detail::Fail(*f);
    return os::CreateFolder(name);
}

bool RemoveFolder(const char* name) {
    if (const Fault* f = fault_detail::Check(CallKind::Folder)) return fault_detail::Fail(*f);
    return os::RemoveFolder(name);
}

bool FlushFolder(const char* folder) {
    if (const Fault* f = fault_detail::Check(CallKind::Flush)) return fault_detail::Fail(*f);
    if (!os::FlushFolder(folder)) return false;
    if (recording_detail::Recorder* r = recording_detail::Active()) r->FlushedFolder(folder);
    return true;
}

}  // namespace platform
