// Directory searches: the fault seam in front of the back ends' searches, and of the folder
// reads the POSIX back end makes to resolve names case-free.
#include "platform/fault_injection.h"
#include "platform/os.h"
#include "platform/platform.h"

namespace platform {

FindHandle FindFirst(const char* pattern, FindData* data, FindFill fill) {
    if (const Fault* f = fault_detail::Check(CallKind::Find)) {
        fault_detail::Fail(*f);
        return 0;
    }
    return os::FindFirst(pattern, data, fill);
}

bool FindNext(FindHandle search, FindData* data) {
    if (const Fault* f = fault_detail::Check(CallKind::Find)) return fault_detail::Fail(*f);
    return os::FindNext(search, data);
}

#ifndef _WIN32
namespace seam {

bool FindCaseFree(const std::string& folder, const char* element, std::string& match) {
    match.clear();
    if (const Fault* f = fault_detail::Check(CallKind::FolderRead)) return fault_detail::Fail(*f);
    return os::FindCaseFree(folder, element, match);
}

}  // namespace seam
#endif

}  // namespace platform
