// Sub-key lists: each key's list holds (key id, name hash) entries in the order the sub-keys
// were added, between the key's name and its value. Every change here keeps the parent's name
// index (node_cache.h) in step with its list, or drops it.
#pragma once

#include <cstdint>

#include "hdb/format.h"

namespace hdb {

struct DatabaseRecord;
struct KeyNode;

inline uint32_t EntryKey(const uint8_t* list, uint32_t index) { return BlockWord(list + index * kSubKeyEntrySize, 0); }
inline uint32_t EntryHash(const uint8_t* list, uint32_t index) { return BlockWord(list + index * kSubKeyEntrySize, 1); }

// A heap copy of a key's sub-key list (platform::Free it); null when memory runs out or the list
// cannot be read. `count` receives the number of entries.
uint8_t* CopySubKeyList(DatabaseRecord& db, KeyNode& node, uint32_t& count);
int32_t WriteSubKeyList(DatabaseRecord& db, KeyNode& node, const uint8_t* list, uint32_t count);

// Appends an entry for `keyId` to the list of `parent`, growing the list by ten entries when
// full. 0, or -1 (no entry was added).
int32_t SubKeyAdd(DatabaseRecord& db, uint32_t parent, uint32_t keyId, const char* name);
// Takes the entry of `keyId` out of the list of `parent`; the entries behind it move up.
int32_t SubKeyRemove(DatabaseRecord& db, uint32_t parent, uint32_t keyId);
// Stores the hash of the new `name` in the entry of `keyId`. 0 also when `parent` is no key.
int32_t SubKeyRehash(DatabaseRecord& db, uint32_t parent, uint32_t keyId, const char* name);

// Drops the cached sub-key list of a database (key creation, deletion and close do this).
void DiscardSubKeyCache(DatabaseRecord& db);

}  // namespace hdb
