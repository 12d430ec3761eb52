#include "tools/structure_scan.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>
#include <utility>

#include "tools/key_text.h"

using namespace hdb;

namespace tools {

namespace {

// Who holds a block, one word per block of the file.
constexpr uint32_t kNoOwner = 0;
constexpr uint32_t kFreeChainOwner = 1;  // a block of the free list's own chain
constexpr uint32_t kFreeEntryOwner = 2;  // named by an entry of the free list
constexpr uint32_t kKeyOwnerBase = 3;    // + the key's index

constexpr size_t kPathNamesShown = 40;  // a deeper path keeps its first and last names

std::string Hex8(uint32_t value) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

std::string Blocks(uint64_t count) { return std::to_string(count) + (count == 1 ? " block" : " blocks"); }

// The fields of a key header in a block's payload.
struct RawKeyHeader {
    uint32_t parent;
    uint16_t attr1, attr2, nameOffset, nameLength, listOffset;
    uint32_t count;
    uint32_t valueOffset;
    uint32_t valueLength;

    explicit RawKeyHeader(const uint8_t* p)
        : parent(RawWord(p)),
          attr1(RawHalf(p + 4)),
          attr2(RawHalf(p + 6)),
          nameOffset(RawHalf(p + 8)),
          nameLength(RawHalf(p + 10)),
          listOffset(RawHalf(p + 12)),
          count(static_cast<uint32_t>(p[19]) << 16 | RawHalf(p + 14)),
          valueOffset(static_cast<uint32_t>(p[18]) << 16 | RawHalf(p + 16)),
          valueLength(RawWord(p + 20)) {}
};

// Why a header does not describe a key ("" when it does): the name lies before the list and the
// entries in use fit the list's room.
std::string HeaderMisfit(const RawKeyHeader& h) {
    if (h.nameOffset != kKeyHeaderSize) return "its name offset is " + std::to_string(h.nameOffset) + ", not 28";
    if (kKeyHeaderSize + h.nameLength + 1u > h.listOffset)
        return "its sub-key list offset " + std::to_string(h.listOffset) + " lies inside its name of " +
               std::to_string(h.nameLength) + " bytes";
    if (h.listOffset > h.valueOffset)
        return "its sub-key list offset " + std::to_string(h.listOffset) + " lies beyond its value offset " +
               std::to_string(h.valueOffset);
    if (static_cast<uint64_t>(h.count) * kSubKeyEntrySize > h.valueOffset - h.listOffset)
        return "its " + std::to_string(h.count) + " sub-key entries do not fit the list's room of " +
               std::to_string(h.valueOffset - h.listOffset) + " bytes";
    return "";
}

// Appends bytes [from, to) of the stream in `blocks`, as far as the blocks hold them. False
// when a block cannot be read.
bool ReadChainStream(RawDatabase& raw, const std::vector<uint32_t>& blocks, uint64_t from, uint64_t to,
                     std::string& bytes) {
    uint8_t block[kBlockSize];
    for (uint64_t at = from; at < to;) {
        const uint64_t place = at / kChainPayload;
        if (place >= blocks.size()) break;
        if (!raw.ReadBlock(blocks[place], block)) return false;
        const uint64_t inBlock = at % kChainPayload;
        const uint64_t take = std::min<uint64_t>(kChainPayload - inBlock, to - at);
        bytes.append(reinterpret_cast<const char*>(block + 8 + inBlock), take);
        at += take;
    }
    return true;
}

class Scanner {
public:
    Scanner(RawDatabase& raw, ScanResult& result) : raw_(raw), r_(result), n_(raw.blocksInFile()) {}

    void Run() {
        owner_.assign(n_, kNoOwner);
        CheckHeader();
        WalkFreeListChain();
        WalkTree();
        TakeFreeEntries();
        FindLostBlocks();
        FindOrphanKeys();
        CheckCounts();
        r_.readFailed = raw_.readFailed();
    }

private:
    struct Frame {
        int64_t key;
        std::vector<uint32_t> ids;
        std::vector<uint32_t> hashes;
        size_t next = 0;
    };

