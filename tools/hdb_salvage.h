// Salvage: what can be read of a damaged database, written into a new one. The damaged file is
// walked as verify walks it, keeping going past every fault; every key reached whose name could
// be read is written, in the original order, with as much of its value as its chain holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/result.h"
#include "tools/structure_scan.h"

namespace hdb {
class DatabaseManager;
}  // namespace hdb
namespace fileservice {
class FileService;
}  // namespace fileservice

namespace tools {

struct SalvageReport {
    uint32_t keysWritten = 0;
    std::vector<std::string> lost;  // "PATH: why", one per key lost with everything below it
    std::vector<std::string> cut;   // "PATH: ...", one per value that could not be read whole
};

// Writes the keys that `scan` (of `source`, made with keepGoing) reached into a new database at
// `target`, and fills `report`. Failed, saying why, and then no file is left at `target`.
support::Result SalvageDatabase(hdb::DatabaseManager& db, fileservice::FileService& files, RawDatabase& source,
                                const ScanResult& scan, const char* target, SalvageReport& report);

}  // namespace tools
