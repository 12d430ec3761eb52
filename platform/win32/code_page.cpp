// Lead bytes on Win32: the system's own answer for the ANSI code page, or for the selected one.
#include "platform/code_page.h"
#include "platform/os.h"
#include "platform/win32/win32.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<uint32_t> g_selected{0};
}  // namespace

bool IsLeadByte(uint8_t byte) {
    const uint32_t selected = g_selected.load(std::memory_order_relaxed);
    return selected != 0 ? ::IsDBCSLeadByteEx(selected, byte) != FALSE : ::IsDBCSLeadByte(byte) != FALSE;
}

bool os::SelectCodePage(uint32_t codePage) {
    if (codePage != 0 && !::IsValidCodePage(codePage)) return false;
    g_selected.store(codePage);
    return true;
}

uint32_t ActiveCodePage() {
    const uint32_t selected = g_selected.load(std::memory_order_relaxed);
    return selected != 0 ? selected : ::GetACP();
}

}  // namespace platform
