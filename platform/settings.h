// The settings stores that locate the server's installation: machine keys of the registry, in
// the view a 32-bit program sees (where the server's 32-bit installer writes), initialisation
// files, and the paths they hold. On POSIX the server runs under Wine, so the registry is the
// Wine prefix's saved system.reg and Windows paths lead through the prefix's dosdevices/.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace platform {

constexpr uint32_t kErrorInvalidData = 13;
constexpr uint32_t kErrorMoreData = 234;

using RegistryKey = intptr_t;  // 0 is never valid

// Opens `subKey` under HKEY_LOCAL_MACHINE for reading (RegOpenKeyA; the 64-bit build asks for
// the 32-bit view with KEY_WOW64_32KEY). 0 on failure, LastError 2 when there is no such key.
RegistryKey OpenMachineKey(const char* subKey);
// Reads the text value `name` (null or "" for the key's default value; a string or an
// unexpanded expandable string) with its terminating zero into `buffer` of `size` bytes. False
// with LastError 2 when there is no such value, 13 when it is not text, 234 when it does not fit.
bool QueryKeyText(RegistryKey key, const char* name, char* buffer, uint32_t size);
void CloseKey(RegistryKey key);

// GetPrivateProfileStringA for one key: the value of `key` in the first section named `section`
// of the initialisation file `fileName` (names compared without regard to case, blanks around
// the value removed, then one pair of surrounding quotes), else `defaultText` (trailing blanks
// removed, then surrounding quotes); a missing file, section or key gives the default. The text
// is cut to size - 1 bytes and terminated; returns its length. A file name without a separator
// is looked for in the Windows folder.
uint32_t ReadProfileString(const char* section, const char* key, const char* defaultText, char* out, uint32_t size,
                           const char* fileName);

// A path from the registry or an initialisation file as this system reaches it: on Windows the
// path itself. On POSIX a drive path (C:\...) leads through the Wine prefix's drive link, its
// backslashes become slashes and each element that exists takes the case it has on disk; a path
// on a drive without a link is returned as it is; other paths only have their backslashes
// turned into slashes.
std::string HostPath(const char* windowsPath);

// Names the registry these calls read, for messages: "the registry", or on POSIX "the registry
// of the Wine prefix PATH".
std::string RegistryName();

}  // namespace platform
