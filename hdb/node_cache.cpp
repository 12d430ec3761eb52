#include "hdb/node_cache.h"

#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "hdb/database_record.h"

namespace {

// Past this many remembered keys everything is forgotten at once and remembered afresh.
constexpr size_t kMostRememberedKeys = 1u << 16;

std::string Folded(const char* name, uint32_t length) {
    std::string folded(name, length);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

struct IndexEntry {
    uint64_t order;  // place in the list relative to the other entries
    uint32_t keyId;
    uint32_t hash;
    std::string name;
};

// Sub-keys by their name with ASCII case folded; each bucket in list order.
struct SubKeyIndex {
    std::unordered_map<std::string, std::vector<IndexEntry>> buckets;
    std::unordered_map<uint32_t, std::string> bucketOf;  // key id -> its bucket's folded name
    uint64_t nextOrder = 0;

    bool Insert(IndexEntry entry) {
        if (bucketOf.count(entry.keyId)) return false;
        const std::string folded = Folded(entry.name.data(), static_cast<uint32_t>(entry.name.size()));
        std::vector<IndexEntry>& bucket = buckets[folded];
        auto at = bucket.end();
        while (at != bucket.begin() && (at - 1)->order > entry.order) --at;
        bucketOf[entry.keyId] = folded;
        bucket.insert(at, std::move(entry));
        return true;
    }
    // The removed entry, or false when the key is not indexed.
    bool Take(uint32_t keyId, IndexEntry* out) {
        const auto found = bucketOf.find(keyId);
        if (found == bucketOf.end()) return false;
        std::vector<IndexEntry>& bucket = buckets[found->second];
        for (auto it = bucket.begin(); it != bucket.end(); ++it) {
            if (it->keyId != keyId) continue;
            if (out) *out = std::move(*it);
            bucket.erase(it);
            break;
        }
        if (bucket.empty()) buckets.erase(found->second);
        bucketOf.erase(found);
        return true;
    }
};

struct KeyMemory {
    std::vector<uint32_t> places;  // blocks of the chain by place, as far as walked
    SubKeyIndex* index = nullptr;
    ~KeyMemory() { delete index; }
};

}  // namespace

class NodeCache {
public:
    std::unordered_map<uint32_t, KeyMemory> keys;
};

namespace {

KeyMemory* Find(DatabaseRecord& db, uint32_t keyId) {
    if (!db.nodeCache) return nullptr;
    const auto found = db.nodeCache->keys.find(keyId);
    return found == db.nodeCache->keys.end() ? nullptr : &found->second;
}

// The memory of `keyId`, made when missing; null when there is no memory for it.
KeyMemory* Make(DatabaseRecord& db, uint32_t keyId) {
    try {
        if (!db.nodeCache) db.nodeCache = new NodeCache;
        if (db.nodeCache->keys.size() >= kMostRememberedKeys && !db.nodeCache->keys.count(keyId))
            db.nodeCache->keys.clear();
        return &db.nodeCache->keys[keyId];
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

void NodeCacheDestroy(DatabaseRecord& db) {
    delete db.nodeCache;
    db.nodeCache = nullptr;
}

void ForgetKey(DatabaseRecord& db, uint32_t keyId) {
    if (db.nodeCache) db.nodeCache->keys.erase(keyId);
}

uint32_t RecalledPlace(DatabaseRecord& db, uint32_t first, uint32_t place) {
    const KeyMemory* memory = Find(db, first);
    return memory && place < memory->places.size() ? memory->places[place] : 0;
}

void RememberPlace(DatabaseRecord& db, uint32_t first, uint32_t place, uint32_t block) {
    if (place == 0) return;
    KeyMemory* memory = Find(db, first);
    if (!memory) {
        if (place != 1) return;
        memory = Make(db, first);
        if (!memory) return;
    }
    try {
        if (memory->places.empty()) memory->places.push_back(first);
        // Only the place right after the last one known: the list stays a prefix of the chain.
        if (place == memory->places.size()) memory->places.push_back(block);
        else if (place < memory->places.size() && memory->places[place] != block) memory->places.resize(place);
    } catch (const std::bad_alloc&) {
        memory->places.clear();
    }
}

void ForgetPlacesFrom(DatabaseRecord& db, uint32_t first, uint32_t places) {
    KeyMemory* memory = Find(db, first);
    if (memory && memory->places.size() > places) memory->places.resize(places);
}

bool HasSubKeyIndex(DatabaseRecord& db, uint32_t parent) {
    const KeyMemory* memory = Find(db, parent);
    return memory && memory->index;
}

bool BuildSubKeyIndex(DatabaseRecord& db, uint32_t parent, const IndexedSubKey* entries, uint32_t count) {
    KeyMemory* memory = Make(db, parent);
    if (!memory) return false;
    delete memory->index;
    memory->index = nullptr;
    try {
        auto* index = new SubKeyIndex;
        for (uint32_t i = 0; i < count; ++i) {
            if (!index->Insert(IndexEntry{i, entries[i].keyId, entries[i].hash,
                                          std::string(entries[i].name, entries[i].nameLength)})) {
                delete index;
                return false;
            }
        }
        index->nextOrder = count;
        memory->index = index;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

int64_t IndexedLookup(DatabaseRecord& db, uint32_t parent, const char* name, uint32_t length, uint32_t hash,
                      bool noCase) {
    const KeyMemory* memory = Find(db, parent);
    if (!memory || !memory->index) return -2;
    try {
        const auto found = memory->index->buckets.find(Folded(name, length));
        if (found == memory->index->buckets.end()) return -1;
        for (const IndexEntry& entry : found->second) {
            if (entry.hash != hash) continue;
            if (noCase || (entry.name.size() == length && entry.name.compare(0, length, name, length) == 0))
                return entry.keyId;
        }
        return -1;
    } catch (const std::bad_alloc&) {
        return -2;
    }
}

void DropSubKeyIndex(DatabaseRecord& db, uint32_t parent) {
    KeyMemory* memory = Find(db, parent);
    if (!memory) return;
    delete memory->index;
    memory->index = nullptr;
}

void IndexAdd(DatabaseRecord& db, uint32_t parent, uint32_t keyId, const char* name, uint32_t hash) {
    KeyMemory* memory = Find(db, parent);
    if (!memory || !memory->index) return;
    try {
        SubKeyIndex& index = *memory->index;
        if (index.Insert(IndexEntry{index.nextOrder++, keyId, hash, name})) return;
    } catch (const std::bad_alloc&) {
    }
    DropSubKeyIndex(db, parent);
}

void IndexRemove(DatabaseRecord& db, uint32_t parent, uint32_t keyId) {
    KeyMemory* memory = Find(db, parent);
    if (!memory || !memory->index) return;
    try {
        if (memory->index->Take(keyId, nullptr)) return;
    } catch (const std::bad_alloc&) {
    }
    DropSubKeyIndex(db, parent);
}

void IndexRename(DatabaseRecord& db, uint32_t parent, uint32_t keyId, const char* name, uint32_t hash) {
    KeyMemory* memory = Find(db, parent);
    if (!memory || !memory->index) return;
    try {
        IndexEntry entry;
        if (memory->index->Take(keyId, &entry)) {
            entry.name = name;
            entry.hash = hash;
            if (memory->index->Insert(std::move(entry))) return;
        }
    } catch (const std::bad_alloc&) {
    }
    DropSubKeyIndex(db, parent);
}
