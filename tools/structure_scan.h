// The whole structure of a database file, walked from its raw blocks: the free list's chain,
// the key tree from the root down (children in list order) and the free-block list, with every
// block accounted for. The walk keeps going past every fault it finds, follows no link twice,
// keeps its own stack and reads every block a bounded number of times, so no input makes it
// loop, recurse or grow without end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/raw_database.h"

namespace tools {

enum class ProblemPlace { Header, FreeList, Block, Key };

struct StructureProblem {
    ProblemPlace place;
    int64_t key;     // for Key: the index in ScanResult::keys, -1 for the root that could not be reached
    uint32_t block;      // the block concerned; for lost blocks the first of the run
    uint32_t lastBlock;  // for lost blocks the last of the run, else `block`
    std::string text;
};

struct ScannedKey {
    uint32_t id;      // its first block
    int64_t parent;   // index of the key whose list names it; -1 for the root
    uint32_t entry;   // its place in that list
    uint32_t depth;   // 1 for the root
    // A lost key: the entry names no key, or the key's name cannot be read. Nothing of it or
    // below it is kept.
    bool lost = false;
    std::string lostReason;
    std::string name;  // as stored, cut at a zero byte
    uint32_t parentField = 0;
    uint16_t attr1 = 0;
    uint16_t attr2 = 0;
    uint32_t subKeyCount = 0;    // entries its header counts
    uint32_t entriesListed = 0;  // of them, those its chain holds
    uint32_t valueOffset = 0;
    uint32_t streamLength = 0;
    uint32_t valueSize = 0;      // what the header and the stream length say
    uint32_t valueReadable = 0;  // the part of it that its chain holds
    uint32_t valueLengthField = 0;  // what the header's value length word says
    std::vector<uint32_t> blocks;  // its chain as walked
};

// A key that no list reaches: the first block of a chain, in no chain the walk followed and not
// free, that holds a sound key header. Only named, never walked.
struct OrphanKey {
    uint32_t id;
    uint32_t parentField;
    std::string name;
    uint32_t valueSize;
};

struct ScanResult {
    std::string refusal;  // why the file is not a database; "" when it is one
    hdb::DatabaseHeader header{};
    uint32_t blocksInFile = 0;
    bool readFailed = false;  // a block could not be read: the picture is incomplete
    std::vector<ScannedKey> keys;  // in tree order: a key, then its sub-keys in list order
    std::vector<StructureProblem> problems;
    std::vector<OrphanKey> orphans;  // in block order

    uint32_t keysFound = 0;       // keys whose header was read (lost ones whose name was not, too)
    uint32_t keyBlocks = 0;       // blocks of key chains
    uint32_t freeListBlocks = 0;  // blocks of the free list's own chain
    uint32_t freeBlocks = 0;      // blocks its entries name, once each
    uint32_t lostBlocks = 0;      // blocks in no chain and not free
    uint32_t maxDepth = 0;
    uint64_t nameBytes = 0;
    uint64_t valueBytes = 0;
    int64_t largestList = -1;     // index of the key with the most sub-keys
};

// Walks the file. With `keepGoing` false, a file that is not a database is refused after its
// header (the refusal is set and nothing else is read); with it true the walk goes on anyway.
ScanResult ScanStructure(RawDatabase& raw, bool keepGoing);

// The key's path from the root, names joined by '\' as key_text.h writes them; a lost key shows
// as <sub-key N, block B> under its parent. Very deep paths keep their first and last names.
std::string KeyPath(const ScanResult& result, int64_t index);

// The path each orphan would have, in the order of `orphans`: its parent field followed up to a
// key of the tree, through other orphans; "<no key>" stands for a parent that is neither, and
// "..." for what lies above the last 40 orphans of a longer chain (or of a loop).
std::vector<std::string> OrphanPaths(const ScanResult& result);

// Where a problem lies, as its line begins: "header", "free list", "block N" or a key path.
std::string ProblemWhere(const ScanResult& result, const StructureProblem& problem);

// The number of keys that were lost, with everything below them.
uint32_t LostKeyCount(const ScanResult& result);

// The bytes of the key's value that its chain holds (valueReadable of them). False when a
// block cannot be read.
bool ReadKeyValue(RawDatabase& raw, const ScannedKey& key, std::string& value);

}  // namespace tools