    bool Stale() const { return r_.header.openForWrite != 0; }

    void Problem(ProblemPlace place, int64_t key, uint32_t block, std::string text) {
        r_.problems.push_back(StructureProblem{place, key, block, block, std::move(text)});
    }

    std::string OwnerText(uint32_t owner) const {
        if (owner == kFreeChainOwner) return "the free list's chain";
        if (owner == kFreeEntryOwner) return "the free list";
        return "key " + KeyPath(r_, static_cast<int64_t>(owner - kKeyOwnerBase));
    }

    void CheckHeader() {
        const DatabaseHeader& h = r_.header;
        if (!r_.refusal.empty()) Problem(ProblemPlace::Header, -1, 0, "not a database: " + r_.refusal);
        const std::string leftOpen = LeftOpenNote(raw_.files(), raw_);
        if (!leftOpen.empty()) Problem(ProblemPlace::Header, -1, 0, leftOpen);
        if (raw_.trailingBytes() != 0)
            Problem(ProblemPlace::Header, -1, 0,
                    "the file ends in a partial block of " + std::to_string(raw_.trailingBytes()) + " bytes");
        if (!Stale() && h.blockCount < n_)
            Problem(ProblemPlace::Header, -1, 0,
                    "the header's blockCount is " + std::to_string(h.blockCount) + ", but the file holds " +
                        Blocks(n_));
    }

    // Follows the chain whose first block `first` (its bytes in `head`, already checked) belongs
    // to `owner`, claiming each block, up to the first link that does not hold.
    void WalkChain(uint32_t first, const uint8_t* head, uint64_t length, uint32_t owner, ProblemPlace place,
                   int64_t key, std::vector<uint32_t>& blocks) {
        blocks.assign(1, first);
        owner_[first] = owner;
        uint32_t previous = first;
        uint32_t next = RawWord(head + 4);
        uint8_t block[kBlockSize];
        while (next != 0) {
            const std::string link = "block " + std::to_string(previous) + " links forward to block " + std::to_string(next);
            if (next >= n_) {
                Problem(place, key, previous, link + ", beyond the end of the file");
                break;
            }
            if (owner_[next] == owner) {
                Problem(place, key, next, link + ", which is already in this chain (a loop)");
                break;
            }
            if (owner_[next] != kNoOwner) {
                Problem(place, key, next, link + ", which belongs to " + OwnerText(owner_[next]) + " (a block in two chains)");
                break;
            }
            if (!raw_.ReadBlock(next, block)) {
                Problem(place, key, next, "block " + std::to_string(next) + " cannot be read");
                break;
            }
            const uint32_t back = RawWord(block);
            if (back != previous) {
                Problem(place, key, next,
                        link + ", whose back link names " +
                            (back == kReleasedBlockMark ? std::string("no block (it is a released block)")
                                                   : "block " + std::to_string(back)));
                break;
            }
            owner_[next] = owner;
            blocks.push_back(next);
            previous = next;
            next = RawWord(block + 4);
        }
        const uint64_t needed = length / kChainPayload + 1;
        if (blocks.size() < needed)
            Problem(place, key, first,
                    "its stream length " + std::to_string(length) + " needs " + Blocks(needed) +
                        ", but its chain holds " + Blocks(blocks.size()) + " (a stream length past its chain)");
    }

    std::string ReadStream(const std::vector<uint32_t>& blocks, uint64_t from, uint64_t to) {
        std::string bytes;
        ReadChainStream(raw_, blocks, from, to, bytes);
        return bytes;
    }

