#include "platform/move_between_volumes.h"

#include <string>

#include "platform/os.h"
#include "platform/platform.h"
#include "platform/recording.h"

namespace platform {
namespace {

// The folder that holds `path`, as FlushFolder takes it ("" for the current folder).
std::string FolderOf(const std::string& path) {
    const size_t cut = path.find_last_of(kPathSeparator == '\\' ? "\\/" : "/");
    if (cut == std::string::npos) return "";
    return cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
}

bool Exists(const std::string& name) { return os::GetFileAttributes(name.c_str()) != kInvalidAttributes; }

// A name beside the target that nothing holds: the copy is made there.
bool DraftName(const std::string& target, std::string& draft) {
    for (int n = 0; n < 100; ++n) {
        draft = target + ".moving" + (n == 0 ? std::string() : std::to_string(n));
        if (!Exists(draft)) return true;
    }
    SetLastError(kErrorAlreadyExists);
    return false;
}

bool Fails(uint32_t error) {
    SetLastError(error);
    return false;
}

}  // namespace

bool MoveBetweenVolumes(const char* source, const char* target, bool replace) {
    const uint32_t attributes = os::GetFileAttributes(source);
    if (attributes == kInvalidAttributes) return false;
    if ((attributes & kAttributeDirectory) != 0) return Fails(kErrorNotSameDevice);
    if (!replace && Exists(target)) return Fails(kErrorAlreadyExists);
    std::string draft;
    if (!DraftName(target, draft)) return false;
    if (!os::CopyFile(source, draft.c_str(), nullptr)) return false;
    const bool placed = os::FlushNamedFile(draft.c_str()) &&
                        (replace ? os::ReplaceFile(draft.c_str(), target) : os::MoveFile(draft.c_str(), target));
    if (!placed) {
        const uint32_t error = LastError();
        os::DeleteFile(draft.c_str());
        return Fails(error);
    }
    if (!os::FlushFolder(FolderOf(target).c_str())) return false;
    if (recording_detail::Recorder* r = recording_detail::Active()) r->Renamed(source, target);
    os::SetFileAttributesNormal(source);
    os::DeleteFile(source);
    return true;
}

}  // namespace platform
