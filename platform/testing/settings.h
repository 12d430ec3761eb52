// For tests: settings stores set up as an installation would leave them.
#pragma once

namespace platform {

// Write a text value (creating the key) and delete a key without sub-keys, in the same view the
// reads of platform/settings.h use.
bool WriteMachineKeyText(const char* subKey, const char* name, const char* text);
bool DeleteMachineKey(const char* subKey);
// POSIX: read the Wine prefix at `path` (null: $WINEPREFIX, else ~/.wine). False on Windows,
// which has only its own registry.
bool SelectWinePrefix(const char* path);

}  // namespace platform
