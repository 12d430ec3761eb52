// How the tools write key names, key paths and values as text, and read them back.
//
// A key path is the names from the root down, joined by a backslash. Inside a name, printable
// ASCII stands for itself except '%', '\' and ']'; those and every byte outside 0x20..0x7E are
// written %HH (two hex digits), so any name, of any bytes, has exactly one spelling.
//
// A value is written "text" when every byte is printable ASCII, tab, CR or LF (with \" \\ \t \r
// \n escaped), else as hex:HH HH ... Reading also takes \xHH inside quotes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/result.h"

namespace tools {

constexpr char kKeyPathSeparator = '\\';

// Appends one name as an element of a key path.
void AppendPathName(std::string& out, std::string_view name);

// Splits a key path into its names. Failed, saying why, on a bad %-escape.
support::Result ParseKeyPath(std::string_view text, std::vector<std::string>& names);

// Appends the value form of `bytes`: "text" or hex:HH HH ...
void AppendValueText(std::string& out, std::string_view bytes);

// Reads a value form (the whole of `text`). Failed, saying why, when it is neither.
support::Result ParseValueText(std::string_view text, std::string& bytes);

// Appends `bytes` as a JSON string, each byte taken as the character of the same number
// (U+0000..U+00FF), so that any bytes survive.
void AppendJsonString(std::string& out, std::string_view bytes);

// Lower-case hex of one byte.
void AppendHexByte(std::string& out, uint8_t byte);

}  // namespace tools