    void WalkFreeListChain() {
        const uint32_t first = r_.header.freeListBlock;
        if (first >= n_) {
            Problem(ProblemPlace::FreeList, -1, first,
                    "its first block " + std::to_string(first) + " lies beyond the end of the file");
            return;
        }
        uint8_t head[kBlockSize];
        if (!raw_.ReadBlock(first, head)) {
            Problem(ProblemPlace::FreeList, -1, first, "its first block " + std::to_string(first) + " cannot be read");
            return;
        }
        if (RawWord(head) == kReleasedBlockMark) {
            Problem(ProblemPlace::FreeList, -1, first, "its first block " + std::to_string(first) + " is a released block");
            return;
        }
        WalkChain(first, head, RawWord(head), kFreeChainOwner, ProblemPlace::FreeList, -1, freeChain_);
        r_.freeListBlocks = static_cast<uint32_t>(freeChain_.size());
        freeStreamLength_ = RawWord(head);
    }

    // Whether the chain from `first` (whose successor is `next`) links the blocks that a stream of
    // `length` bytes holds, each naming the one before it. Reads, claims nothing.
    bool ChainHoldsStream(uint32_t first, uint32_t next, uint32_t length) {
        uint32_t current = first;
        uint8_t block[kBlockSize];
        for (uint32_t place = 1; place <= length / kChainPayload; ++place) {
            if (next == 0 || next == first || next >= n_ || !raw_.ReadBlock(next, block) || RawWord(block) != current)
                return false;
            current = next;
            next = RawWord(block + 4);
        }
        return true;
    }

    // The stream length of the key whose first block is `head`, or -1 (with `misfit` saying why)
    // when the block holds no key. The server's own engine leaves the head's length word as it
    // stood when the stream first left that block unless a header field changed before the key
    // was released (names of about 139 bytes and more): a word shorter than the header needs is
    // that stale word when the stream did leave the head and the chain holds what the header
    // describes. Such a file is as the server writes it, so this is no problem of its own.
    int64_t KeyStreamLength(uint32_t id, const uint8_t* head, std::string& misfit) {
        const RawKeyHeader h(head + 8);
        const uint32_t length = RawWord(head);
        misfit = HeaderMisfit(h);
        if (!misfit.empty()) return -1;
        if (h.valueOffset <= length) return length;
        if (RawWord(head + 4) != 0 && ChainHoldsStream(id, RawWord(head + 4), h.valueOffset)) return h.valueOffset;
        misfit = "its value offset " + std::to_string(h.valueOffset) + " lies beyond its stream length " +
                 std::to_string(length);
        return -1;
    }

    // A lost key: its entry names no key, or its name cannot be read.
    int64_t AddLost(uint32_t id, int64_t parent, uint32_t entry, std::string reason) {
        ScannedKey key;
        key.id = id;
        key.parent = parent;
        key.entry = entry;
        key.depth = parent < 0 ? 1 : r_.keys[static_cast<size_t>(parent)].depth + 1;
        key.lost = true;
        key.lostReason = std::move(reason);
        r_.keys.push_back(std::move(key));
        return -1;
    }

