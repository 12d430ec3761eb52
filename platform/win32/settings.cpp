// The registry and initialisation files on Win32: the narrow calls themselves. The server's
// installer is a 32-bit program, so its entries are in the 32-bit view, which the 32-bit build
// sees by itself and the 64-bit build asks for with KEY_WOW64_32KEY.
#include "platform/settings.h"
#include "platform/os.h"
#include "platform/win32/win32.h"

#include <cstring>

namespace platform {
namespace {

HKEY HandleOf(RegistryKey key) { return reinterpret_cast<HKEY>(key); }

#ifdef _WIN64
constexpr REGSAM kView = KEY_WOW64_32KEY;
#else
constexpr REGSAM kView = 0;
#endif

// The default as GetPrivateProfileStringA gives it: trailing blanks removed, then one pair of
// surrounding quotes.
uint32_t DefaultText(const char* defaultText, char* out, uint32_t size) {
    if (!out || size == 0) return 0;
    const char* text = defaultText ? defaultText : "";
    size_t length = std::strlen(text);
    while (length > 0 && (text[length - 1] == ' ' || (text[length - 1] >= '\t' && text[length - 1] <= '\r'))) --length;
    if (length >= 2 && (text[0] == '"' || text[0] == '\'') && text[length - 1] == text[0]) {
        ++text;
        length -= 2;
    }
    if (length > size - 1) length = size - 1;
    std::memcpy(out, text, length);
    out[length] = '\0';
    return static_cast<uint32_t>(length);
}

}  // namespace

RegistryKey os::OpenMachineKey(const char* subKey) {
    HKEY key = nullptr;
#ifdef _WIN64
    const LONG result = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_QUERY_VALUE | kView, &key);
#else
    const LONG result = ::RegOpenKeyA(HKEY_LOCAL_MACHINE, subKey, &key);
#endif
    if (result != ERROR_SUCCESS) {
        win32::Fail(static_cast<uint32_t>(result));
        return 0;
    }
    return reinterpret_cast<RegistryKey>(key);
}

bool os::QueryKeyText(RegistryKey key, const char* name, char* buffer, uint32_t size) {
    DWORD type = 0;
    DWORD length = size;
    const LONG result =
        ::RegQueryValueExA(HandleOf(key), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &length);
    if (result != ERROR_SUCCESS) return win32::Fail(static_cast<uint32_t>(result));
    if (type != REG_SZ && type != REG_EXPAND_SZ) return win32::Fail(ERROR_INVALID_DATA);
    // Stored text need not end with a zero; the caller's buffer must hold one.
    if (length > 0 && buffer[length - 1] == '\0') return true;
    if (length >= size) return win32::Fail(ERROR_MORE_DATA);
    buffer[length] = '\0';
    return true;
}

void CloseKey(RegistryKey key) {
    if (key) ::RegCloseKey(HandleOf(key));
}

uint32_t os::ProfileDefault(const char* defaultText, char* out, uint32_t size) {
    return DefaultText(defaultText, out, size);
}

uint32_t os::ReadProfileString(const char* section, const char* key, const char* defaultText, char* out,
                               uint32_t size, const char* fileName) {
    return ::GetPrivateProfileStringA(section, key, defaultText, out, size, fileName);
}

std::string HostPath(const char* windowsPath) { return windowsPath ? windowsPath : ""; }

std::string RegistryName() { return "the registry"; }

bool os::WriteMachineKeyText(const char* subKey, const char* name, const char* text) {
    HKEY key = nullptr;
    LONG result = ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    KEY_SET_VALUE | kView, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) return win32::Fail(static_cast<uint32_t>(result));
    result = ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                              static_cast<DWORD>(std::strlen(text) + 1));
    ::RegCloseKey(key);
    return result == ERROR_SUCCESS || win32::Fail(static_cast<uint32_t>(result));
}

bool os::DeleteMachineKey(const char* subKey) {
#ifdef _WIN64
    const LONG result = ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, subKey, kView, 0);
#else
    const LONG result = ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, subKey);
#endif
    return result == ERROR_SUCCESS || win32::Fail(static_cast<uint32_t>(result));
}

bool os::SelectWinePrefix(const char*) { return false; }

}  // namespace platform
