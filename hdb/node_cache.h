// What an open database remembers about its keys between loads of their nodes: where each place
// of a key's chain lies (so a cursor that knows a place goes there without walking the links),
// and, for a key with many sub-keys, an index of their names (so a lookup neither copies nor
// scans the whole list). Both are kept exact by the operations that change chains and lists, and
// are forgotten whenever that cannot be vouched for; without them the engine walks and scans as
// the file alone allows, with the same results.
#pragma once

#include <cstdint>

namespace hdb {

struct DatabaseRecord;
class NodeCache;

void NodeCacheDestroy(DatabaseRecord& db);
// Forgets everything remembered about key `keyId` (its chain was cut, it was deleted, or its
// block number was handed out again).
void ForgetKey(DatabaseRecord& db, uint32_t keyId);

// ---- Chain places ----

// The block at `place` of the chain that starts at `first`, or 0 when it is not remembered.
uint32_t RecalledPlace(DatabaseRecord& db, uint32_t first, uint32_t place);
// Remembers that `block` follows the chain's block at `place - 1` (known when that one is).
void RememberPlace(DatabaseRecord& db, uint32_t first, uint32_t place, uint32_t block);
// The chain keeps only its first `places` blocks.
void ForgetPlacesFrom(DatabaseRecord& db, uint32_t first, uint32_t places);

// ---- Sub-key names ----

// Keys with fewer sub-keys are looked up by scanning their list.
constexpr uint32_t kIndexedSubKeys = 16;

// One sub-key as its parent's list holds it, with the sub-key's name.
struct IndexedSubKey {
    uint32_t keyId;
    uint32_t hash;  // the hash stored in the list entry
    const char* name;
    uint32_t nameLength;
};

// Builds the index of `parent` from its whole list, in list order. False (no index) when memory
// runs out or the list names one key twice.
bool BuildSubKeyIndex(DatabaseRecord& db, uint32_t parent, const IndexedSubKey* entries, uint32_t count);
// The first sub-key in list order whose stored hash is `hash` and whose name equals `name`
// (exactly, or with ASCII letters taken as equal): its key id, -1 when there is none, -2 when
// the key has no index.
int64_t IndexedLookup(DatabaseRecord& db, uint32_t parent, const char* name, uint32_t length, uint32_t hash,
                      bool noCase);
// The list of an indexed key gained an entry at its end, lost the entry of `keyId`, or had the
// entry of `keyId` renamed. Any doubt (memory, an unknown key) drops the index.
void IndexAdd(DatabaseRecord& db, uint32_t parent, uint32_t keyId, const char* name, uint32_t hash);
void IndexRemove(DatabaseRecord& db, uint32_t parent, uint32_t keyId);
void IndexRename(DatabaseRecord& db, uint32_t parent, uint32_t keyId, const char* name, uint32_t hash);
void DropSubKeyIndex(DatabaseRecord& db, uint32_t parent);

}  // namespace hdb
