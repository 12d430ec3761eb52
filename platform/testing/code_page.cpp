#include "platform/testing/code_page.h"

#include "platform/os.h"

namespace platform {

bool SelectCodePage(uint32_t codePage) { return os::SelectCodePage(codePage); }

}  // namespace platform
