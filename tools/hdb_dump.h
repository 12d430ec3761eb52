// A readable listing of a database's key tree: one key a line, indented by its depth, with its
// value as text when every byte is printable and as hex bytes otherwise.
#pragma once

#include <cstdint>
#include <string>

class DatabaseManager;

// Appends the listing of the open database `database`, from the root key down, to `out`.
// 0, or -1 when a key of the tree cannot be read (what could be read is listed, and the line
// of the unreadable key says so).
int32_t DumpKeyTree(DatabaseManager& db, int32_t database, std::string& out);

// The text of one value as the listing shows it: "" for an empty value, "text" in quotes when
// every byte is printable (quote and backslash escaped), else the byte count and the bytes in hex.
std::string FormatValue(const uint8_t* bytes, uint32_t size);
