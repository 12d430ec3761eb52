#include "tools/hdb_salvage.h"

#include <algorithm>

#include "tools/text_form.h"

using support::Result;
using fileservice::FileService;

namespace tools {

namespace {

// The kept keys of a scan, as the source of a new database.
class SalvagedKeys : public KeySource {
public:
    SalvagedKeys(RawDatabase& raw, const ScanResult& scan) : raw_(raw), scan_(scan) {
        std::vector<int64_t> keptAs(scan.keys.size(), -1);
        for (size_t i = 0; i < scan.keys.size(); ++i) {
            const ScannedKey& key = scan.keys[i];
            // A lost key is never anyone's parent: the walk does not go below it.
            if (key.lost || (key.parent >= 0 && keptAs[static_cast<size_t>(key.parent)] < 0)) continue;
            keptAs[i] = static_cast<int64_t>(kept_.size());
            kept_.push_back(i);
            parents_.push_back(key.parent < 0 ? -1 : keptAs[static_cast<size_t>(key.parent)]);
            valueBytes_ += key.valueReadable;
        }
    }

    int32_t appValue() const override { return scan_.header.appValue; }
    size_t count() const override { return kept_.size(); }
    int64_t parent(size_t index) const override { return parents_[index]; }
    const std::string& name(size_t index) const override { return Key(index).name; }
    uint16_t attr1(size_t index) const override { return Key(index).attr1; }
    uint16_t attr2(size_t index) const override { return Key(index).attr2; }
    bool value(size_t index, std::string& bytes) override { return ReadKeyValue(raw_, Key(index), bytes); }
    // What the values of the kept keys hold: the written database is read back against them.
    uint64_t valueBytes() const { return valueBytes_; }

private:
    const ScannedKey& Key(size_t index) const { return scan_.keys[kept_[index]]; }

    RawDatabase& raw_;
    const ScanResult& scan_;
    std::vector<size_t> kept_;
    std::vector<int64_t> parents_;
    uint64_t valueBytes_ = 0;
};

}  // namespace

void ListLosses(const ScanResult& scan, SalvageReport& report) {
    report.keysFound = 0;
    report.valueBytesFound = 0;
    for (size_t i = 0; i < scan.keys.size(); ++i) {
        const ScannedKey& key = scan.keys[i];
        // Paths only for what is reported: building one costs the key's depth.
        const auto path = [&] { return KeyPath(scan, static_cast<int64_t>(i)); };
        report.keysFound += 1;
        if (key.lost) {
            report.lost.push_back(path() + ": " + key.lostReason);
            continue;
        }
        // A length word that says more than the stream holds may be the damaged one of the two.
        const uint32_t claimed = std::max(key.valueSize, key.valueLengthField);
        report.valueBytesFound += claimed;
        if (key.valueReadable < claimed)
            report.cut.push_back(path() + ": kept " + std::to_string(key.valueReadable) + " of its value's " +
                                 std::to_string(claimed) + " bytes");
        if (key.entriesListed < key.subKeyCount)
            report.lost.push_back(path() + ": " + std::to_string(key.subKeyCount - key.entriesListed) + " of its " +
                                  std::to_string(key.subKeyCount) +
                                  " sub-key entries lie beyond its chain; what they name is lost");
    }
    const std::vector<std::string> orphanPaths = OrphanPaths(scan);
    for (size_t i = 0; i < scan.orphans.size(); ++i) {
        const OrphanKey& orphan = scan.orphans[i];
        report.keysFound += 1;
        report.valueBytesFound += orphan.valueSize;
        report.lost.push_back(orphanPaths[i] + ": key in block " + std::to_string(orphan.id) +
                              ", which no readable sub-key list names");
    }
}

std::string LossSummary(const SalvageReport& report) {
    return std::to_string(report.keysWritten) + " of " + std::to_string(report.keysFound) + " keys and " +
           std::to_string(report.valueBytesWritten) + " of " + std::to_string(report.valueBytesFound) +
           " value bytes written";
}

Result SalvageDatabase(hdb::DatabaseManager& db, FileService& files, RawDatabase& source, const ScanResult& scan,
                       const char* target, SalvageReport& report) {
    ListLosses(scan, report);
    SalvagedKeys keys(source, scan);
    Result written = WriteNewDatabase(db, files, target, keys);
    if (written) {
        report.keysWritten = static_cast<uint32_t>(keys.count());
        report.valueBytesWritten = keys.valueBytes();
    }
    return written;
}

}  // namespace tools
