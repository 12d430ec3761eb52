// The Wine prefix whose registry and drives the POSIX settings calls read.
#pragma once

#include <string>

namespace platform::posix {

// The prefix folder, without a trailing slash: the selected one, else $WINEPREFIX, else ~/.wine.
std::string WinePrefix();

// The whole content of a file; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* content);

// ASCII case folding, as the registry and initialisation files compare names.
bool SameTextIgnoringCase(const std::string& a, const std::string& b);
std::string LowerCase(std::string text);

}  // namespace platform::posix