    // Reaches the key in block `id`, named by entry `entry` (with `hash`) of the list of key
    // `parent` (-1 for the root). Its index, or -1 when it cannot be walked into.
    int64_t Reach(uint32_t id, int64_t parent, uint32_t entry, uint32_t hash, Frame& frame) {
        const bool root = parent < 0;
        const std::string named = root ? "block " + std::to_string(id)
                                       : "sub-key entry " + std::to_string(entry) + " names block " + std::to_string(id);
        auto refuse = [&](const std::string& why, bool lost) {
            Problem(ProblemPlace::Key, parent, id, named + ", " + why);
            return lost ? AddLost(id, parent, entry, why) : -1;
        };
        if (id == 0) return refuse("which is no key (block 0 heads the free list)", true);
        if (id >= n_) return refuse("beyond the end of the file", true);
        if (const uint32_t owner = owner_[id]; owner != kNoOwner) {
            if (owner >= kKeyOwnerBase && r_.keys[owner - kKeyOwnerBase].id == id)
                return refuse("which is " + OwnerText(owner) + ", already listed (listed twice, or a loop)", false);
            return refuse("which is a block of " + OwnerText(owner), true);
        }
        uint8_t head[kBlockSize];
        if (!raw_.ReadBlock(id, head)) return refuse("which cannot be read", true);
        if (RawWord(head) == kReleasedBlockMark) return refuse("which is a released block", true);
        const RawKeyHeader h(head + 8);
        std::string misfit;
        const int64_t streamLength = KeyStreamLength(id, head, misfit);
        if (streamLength < 0) return refuse("which holds no sound key header: " + misfit, true);
        const auto length = static_cast<uint32_t>(streamLength);

        const auto index = static_cast<int64_t>(r_.keys.size());
        r_.keys.emplace_back();
        ScannedKey& key = r_.keys.back();
        key.id = id;
        key.parent = parent;
        key.entry = entry;
        key.depth = root ? 1 : r_.keys[static_cast<size_t>(parent)].depth + 1;
        key.parentField = h.parent;
        key.attr1 = h.attr1;
        key.attr2 = h.attr2;
        key.subKeyCount = h.count;
        key.valueOffset = h.valueOffset;
        key.streamLength = length;
        key.valueSize = length - h.valueOffset;
        key.valueLengthField = h.valueLength;
        r_.keysFound += 1;
        std::vector<uint32_t> blocks;
        WalkChain(id, head, length, kKeyOwnerBase + static_cast<uint32_t>(index), ProblemPlace::Key, index, blocks);
        r_.keyBlocks += static_cast<uint32_t>(blocks.size());
        // `key` may have moved with the vector: reach it by index from here on.
        ScannedKey& k = r_.keys[static_cast<size_t>(index)];
        k.blocks = std::move(blocks);
        const uint64_t held = std::min<uint64_t>(length, static_cast<uint64_t>(k.blocks.size()) * kChainPayload);
        k.valueReadable = held > h.valueOffset ? static_cast<uint32_t>(held - h.valueOffset) : 0;

        if (kKeyHeaderSize + static_cast<uint64_t>(h.nameLength) > held) {
            k.lost = true;
            k.lostReason = "its name lies beyond what its chain holds";
            Problem(ProblemPlace::Key, index, id, k.lostReason);
            return -1;
        }
        ReadName(k, index, h, held);
        CheckPlaceInTree(k, index, h, hash);
        ReadSubKeyList(k, index, h, held, frame);
        if (k.valueReadable < k.valueSize)
            Problem(ProblemPlace::Key, index, id,
                    "only " + std::to_string(k.valueReadable) + " of its value's " + std::to_string(k.valueSize) +
                        " bytes lie within its chain");
        if (h.valueLength != k.valueSize)
            Problem(ProblemPlace::Key, index, id,
                    "its value length field says " + std::to_string(h.valueLength) + " bytes, but its value holds " +
                        std::to_string(k.valueSize));
        r_.nameBytes += k.name.size();
        r_.valueBytes += k.valueSize;
        if (k.depth > r_.maxDepth) r_.maxDepth = k.depth;
        if (r_.largestList < 0 || k.subKeyCount > r_.keys[static_cast<size_t>(r_.largestList)].subKeyCount)
            r_.largestList = index;
        return index;
    }

    void ReadName(ScannedKey& k, int64_t index, const RawKeyHeader& h, uint64_t held) {
        const uint64_t end = kKeyHeaderSize + static_cast<uint64_t>(h.nameLength);
        std::string name = ReadStream(k.blocks, kKeyHeaderSize, std::min<uint64_t>(end + 1, held));
        if (name.size() > h.nameLength) {
            if (name.back() != '\0') Problem(ProblemPlace::Key, index, k.id, "its name is not followed by a zero byte");
            name.pop_back();
        }
        if (const size_t zero = name.find('\0'); zero != std::string::npos) {
            Problem(ProblemPlace::Key, index, k.id,
                    "its name of " + std::to_string(h.nameLength) + " bytes holds a zero byte at place " +
                        std::to_string(zero) + "; it is cut there");
            name.resize(zero);
        }
        k.name = std::move(name);
    }

