// Operations on the key tree: create, find, list, rename and delete keys, and their header
// fields. Each key's sub-key list holds (key id, name hash) entries in the order of adding.
#include <cstring>
#include <string_view>

#include "hdb/chain.h"
#include "hdb/counted_array.h"
#include "hdb/database_manager.h"
#include "hdb/database_record.h"
#include "hdb/free_list.h"
#include "hdb/key_node.h"
#include "hdb/node_cache.h"
#include "hdb/run_on_database.h"
#include "hdb/sub_key_list.h"
#include "platform/platform.h"
#include "support/ascii_case.h"

namespace hdb {

namespace {

// Gives back every block of a key whose creation failed, and its node. A key still in its first
// block has written nothing: that block goes back as it is.
void DiscardNewKey(DatabaseRecord& db, KeyNode* node) {
    ChainCursor& cursor = node->cursor;
    ForgetKey(db, cursor.firstBlock);
    if (cursor.currentBlock == cursor.firstBlock && cursor.nextBlock == 0) {
        BlockFree(db, cursor.firstBlock);
        NodeFree(db, node);
        return;
    }
    const bool flushed = !cursor.dirty || ChainFlush(db, cursor) == 0;
    // Truncation checks the chain before it changes anything; when it cannot, the head block
    // alone goes back.
    if (!flushed || ChainTruncate(db, cursor, 0) != 0) BlockFree(db, cursor.firstBlock);
    NodeFree(db, node);
}

int64_t CreateKey(DatabaseRecord& db, uint32_t parent, const char* name) {
    const size_t length = std::strlen(name);
    if (length > kMaxNameAtCreate) return -1;
    DiscardSubKeyCache(db);
    KeyNode* node = NodeNew(db);
    if (!node) return -1;
    const int64_t block = BlockAlloc(db);
    if (block < 0) {
        NodeFree(db, node);
        return -1;
    }
    const auto keyId = static_cast<uint32_t>(block);
    ForgetKey(db, keyId);  // nothing remembered of an earlier key in this block may stay
    node->cursor.firstBlock = node->cursor.currentBlock = keyId;
    KeyHeader& header = node->header;
    header.parent = parent;
    header.nameOffset = kKeyHeaderSize;
    header.nameLength = static_cast<uint16_t>(length);
    header.subKeyListOffset = static_cast<uint16_t>(kKeyHeaderSize + length + 1);
    SetValueOffset(header, header.subKeyListOffset + kSubKeyListGrowth);

    static const uint8_t room[kSubKeyListGrowth] = {};
    const auto nameBytes = static_cast<uint32_t>(length + 1);
    const bool written = ChainWrite(db, node->cursor, &header, kKeyHeaderSize) == static_cast<int32_t>(kKeyHeaderSize) &&
                         ChainWrite(db, node->cursor, name, nameBytes) == static_cast<int32_t>(nameBytes) &&
                         ChainWrite(db, node->cursor, room, kSubKeyListGrowth) == static_cast<int32_t>(kSubKeyListGrowth);
    // The first key of a database is its root and enters no list. Any other is entered in its
    // parent's list, reached only now that the block is taken: a released parent's id can come
    // back from the free list as the new key's own, which must not list itself.
    const bool isRoot = db.header.keyCount == 0;
    if (!written || (!isRoot && (keyId == parent || SubKeyAdd(db, parent, keyId, name) != 0))) {
        DiscardNewKey(db, node);
        return -1;
    }
    db.header.keyCount += 1;
    return keyId;
}

// ---- Deletion ----

// A growable stack of keys being deleted, with the copy of each one's sub-key list.
struct DeleteFrame {
    uint32_t keyId;
    uint32_t count;
    uint32_t next;
    uint8_t* list;
};

class DeleteStack {
public:
    ~DeleteStack() {
        for (uint32_t i = 0; i < frames_.Count(); ++i) platform::Free(frames_[i].list);
    }
    bool Push(const DeleteFrame& frame) { return frames_.Append(frame); }
    void Pop() {
        platform::Free(frames_.Last().list);
        frames_.RemoveLast();
    }
    DeleteFrame& Top() { return frames_.Last(); }
    bool Empty() const { return frames_.Empty(); }
    bool Holds(uint32_t keyId) const {
        for (uint32_t i = 0; i < frames_.Count(); ++i)
            if (frames_[i].keyId == keyId) return true;
        return false;
    }

private:
    CountedArray<DeleteFrame> frames_{16};
};

// Whether the key's sub-key list names `keyId`. A list that cannot be read counts as naming
// it: a deletion then spares a key rather than take one it might have to keep.
bool ListsKey(DatabaseRecord& db, KeyNode& key, uint32_t keyId) {
    uint32_t count = 0;
    uint8_t* list = CopySubKeyList(db, key, count);
    if (!list) return true;
    bool listed = false;
    for (uint32_t index = 0; index < count && !listed; ++index) listed = EntryKey(list, index) == keyId;
    platform::Free(list);
    return listed;
}

// Whether key 1 is the root, that is in no parent's list. It is not when the root was deleted
// and made again: key 1 may then be an ordinary key anywhere in the tree.
bool KeyOneIsRoot(DatabaseRecord& db) {
    ReachedKey key(db, kRootKey);
    if (!key) return false;
    const uint32_t parent = key->header.parent;
    if (parent == kRootKey) return true;
    ReachedKey parentKey(db, parent);
    return !parentKey || !ListsKey(db, *parentKey, kRootKey);
}

// The keys above the one being deleted, by the parent fields, plus the root. A damaged list
// that names one of them must not take it down with the subtree. The walk ends at the root,
// the key its parent field's key does not list: that field holds whatever the root's creator
// passed and may name any key, also one inside the subtree.
class Ancestors {
public:
    Ancestors(DatabaseRecord& db, uint32_t keyId, uint32_t parent) {
        if (keyId != kRootKey && KeyOneIsRoot(db)) Add(kRootKey);
        uint32_t below = keyId;
        for (uint32_t steps = 0; parent != 0 && parent != keyId && !Holds(parent) && steps < db.header.blockCount;
             ++steps) {
            ReachedKey key(db, parent);
            if (!key || !ListsKey(db, *key, below) || !Add(parent)) break;
            below = parent;
            parent = key->header.parent;
        }
    }
    Ancestors(const Ancestors&) = delete;
    Ancestors& operator=(const Ancestors&) = delete;
    bool Holds(uint32_t keyId) const { return keys_.Contains(keyId); }

private:
    bool Add(uint32_t keyId) { return keys_.Append(keyId); }
    CountedArray<uint32_t> keys_{8};
};

// Opens a key for deletion (it stays in memory until it is finished) and stacks it with a copy
// of its sub-key list. A list that cannot be copied leaves its sub-keys unreachable in the file.
bool StackForDeletion(DatabaseRecord& db, DeleteStack& stack, uint32_t keyId) {
    if (NodeLoad(db, keyId) != 0) return false;
    KeyNode* node = NodeFind(db, keyId);
    uint32_t count = 0;
    uint8_t* list = CopySubKeyList(db, *node, count);
    if (!list) count = 0;
    if (stack.Push(DeleteFrame{keyId, count, 0, list})) return true;
    platform::Free(list);
    return false;
}

// Releases every block of a key whose sub-keys are gone, and forgets its node unwritten.
void FinishDeletion(DatabaseRecord& db, uint32_t keyId) {
    KeyNode* node = NodeFind(db, keyId);
    if (!node) return;
    // The chain is cut as linked on disk, so the cursor's block goes there first.
    if (!node->cursor.dirty || ChainFlush(db, node->cursor) == 0) ChainTruncate(db, node->cursor, 0);
    ForgetKey(db, keyId);
    NodeFree(db, node);
    if (db.header.keyCount > 0) db.header.keyCount -= 1;
}

// Deletes a key and its subtree, children before their parent, in list order. The walk keeps
// its own stack, so neither a deep tree nor a list that names a key being deleted (or one
// above it) can recurse without end.
int32_t DeleteKey(DatabaseRecord& db, uint32_t keyId) {
    DiscardSubKeyCache(db);
    DeleteStack stack;
    if (NodeFind(db, keyId) == nullptr && NodeLoad(db, keyId) != 0) return -1;
    const uint32_t parent = NodeFind(db, keyId)->header.parent;
    const Ancestors above(db, keyId, parent);
    SubKeyRemove(db, parent, keyId);  // the root key is in no list
    if (!StackForDeletion(db, stack, keyId)) {
        FinishDeletion(db, keyId);
        return 0;
    }
    while (!stack.Empty()) {
        DeleteFrame& top = stack.Top();
        if (top.next == top.count) {
            const uint32_t done = top.keyId;
            stack.Pop();
            FinishDeletion(db, done);
            continue;
        }
        const uint32_t child = EntryKey(top.list, top.next++);
        const uint32_t owner = top.keyId;
        if (stack.Holds(child) || above.Holds(child)) continue;
        if (NodeFind(db, child) == nullptr && NodeLoad(db, child) != 0) continue;  // gone already
        // Entries in the list of a key being deleted vanish with it; a sub-key that names
        // another parent is taken out of that parent's list.
        const uint32_t childParent = NodeFind(db, child)->header.parent;
        if (childParent != owner) SubKeyRemove(db, childParent, child);
        if (!StackForDeletion(db, stack, child)) FinishDeletion(db, child);
    }
    return 0;
}

// ---- Lookup ----

// Whether the key's name is `name` (of `length` bytes), exactly or ignoring ASCII case.
bool NameMatches(DatabaseRecord& db, uint32_t keyId, const char* name, uint32_t length, char* buffer, bool noCase) {
    ReachedKey key(db, keyId);
    if (!key || key->header.nameLength != length) return false;
    if (ChainSeek(db, key->cursor, key->header.nameOffset) != 0 ||
        ChainRead(db, key->cursor, buffer, length) != static_cast<int32_t>(length))
        return false;
    const std::string_view stored(buffer, length), wanted(name, length);
    return noCase ? support::SameAsciiNoCase(stored, wanted) : stored == wanted;
}

// Reads the names of the listed sub-keys and indexes them. False when a name cannot be read or
// there is no memory; the lookup then scans the list.
bool IndexSubKeys(DatabaseRecord& db, uint32_t parent, const uint8_t* list, uint32_t count) {
    CountedArray<IndexedSubKey> entries(count);
    CountedArray<char> names(count * 16 + 1);
    // Names are gathered first, then pointed at: the name store may move while it grows.
    CountedArray<uint32_t> starts(count);
    for (uint32_t index = 0; index < count; ++index) {
        ReachedKey child(db, EntryKey(list, index));
        if (!child) return false;
        const uint32_t length = child->header.nameLength;
        char buffer[256];
        if (!starts.Append(names.Count()) || ChainSeek(db, child->cursor, child->header.nameOffset) != 0) return false;
        for (uint32_t done = 0; done < length;) {
            const uint32_t chunk = length - done < sizeof buffer ? length - done : static_cast<uint32_t>(sizeof buffer);
            if (ChainRead(db, child->cursor, buffer, chunk) != static_cast<int32_t>(chunk)) return false;
            for (uint32_t i = 0; i < chunk; ++i)
                if (!names.Append(buffer[i])) return false;
            done += chunk;
        }
        if (!entries.Append(IndexedSubKey{EntryKey(list, index), EntryHash(list, index), nullptr, length})) return false;
    }
    for (uint32_t index = 0; index < count; ++index) entries[index].name = names.Count() ? &names[starts[index]] : "";
    return BuildSubKeyIndex(db, parent, count ? &entries[0] : nullptr, count);
}

int64_t FindKey(DatabaseRecord& db, uint32_t parent, const char* name, bool noCase) {
    ReachedKey key(db, parent);
    if (!key) return -1;
    const size_t length = std::strlen(name);
    if (length > kMaxField16) return -1;  // no stored name is that long
    const uint32_t hash = NameHash(name);
    // A key with many sub-keys is looked up in its name index, made by the first lookup.
    const int64_t indexed = IndexedLookup(db, parent, name, static_cast<uint32_t>(length), hash, noCase);
    if (indexed != -2) return indexed;
    uint32_t count = 0;
    uint8_t* list = CopySubKeyList(db, *key, count);
    if (!list) return -1;
    if (count >= kIndexedSubKeys && IndexSubKeys(db, parent, list, count)) {
        platform::Free(list);
        const int64_t found = IndexedLookup(db, parent, name, static_cast<uint32_t>(length), hash, noCase);
        return found == -2 ? -1 : found;
    }
    auto* buffer = static_cast<char*>(AllocateForAnswer(db, length + 2));
    int64_t found = -1;
    if (buffer) {
        for (uint32_t index = 0; index < count && found < 0; ++index) {
            if (EntryHash(list, index) != hash) continue;
            const uint32_t candidate = EntryKey(list, index);
            if (NameMatches(db, candidate, name, static_cast<uint32_t>(length), buffer, noCase)) found = candidate;
        }
    }
    platform::Free(buffer);
    platform::Free(list);
    return found;
}

int32_t GetKeyName(DatabaseRecord& db, uint32_t keyId, char* buffer, uint32_t size) {
    ReachedKey key(db, keyId);
    if (!key) return -1;
    const uint32_t wanted = key->header.nameLength < size - 1 ? key->header.nameLength : size - 1;
    if (ChainSeek(db, key->cursor, key->header.nameOffset) != 0) return 0;
    const int32_t got = ChainRead(db, key->cursor, buffer, wanted);
    if (got < 0) {
        buffer[0] = 0;
        return 0;
    }
    buffer[got] = 0;
    return got;
}

int64_t FirstSubKey(DatabaseRecord& db, uint32_t keyId) {
    ReachedKey key(db, keyId);
    if (!key || SubKeyCount(key->header) == 0) return -1;
    uint8_t entry[kSubKeyEntrySize];
    if (ChainSeek(db, key->cursor, key->header.subKeyListOffset) != 0 ||
        ChainRead(db, key->cursor, entry, kSubKeyEntrySize) != static_cast<int32_t>(kSubKeyEntrySize))
        return -1;
    return EntryKey(entry, 0);
}

int64_t NextSubKey(DatabaseRecord& db, uint32_t keyId, uint32_t previous) {
    ReachedKey key(db, keyId);
    if (!key) return -1;
    SubKeyCache& cache = db.subKeyCache;
    const int64_t wantedKey = keyId;
    const int64_t previousId = previous;
    if (cache.cachedKey != wantedKey || cache.lastReturned != previousId || !cache.entries) {
        DiscardSubKeyCache(db);
        uint32_t count = 0;
        uint8_t* list = CopySubKeyList(db, *key, count);
        if (!list) return -1;
        cache.cachedKey = wantedKey;
        cache.entryCount = static_cast<int32_t>(count);
        cache.entries = list;
        cache.index = 0;
        cache.lastReturned = -1;
    }
    // The copy may be older than the list; neither may be read beyond its end.
    const uint32_t current = SubKeyCount(key->header);
    const uint32_t n = current < static_cast<uint32_t>(cache.entryCount) ? current : static_cast<uint32_t>(cache.entryCount);
    auto returnAt = [&](uint32_t index) -> int64_t {
        cache.index = static_cast<int32_t>(index);
        const uint32_t id = EntryKey(cache.entries, index);
        cache.lastReturned = id;
        return id;
    };
    if (cache.lastReturned != -1 && previousId == cache.lastReturned) {
        const auto next = static_cast<uint32_t>(cache.index) + 1;
        return next < n ? returnAt(next) : -1;
    }
    for (uint32_t index = 0; index < n; ++index) {
        if (EntryKey(cache.entries, index) != previous) continue;
        if (index + 1 >= n) {
            cache.index = static_cast<int32_t>(index);
            return -1;
        }
        return returnAt(index + 1);
    }
    return -1;
}

int32_t RenameKey(DatabaseRecord& db, uint32_t keyId, const char* name) {
    ReachedKey key(db, keyId);
    if (!key) return -1;
    KeyHeader& header = key->header;
    const size_t length = std::strlen(name);
    const uint32_t oldLength = header.nameLength;
    if (length != oldLength) {
        const int64_t delta = static_cast<int64_t>(length) - oldLength;
        const int64_t listOffset = header.subKeyListOffset + delta;
        const int64_t valueOffset = ValueOffset(header) + delta;
        if (listOffset > kMaxField16 || valueOffset > kMaxField24) return -1;
        // Without the room moved, the new name would be written over the list.
        if (ChainShift(db, key->cursor, header.subKeyListOffset, static_cast<int32_t>(delta)) != 0) return -1;
        header.nameLength = static_cast<uint16_t>(length);
        header.subKeyListOffset = static_cast<uint16_t>(listOffset);
        SetValueOffset(header, static_cast<uint32_t>(valueOffset));
        MarkHeaderDirty(*key);
    }
    const auto nameBytes = static_cast<uint32_t>(length + 1);
    if (ChainSeek(db, key->cursor, header.nameOffset) != 0 ||
        ChainWrite(db, key->cursor, name, nameBytes) != static_cast<int32_t>(nameBytes))
        return -1;
    // The parent's entry carries the name's hash; a stale one would hide the key from lookups.
    // Every key asks, key 1 too: after the root was made again it can be an ordinary key, and a
    // root's parent field lists no such entry, so nothing is written for it.
    if (SubKeyRehash(db, header.parent, keyId, name) != 0) return -1;
    return 0;
}

// Runs `read` on the key's header; `failure` when the key cannot be reached.
template <typename Result, typename Read>
Result ReadHeader(int32_t handle, uint32_t keyId, Result failure, Read&& read) {
    return RunOnDatabase(handle, false, failure, [&](DatabaseRecord& db) -> Result {
        ReachedKey key(db, keyId);
        return key ? read(key->header) : failure;
    });
}

template <typename Change>
int32_t ChangeHeader(int32_t handle, uint32_t keyId, Change&& change) {
    return RunOnDatabase(handle, true, -1, [&](DatabaseRecord& db) {
        ReachedKey key(db, keyId);
        if (!key) return -1;
        change(key->header);
        MarkHeaderDirty(*key);
        return 0;
    });
}

}  // namespace

int32_t DatabaseManager::HdbOpenKey(int32_t handle, uint32_t key) {
    return RunOnDatabase(handle, false, -1, [&](DatabaseRecord& db) { return NodeLoad(db, key); });
}

void DatabaseManager::HdbCloseKey(int32_t handle, uint32_t key) {
    RunOnDatabase(handle, false, 0, [&](DatabaseRecord& db) {
        NodeRelease(db, key);
        return 0;
    });
}

int64_t DatabaseManager::HdbCreateKey(int32_t handle, uint32_t parent, const char* name) {
    if (!name) return -1;
    return RunOnDatabase(handle, true, int64_t{-1}, [&](DatabaseRecord& db) { return CreateKey(db, parent, name); });
}

int32_t DatabaseManager::HdbDeleteKey(int32_t handle, uint32_t key) {
    return RunOnDatabase(handle, true, -1, [&](DatabaseRecord& db) { return DeleteKey(db, key); });
}

int32_t DatabaseManager::HdbRenameKey(int32_t handle, uint32_t key, const char* name) {
    if (!name) return -1;
    return RunOnDatabase(handle, true, -1, [&](DatabaseRecord& db) { return RenameKey(db, key, name); });
}

int32_t DatabaseManager::HdbGetKeyName(int32_t handle, uint32_t key, char* buffer, uint32_t size) {
    if (!buffer || size == 0) return -1;
    buffer[0] = 0;  // terminated on every path
    return RunOnDatabase(handle, false, -1, [&](DatabaseRecord& db) { return GetKeyName(db, key, buffer, size); });
}

int64_t DatabaseManager::HdbFindKey(int32_t handle, uint32_t parent, const char* name) {
    if (!name) return -1;
    return RunOnDatabase(handle, false, int64_t{-1}, [&](DatabaseRecord& db) { return FindKey(db, parent, name, false); });
}

int64_t DatabaseManager::HdbFindKeyNoCase(int32_t handle, uint32_t parent, const char* name) {
    if (!name) return -1;
    return RunOnDatabase(handle, false, int64_t{-1}, [&](DatabaseRecord& db) { return FindKey(db, parent, name, true); });
}

int64_t DatabaseManager::HdbFirstSubKey(int32_t handle, uint32_t key) {
    return RunOnDatabase(handle, false, int64_t{-1}, [&](DatabaseRecord& db) { return FirstSubKey(db, key); });
}

int64_t DatabaseManager::HdbNextSubKey(int32_t handle, uint32_t key, uint32_t previous) {
    return RunOnDatabase(handle, false, int64_t{-1}, [&](DatabaseRecord& db) { return NextSubKey(db, key, previous); });
}

int64_t DatabaseManager::HdbGetParentKey(int32_t handle, uint32_t key) {
    return ReadHeader(handle, key, int64_t{-1}, [](const KeyHeader& h) -> int64_t { return h.parent; });
}

int32_t DatabaseManager::HdbGetSubKeyCount(int32_t handle, uint32_t key) {
    return ReadHeader(handle, key, -1, [](const KeyHeader& h) { return static_cast<int32_t>(SubKeyCount(h)); });
}

int32_t DatabaseManager::HdbGetKeyInfo(int32_t handle, uint32_t key, uint32_t* parent, uint32_t* attributes,
                                       uint16_t* nameOffset, uint16_t* nameLength, uint16_t* subKeyListOffset,
                                       uint16_t* subKeyCountLow, uint16_t* valueOffsetLow, uint16_t* highBytes,
                                       uint32_t* valueLength) {
    return ReadHeader(handle, key, -1, [&](const KeyHeader& h) {
        if (parent) *parent = h.parent;
        if (attributes) *attributes = static_cast<uint32_t>(h.attr2) << 16 | h.attr1;
        if (nameOffset) *nameOffset = h.nameOffset;
        if (nameLength) *nameLength = h.nameLength;
        if (subKeyListOffset) *subKeyListOffset = h.subKeyListOffset;
        if (subKeyCountLow) *subKeyCountLow = h.subKeyCountLow;
        if (valueOffsetLow) *valueOffsetLow = h.valueOffsetLow;
        if (highBytes) *highBytes = static_cast<uint16_t>(h.subKeyCountHigh << 8 | h.valueOffsetHigh);
        if (valueLength) *valueLength = h.valueLength;
        return 0;
    });
}

int32_t DatabaseManager::HdbSetKeyAttr1(int32_t handle, uint32_t key, uint32_t value) {
    return ChangeHeader(handle, key, [&](KeyHeader& h) { h.attr1 = static_cast<uint16_t>(value); });
}

int32_t DatabaseManager::HdbSetKeyAttr2(int32_t handle, uint32_t key, uint32_t value) {
    return ChangeHeader(handle, key, [&](KeyHeader& h) { h.attr2 = static_cast<uint16_t>(value); });
}

int32_t DatabaseManager::HdbGetKeyAttr1(int32_t handle, uint32_t key) {
    return ReadHeader(handle, key, -1, [](const KeyHeader& h) { return static_cast<int32_t>(h.attr1); });
}

int32_t DatabaseManager::HdbGetKeyAttr2(int32_t handle, uint32_t key) {
    return ReadHeader(handle, key, -1, [](const KeyHeader& h) { return static_cast<int32_t>(static_cast<int16_t>(h.attr2)); });
}

}  // namespace hdb
