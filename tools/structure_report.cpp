#include "tools/structure_report.h"

#include <cstring>
#include <vector>

#include "tools/key_text.h"
#include "tools/output_sink.h"

using hdb::DatabaseHeader;
using hdb::kDatabaseSignature;

namespace tools {

namespace {

const char* PlaceName(ProblemPlace place) {
    switch (place) {
        case ProblemPlace::Header: return "header";
        case ProblemPlace::FreeList: return "free list";
        case ProblemPlace::Block: return "block";
        case ProblemPlace::Key: break;
    }
    return "key";
}

std::string Plural(uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

bool SignatureOk(const DatabaseHeader& header) {
    char expected[sizeof header.signature] = {};
    std::memcpy(expected, kDatabaseSignature, sizeof kDatabaseSignature - 1);
    return std::memcmp(header.signature, expected, sizeof expected) == 0;
}

std::string LargestList(const ScanResult& scan) {
    if (scan.largestList < 0) return "0";
    const ScannedKey& key = scan.keys[static_cast<size_t>(scan.largestList)];
    return std::to_string(key.subKeyCount) + " (" + KeyPath(scan, scan.largestList) + ")";
}

}  // namespace

int32_t VerifyExitCode(const ScanResult& scan) { return scan.problems.empty() ? 0 : 1; }

bool WriteVerifyReport(const ScanResult& scan, const std::string& file, bool json, OutputSink& out) {
    const uint32_t lost = LostKeyCount(scan);
    std::string text;
    if (json) {
        text = "{\"file\": ";
        AppendJsonString(text, file);
        text += std::string(", \"sound\": ") + (scan.problems.empty() ? "true" : "false");
        text += ", \"problems\": [";
        for (size_t i = 0; i < scan.problems.size(); ++i) {
            const StructureProblem& p = scan.problems[i];
            text += i == 0 ? "\n" : ",\n";
            text += std::string("{\"place\": \"") + PlaceName(p.place) + "\", \"where\": ";
            AppendJsonString(text, ProblemWhere(scan, p));
            text += ", \"block\": " + std::to_string(p.block) + ", \"problem\": ";
            AppendJsonString(text, p.text);
            text += '}';
        }
        text += "],\n\"lostKeys\": [";
        bool first = true;
        for (size_t i = 0; i < scan.keys.size(); ++i) {
            if (!scan.keys[i].lost) continue;
            text += first ? "" : ", ";
            first = false;
            AppendJsonString(text, KeyPath(scan, static_cast<int64_t>(i)));
        }
        text += "]}\n";
        return out.Write(text);
    }
    for (const StructureProblem& p : scan.problems) {
        text = ProblemWhere(scan, p) + ": " + p.text + "\n";
        if (!out.Write(text)) return false;
    }
    if (scan.problems.empty())
        text = file + ": sound (" + Plural(scan.keysFound, "key", "keys") + ", " +
               Plural(scan.blocksInFile, "block", "blocks") + ")\n";
    else
        text = file + ": " + Plural(scan.problems.size(), "problem", "problems") +
               (lost > 0 ? "; " + Plural(lost, "key is", "keys are") + " lost with everything below them" : "") + "\n";
    return out.Write(text);
}

bool WriteStatReport(const ScanResult& scan, const std::string& file, uint64_t fileSize, const std::string& mirror,
                     bool json, OutputSink& out) {
    const DatabaseHeader& h = scan.header;
    const uint64_t inUse = static_cast<uint64_t>(scan.keyBlocks) + scan.freeListBlocks;
    struct Field {
        const char* text;
        const char* json;
        std::string value;
        bool quoted;
    };
    const std::vector<Field> fields = {
        {"file", "file", file, true},
        {"size", "size", std::to_string(fileSize), false},
        {"signature", "signature", SignatureOk(h) ? "ok" : "missing", true},
        {"format number", "formatNumber", std::to_string(h.formatNumber), false},
        {"header size", "headerSize", std::to_string(h.headerSize), false},
        {"app value", "appValue", std::to_string(h.appValue), false},
        {"block count", "blockCount", std::to_string(h.blockCount), false},
        {"key count", "keyCount", std::to_string(h.keyCount), false},
        {"free-list block", "freeListBlock", std::to_string(h.freeListBlock), false},
        {"free count", "freeCount", std::to_string(h.freeCount), false},
        {"open for write", "openForWrite", std::to_string(h.openForWrite), false},
        {"mirror", "mirror", mirror.empty() ? "none" : mirror, true},
        {"blocks in file", "blocksInFile", std::to_string(scan.blocksInFile), false},
        {"keys", "keys", std::to_string(scan.keysFound), false},
        {"depth", "depth", std::to_string(scan.maxDepth), false},
        {"blocks in use", "blocksInUse", std::to_string(inUse), false},
        {"blocks of keys", "keyBlocks", std::to_string(scan.keyBlocks), false},
        {"blocks of the free list's chain", "freeListChainBlocks", std::to_string(scan.freeListBlocks), false},
        {"blocks free", "blocksFree", std::to_string(scan.freeBlocks), false},
        {"blocks lost", "blocksLost", std::to_string(scan.lostBlocks), false},
        {"bytes in names", "nameBytes", std::to_string(scan.nameBytes), false},
        {"bytes in values", "valueBytes", std::to_string(scan.valueBytes), false},
        {"largest sub-key list", "largestSubKeyList", LargestList(scan), true},
        {"problems", "problems", std::to_string(scan.problems.size()), false},
    };
    std::string text;
    if (!json) {
        for (const Field& f : fields) text += std::string(f.text) + ": " + f.value + "\n";
        return out.Write(text);
    }
    text = "{";
    for (size_t i = 0; i < fields.size(); ++i) {
        const Field& f = fields[i];
        text += std::string(i == 0 ? "" : ", ") + "\"" + f.json + "\": ";
        if (std::strcmp(f.json, "mirror") == 0 && mirror.empty()) {
            text += "null";
        } else if (std::strcmp(f.json, "largestSubKeyList") == 0) {
            const bool any = scan.largestList >= 0;
            text += "{\"entries\": " +
                    std::to_string(any ? scan.keys[static_cast<size_t>(scan.largestList)].subKeyCount : 0) + ", \"path\": ";
            if (any) AppendJsonString(text, KeyPath(scan, scan.largestList));
            else text += "null";
            text += "}";
        } else if (f.quoted) {
            AppendJsonString(text, f.value);
        } else {
            text += f.value;
        }
    }
    text += "}\n";
    return out.Write(text);
}

}  // namespace tools