    void CheckPlaceInTree(const ScannedKey& k, int64_t index, const RawKeyHeader& h, uint32_t hash) {
        if (k.parent < 0) return;  // the root's parent field holds whatever its creator passed
        const ScannedKey& parent = r_.keys[static_cast<size_t>(k.parent)];
        if (h.parent != parent.id)
            Problem(ProblemPlace::Key, index, k.id,
                    "its parent field names block " + std::to_string(h.parent) + ", not block " +
                        std::to_string(parent.id) + ", whose list names it");
        if (const uint32_t own = NameHash(k.name.data(), k.name.size()); own != hash)
            Problem(ProblemPlace::Key, index, k.id,
                    "the name hash in its parent's list is " + Hex8(hash) + ", but its name's hash is " + Hex8(own));
    }

    void ReadSubKeyList(ScannedKey& k, int64_t index, const RawKeyHeader& h, uint64_t held, Frame& frame) {
        const uint64_t wanted = static_cast<uint64_t>(h.count) * kSubKeyEntrySize;
        const uint64_t room = held > h.listOffset ? held - h.listOffset : 0;
        const std::string list = ReadStream(k.blocks, h.listOffset, h.listOffset + std::min(wanted, room));
        const size_t entries = list.size() / kSubKeyEntrySize;
        if (entries < h.count)
            Problem(ProblemPlace::Key, index, k.id,
                    "only " + std::to_string(entries) + " of its " + std::to_string(h.count) +
                        " sub-key entries lie within its chain; the rest are lost");
        k.entriesListed = static_cast<uint32_t>(entries);
        frame.key = index;
        frame.ids.resize(entries);
        frame.hashes.resize(entries);
        for (size_t i = 0; i < entries; ++i) {
            const auto* entry = reinterpret_cast<const uint8_t*>(list.data()) + i * kSubKeyEntrySize;
            frame.ids[i] = RawWord(entry);
            frame.hashes[i] = RawWord(entry + 4);
        }
    }

    bool RootExpected() {
        if (n_ <= kRootKey) return false;
        if (r_.header.keyCount != 0 || Stale()) return true;
        // A database whose root was deleted holds no tree; a root still in block 1 is one.
        uint8_t head[kBlockSize];
        if (owner_[kRootKey] != kNoOwner || !raw_.ReadBlock(kRootKey, head)) return false;
        std::string misfit;
        return RawWord(head) != kReleasedBlockMark && KeyStreamLength(kRootKey, head, misfit) >= 0;
    }

    // Tree order with a stack of its own: a key is reached before its sub-keys, and a sub-key's
    // whole subtree before the next sub-key.
    void WalkTree() {
        if (!RootExpected()) return;
        std::vector<Frame> stack(1);
        if (Reach(kRootKey, -1, 0, 0, stack.back()) < 0) return;
        while (!stack.empty()) {
            Frame& top = stack.back();
            if (top.next == top.ids.size()) {
                stack.pop_back();
                continue;
            }
            const size_t place = top.next++;
            const uint32_t id = top.ids[place];
            const uint32_t hash = top.hashes[place];
            const int64_t parent = top.key;
            Frame child;
            if (Reach(id, parent, static_cast<uint32_t>(place), hash, child) >= 0) stack.push_back(std::move(child));
        }
    }

