#include "hdb/sub_key_list.h"

#include <cstring>

#include "hdb/chain.h"
#include "hdb/database_record.h"
#include "hdb/key_node.h"
#include "hdb/node_cache.h"
#include "platform/platform.h"

namespace hdb {

uint8_t* CopySubKeyList(DatabaseRecord& db, KeyNode& node, uint32_t& count) {
    count = SubKeyCount(node.header);
    const uint32_t bytes = count * kSubKeyEntrySize;
    auto* list = static_cast<uint8_t*>(AllocateForAnswer(db, bytes));
    if (!list) return nullptr;
    if (ChainSeek(db, node.cursor, node.header.subKeyListOffset) != 0 ||
        ChainRead(db, node.cursor, list, bytes) != static_cast<int32_t>(bytes)) {
        platform::Free(list);
        return nullptr;
    }
    return list;
}

int32_t WriteSubKeyList(DatabaseRecord& db, KeyNode& node, const uint8_t* list, uint32_t count) {
    const uint32_t bytes = count * kSubKeyEntrySize;
    if (ChainSeek(db, node.cursor, node.header.subKeyListOffset) != 0) return -1;
    return ChainWrite(db, node.cursor, list, bytes) == static_cast<int32_t>(bytes) ? 0 : -1;
}

namespace {

int32_t AppendSubKey(DatabaseRecord& db, uint32_t parent, uint32_t keyId, const char* name) {
    ReachedKey key(db, parent);
    if (!key) return -1;
    KeyHeader& header = key->header;
    ChainCursor& cursor = key->cursor;
    const uint32_t count = SubKeyCount(header);
    uint32_t valueOffset = ValueOffset(header);
    if (count >= kMaxField24) return -1;
    if ((valueOffset - header.subKeyListOffset) / kSubKeyEntrySize <= count) {
        // The list grows by ten entries. A list that cannot grow gets no entry: one written
        // anyway would lie over the value's first bytes.
        if (valueOffset + kSubKeyListGrowth > kMaxField24) return -1;
        if (cursor.length > valueOffset) {
            if (ChainShift(db, cursor, valueOffset, static_cast<int32_t>(kSubKeyListGrowth)) != 0) return -1;
        } else {
            static const uint8_t zeros[kSubKeyListGrowth] = {};
            if (ChainSeek(db, cursor, valueOffset) != 0 ||
                ChainWrite(db, cursor, zeros, kSubKeyListGrowth) != static_cast<int32_t>(kSubKeyListGrowth))
                return -1;
        }
        valueOffset += kSubKeyListGrowth;
        SetValueOffset(header, valueOffset);
        MarkHeaderDirty(*key);
    }
    uint8_t entry[kSubKeyEntrySize];
    SetBlockWord(entry, 0, keyId);
    SetBlockWord(entry, 1, NameHash(name));
    if (ChainSeek(db, cursor, header.subKeyListOffset + count * kSubKeyEntrySize) != 0 ||
        ChainWrite(db, cursor, entry, kSubKeyEntrySize) != static_cast<int32_t>(kSubKeyEntrySize))
        return -1;
    SetSubKeyCount(header, count + 1);
    MarkHeaderDirty(*key);
    return 0;
}

}  // namespace

// The parent's name index follows its list; when the list may not have changed as planned,
// the index goes.
int32_t SubKeyAdd(DatabaseRecord& db, uint32_t parent, uint32_t keyId, const char* name) {
    const int32_t result = AppendSubKey(db, parent, keyId, name);
    if (result == 0) IndexAdd(db, parent, keyId, name, NameHash(name));
    else DropSubKeyIndex(db, parent);
    return result;
}

namespace {

int32_t RemoveSubKey(DatabaseRecord& db, uint32_t parent, uint32_t keyId) {
    ReachedKey key(db, parent);
    if (!key) return -1;
    uint32_t count = 0;
    uint8_t* list = CopySubKeyList(db, *key, count);
    if (!list) return -1;
    uint32_t index = 0;
    while (index < count && EntryKey(list, index) != keyId) ++index;
    int32_t result = index < count ? 0 : -1;
    if (result == 0 && index + 1 < count) {
        std::memmove(list + index * kSubKeyEntrySize, list + (index + 1) * kSubKeyEntrySize,
                     (count - index - 1) * kSubKeyEntrySize);
        result = WriteSubKeyList(db, *key, list, count - 1);
    }
    if (result == 0) {
        // The room stays; the old last entry's bytes remain in it.
        SetSubKeyCount(key->header, count - 1);
        MarkHeaderDirty(*key);
    }
    platform::Free(list);
    return result;
}

}  // namespace

int32_t SubKeyRemove(DatabaseRecord& db, uint32_t parent, uint32_t keyId) {
    const int32_t result = RemoveSubKey(db, parent, keyId);
    if (result == 0) IndexRemove(db, parent, keyId);
    else DropSubKeyIndex(db, parent);
    return result;
}

int32_t SubKeyRehash(DatabaseRecord& db, uint32_t parent, uint32_t keyId, const char* name) {
    // A root made after the first one was deleted is no key 1, and its parent field holds
    // whatever its creator passed: with no parent there is no list to bring up to date.
    ReachedKey key(db, parent);
    if (!key) return 0;
    uint32_t count = 0;
    uint8_t* list = CopySubKeyList(db, *key, count);
    if (!list) return -1;
    int32_t result = 0;
    for (uint32_t index = 0; index < count; ++index) {
        if (EntryKey(list, index) != keyId) continue;
        SetBlockWord(list + index * kSubKeyEntrySize, 1, NameHash(name));
        result = WriteSubKeyList(db, *key, list, count);
        if (result == 0) IndexRename(db, parent, keyId, name, NameHash(name));
        else DropSubKeyIndex(db, parent);
        break;
    }
    platform::Free(list);
    return result;
}

void DiscardSubKeyCache(DatabaseRecord& db) {
    platform::Free(db.subKeyCache.entries);
    db.subKeyCache = SubKeyCache{-1, -1, 0, nullptr, 0};
}

}  // namespace hdb
