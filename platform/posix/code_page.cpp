// Lead bytes on POSIX. The texts of this layer are the host's, but a program run under Wine gets
// the ANSI code page of its locale's language; the two-byte code pages are answered from their
// lead-byte ranges, every other code page Windows knows has no lead bytes, and a code page it
// does not know cannot be selected.
#include "platform/code_page.h"
#include "platform/os.h"

#include <atomic>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>

namespace platform {
namespace {

constexpr uint32_t kWesternCodePage = 1252;

std::atomic<uint32_t> g_selected{0};

struct LeadRange {
    uint8_t first;
    uint8_t last;
};

struct TwoByteCodePage {
    uint32_t codePage;
    LeadRange ranges[3];  // unused ranges are {0, 0}
};

constexpr TwoByteCodePage kTwoByteCodePages[] = {
    {932, {{0x81, 0x9F}, {0xE0, 0xFC}, {0, 0}}},   // Japanese (Shift-JIS)
    {936, {{0x81, 0xFE}, {0, 0}, {0, 0}}},         // Simplified Chinese (GBK)
    {949, {{0x81, 0xFE}, {0, 0}, {0, 0}}},         // Korean (Unified Hangul)
    {950, {{0x81, 0xFE}, {0, 0}, {0, 0}}},         // Traditional Chinese (Big5)
    {1361, {{0x84, 0xD3}, {0xD8, 0xDE}, {0xE0, 0xF9}}},  // Korean (Johab)
};

const TwoByteCodePage* FindTwoByte(uint32_t codePage) {
    for (const TwoByteCodePage& page : kTwoByteCodePages)
        if (page.codePage == codePage) return &page;
    return nullptr;
}

// The single-byte code pages a Windows system knows: the OEM and ANSI pages, EBCDIC, ISO 8859,
// KOI8, the Macintosh pages, US-ASCII and the two Unicode transformation formats.
constexpr uint32_t kSingleByteCodePages[] = {
    37,    437,   500,   708,   720,   737,   775,   850,   852,   855,   857,   858,   860,
    861,   862,   863,   864,   865,   866,   869,   874,   875,   1026,  1250,  1251,  1252,
    1253,  1254,  1255,  1256,  1257,  1258,  10000, 10004, 10005, 10006, 10007, 10010, 10017,
    10021, 10029, 10079, 10081, 10082, 20127, 20866, 21866, 28591, 28592, 28593, 28594, 28595,
    28596, 28597, 28598, 28599, 28603, 28605, 65000, 65001,
};

bool IsKnownCodePage(uint32_t codePage) {
    if (FindTwoByte(codePage)) return true;
    for (uint32_t known : kSingleByteCodePages)
        if (known == codePage) return true;
    return false;
}

// The locale name that decides the character type, as the C library picks it.
std::string CtypeLocaleName() {
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) return value;
    }
    return "C";
}

// The ANSI code page of the process's locale: the language's two-byte code page for Japanese,
// Korean and Chinese, Western otherwise. A locale the system does not have counts as "C", as
// Wine then falls back to it.
uint32_t LocaleCodePage() {
    const std::string name = CtypeLocaleName();
    locale_t probe = newlocale(LC_CTYPE_MASK, name.c_str(), static_cast<locale_t>(0));
    if (probe == static_cast<locale_t>(0)) return kWesternCodePage;
    freelocale(probe);
    auto starts = [&name](const char* prefix) { return name.rfind(prefix, 0) == 0; };
    if (starts("ja")) return 932;
    if (starts("ko")) return 949;
    if (starts("zh_TW") || starts("zh_HK") || starts("zh_MO")) return 950;
    if (starts("zh")) return 936;
    return kWesternCodePage;
}

uint32_t SystemCodePage() {
    static const uint32_t codePage = LocaleCodePage();
    return codePage;
}

}  // namespace

bool IsLeadByte(uint8_t byte) {
    const TwoByteCodePage* page = FindTwoByte(ActiveCodePage());
    if (!page) return false;
    for (const LeadRange& range : page->ranges)
        if (range.first != 0 && byte >= range.first && byte <= range.last) return true;
    return false;
}

bool os::SelectCodePage(uint32_t codePage) {
    if (codePage != 0 && !IsKnownCodePage(codePage)) return false;
    g_selected.store(codePage);
    return true;
}

uint32_t ActiveCodePage() {
    const uint32_t selected = g_selected.load(std::memory_order_relaxed);
    return selected != 0 ? selected : SystemCodePage();
}

}  // namespace platform