    void TakeFreeEntries() {
        const DatabaseHeader& h = r_.header;
        if (freeChain_.empty()) return;
        if (freeStreamLength_ % 4 != 0)
            Problem(ProblemPlace::FreeList, -1, h.freeListBlock,
                    "its stream length " + std::to_string(freeStreamLength_) + " is not a whole number of entries");
        if (!Stale() && freeStreamLength_ / 4 != h.freeCount)
            Problem(ProblemPlace::FreeList, -1, h.freeListBlock,
                    "its stream holds " + std::to_string(freeStreamLength_ / 4) + " entries, but the header's freeCount is " +
                        std::to_string(h.freeCount));
        // The engine takes freeCount entries from the front of the stream.
        const uint64_t count = std::min<uint64_t>(h.freeCount, freeStreamLength_ / 4);
        const std::string stream = ReadStream(freeChain_, 0, count * 4);
        for (size_t i = 0; i + 4 <= stream.size(); i += 4) {
            const uint32_t block = RawWord(reinterpret_cast<const uint8_t*>(stream.data()) + i);
            const std::string entry = "entry " + std::to_string(i / 4) + " names block " + std::to_string(block);
            if (block == 0 || block >= n_) {
                Problem(ProblemPlace::FreeList, -1, block,
                        entry + (block == 0 ? ", which heads the free list" : ", beyond the end of the file"));
                continue;
            }
            const uint32_t owner = owner_[block];
            if (owner == kNoOwner) {
                owner_[block] = kFreeEntryOwner;
                r_.freeBlocks += 1;
            } else if (owner == kFreeEntryOwner) {
                Problem(ProblemPlace::FreeList, -1, block, entry + ", which an earlier entry names too");
            } else {
                Problem(ProblemPlace::FreeList, -1, block,
                        entry + ", which is in use by " + OwnerText(owner) + " (a free-list entry in use)");
            }
        }
    }

    void FindLostBlocks() {
        for (uint32_t b = 0; b < n_;) {
            if (owner_[b] != kNoOwner) {
                ++b;
                continue;
            }
            uint32_t end = b;
            while (end + 1 < n_ && owner_[end + 1] == kNoOwner) ++end;
            r_.lostBlocks += end - b + 1;
            Problem(ProblemPlace::Block, -1, b, "in no chain and not in the free list (lost)");
            r_.problems.back().lastBlock = end;
            if (end == n_ - 1) break;
            b = end + 1;
        }
    }

    // The lost blocks that begin a key's chain: not released, named by no lost block's forward
    // link, and holding a sound key header with its name in the block.
    void FindOrphanKeys() {
        if (r_.lostBlocks == 0) return;
        std::vector<bool> followed(n_, false);
        uint8_t block[kBlockSize];
        for (uint32_t b = 1; b < n_; ++b) {
            if (owner_[b] != kNoOwner || !raw_.ReadBlock(b, block) || RawWord(block) == kReleasedBlockMark) continue;
            const uint32_t next = RawWord(block + 4);
            if (next < n_ && owner_[next] == kNoOwner) followed[next] = true;
        }
        for (uint32_t b = 1; b < n_; ++b) {
            if (owner_[b] != kNoOwner || followed[b] || !raw_.ReadBlock(b, block) ||
                RawWord(block) == kReleasedBlockMark)
                continue;
            std::string misfit;
            const int64_t length = KeyStreamLength(b, block, misfit);
            const RawKeyHeader h(block + 8);
            if (length < 0 || kKeyHeaderSize + static_cast<uint64_t>(h.nameLength) > kChainPayload) continue;
            std::string name(reinterpret_cast<const char*>(block + 8 + kKeyHeaderSize), h.nameLength);
            if (const size_t zero = name.find('\0'); zero != std::string::npos) name.resize(zero);
            r_.orphans.push_back(OrphanKey{b, h.parent, std::move(name), static_cast<uint32_t>(length) - h.valueOffset});
        }
    }

    void CheckCounts() {
        if (Stale()) return;
        if (r_.header.keyCount != r_.keysFound)
            Problem(ProblemPlace::Header, -1, 0,
                    "the header's keyCount is " + std::to_string(r_.header.keyCount) + ", but the tree holds " +
                        std::to_string(r_.keysFound) + (r_.keysFound == 1 ? " key" : " keys"));
    }

