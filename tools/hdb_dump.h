// A readable listing of a database's key tree: one key a line, indented by its depth, with its
// value as text when every byte is printable and as hex bytes otherwise; or the same tree as
// JSON for scripts.
#pragma once

#include <cstdint>
#include <string>

namespace hdb {
class DatabaseManager;
}  // namespace hdb

namespace tools {

class OutputSink;
struct WalkCount;

// Indentation stops growing at this depth; deeper lines say their depth instead, so that the
// listing of a very deep tree stays as long as its keys, not as the square of its depth.
constexpr uint32_t kDumpIndentDepth = 64;

// Writes the listing of the open database `database`, from the root key down, to `out`. 0, or
// -1 when a key of the tree cannot be read (what could be read is listed, and the line of the
// unreadable key says so) or the output failed.
// The tree is walked from the root key whatever the header's keyCount says; `count`, when
// given, gets what was listed.
int32_t DumpKeyTree(hdb::DatabaseManager& db, int32_t database, OutputSink& out, WalkCount* count = nullptr);
// The same, appended to a text.
int32_t DumpKeyTree(hdb::DatabaseManager& db, int32_t database, std::string& out);

// The same tree as one JSON object: {"keys": [key]}, each key {"name", "size", "text" or "hex",
// "subkeys": [...]} on a line of its own; a key that cannot be read is {"id", "error"}.
int32_t DumpKeyTreeJson(hdb::DatabaseManager& db, int32_t database, OutputSink& out, WalkCount* count = nullptr);

// The text of one value as the listing shows it: "" for an empty value, "text" in quotes when
// every byte is printable (quote and backslash escaped), else the byte count and the bytes in hex.
std::string FormatValue(const uint8_t* bytes, uint32_t size);

}  // namespace tools
