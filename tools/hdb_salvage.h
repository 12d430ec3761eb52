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
    uint64_t valueBytesWritten = 0;
    // What the scan found: keys whose header could be read (in the tree, lost from it, or
    // reached by no list), and the value bytes their headers claim.
    uint32_t keysFound = 0;
    uint64_t valueBytesFound = 0;
    std::vector<std::string> lost;  // "PATH: why", one per key lost with everything below it
    std::vector<std::string> cut;   // "PATH: ...", one per value that could not be read whole

    // Every key and value byte found was written.
    bool Whole() const {
        return lost.empty() && cut.empty() && keysWritten >= keysFound && valueBytesWritten >= valueBytesFound;
    }
};

// Fills the lines, keysFound and valueBytesFound of `report` from `scan`: what a copy of the
// tree the scan walked cannot hold. The keys written stay as they are.
void ListLosses(const ScanResult& scan, SalvageReport& report);

// The summary line of a copy that is not whole: "N of M keys and B of V value bytes written".
std::string LossSummary(const SalvageReport& report);

// Writes the keys that `scan` (of `source`, made with keepGoing) reached into a new database at
// `target`, and fills `report`. Failed, saying why, and then no file is left at `target`.
support::Result SalvageDatabase(hdb::DatabaseManager& db, fileservice::FileService& files, RawDatabase& source,
                                const ScanResult& scan, const char* target, SalvageReport& report);

}  // namespace tools