    RawDatabase& raw_;
    ScanResult& r_;
    const uint32_t n_;
    std::vector<uint32_t> owner_;
    std::vector<uint32_t> freeChain_;
    uint32_t freeStreamLength_ = 0;
};

}  // namespace

ScanResult ScanStructure(RawDatabase& raw, bool keepGoing) {
    ScanResult result;
    result.header = raw.header();
    result.blocksInFile = raw.blocksInFile();
    result.refusal = NotADatabaseReason(raw);
    if (!result.refusal.empty() && !keepGoing) {
        result.problems.push_back(StructureProblem{ProblemPlace::Header, -1, 0, 0, "not a database: " + result.refusal});
        return result;
    }
    Scanner(raw, result).Run();
    return result;
}

std::string KeyPath(const ScanResult& result, int64_t index) {
    if (index < 0) return "the root key";
    std::vector<int64_t> chain;
    for (int64_t at = index; at >= 0; at = result.keys[static_cast<size_t>(at)].parent) chain.push_back(at);
    std::string path;
    const size_t names = chain.size();
    for (size_t i = 0; i < names; ++i) {
        const bool hidden = names > kPathNamesShown && i >= kPathNamesShown / 2 && i < names - kPathNamesShown / 2;
        if (hidden) {
            if (i == kPathNamesShown / 2) path += "\\...(" + std::to_string(names - kPathNamesShown) + " more)...";
            continue;
        }
        if (i > 0) path += kKeyPathSeparator;
        const ScannedKey& key = result.keys[static_cast<size_t>(chain[names - 1 - i])];
        if (key.lost && key.name.empty() && key.parent < 0)
            path += "<the root key, block " + std::to_string(key.id) + ">";
        else if (key.lost && key.name.empty())
            path += "<sub-key " + std::to_string(key.entry) + ", block " + std::to_string(key.id) + ">";
        else
            AppendPathName(path, key.name);
    }
    return path;
}

std::vector<std::string> OrphanPaths(const ScanResult& result) {
    std::unordered_map<uint32_t, size_t> keyAt, orphanAt;
    for (size_t i = 0; i < result.keys.size(); ++i) keyAt.emplace(result.keys[i].id, i);
    for (size_t i = 0; i < result.orphans.size(); ++i) orphanAt.emplace(result.orphans[i].id, i);
    std::vector<std::string> paths;
    paths.reserve(result.orphans.size());
    std::vector<size_t> chain;
    for (size_t first = 0; first < result.orphans.size(); ++first) {
        // Up through the parent fields, at most kPathNamesShown orphans: a loop or a long chain
        // of them is cut there.
        chain.clear();
        std::string top = "<no key>";
        for (size_t at = first;;) {
            chain.push_back(at);
            const uint32_t parent = result.orphans[at].parentField;
            if (const auto inTree = keyAt.find(parent); inTree != keyAt.end()) {
                top = KeyPath(result, static_cast<int64_t>(inTree->second));
                break;
            }
            const auto above = orphanAt.find(parent);
            if (above == orphanAt.end()) break;
            if (chain.size() == kPathNamesShown) {
                top = "...";
                break;
            }
            at = above->second;
        }
        std::string path = std::move(top);
        for (auto at = chain.rbegin(); at != chain.rend(); ++at) {
            path += kKeyPathSeparator;
            AppendPathName(path, result.orphans[*at].name);
        }
        paths.push_back(std::move(path));
    }
    return paths;
}

std::string ProblemWhere(const ScanResult& result, const StructureProblem& problem) {
    switch (problem.place) {
        case ProblemPlace::Header: return "header";
        case ProblemPlace::FreeList: return "free list";
        case ProblemPlace::Block:
            if (problem.lastBlock == problem.block) return "block " + std::to_string(problem.block);
            return "blocks " + std::to_string(problem.block) + " to " + std::to_string(problem.lastBlock);
        case ProblemPlace::Key: break;
    }
    return KeyPath(result, problem.key);
}

uint32_t LostKeyCount(const ScanResult& result) {
    uint32_t lost = 0;
    for (const ScannedKey& key : result.keys) lost += key.lost ? 1 : 0;
    return lost;
}

bool ReadKeyValue(RawDatabase& raw, const ScannedKey& key, std::string& value) {
    value.clear();
    return ReadChainStream(raw, key.blocks, key.valueOffset, static_cast<uint64_t>(key.valueOffset) + key.valueReadable,
                           value);
}

}  // namespace tools
