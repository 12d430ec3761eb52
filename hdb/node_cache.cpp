#include "hdb/node_cache.h"

#include <cstddef>
#include <functional>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "hdb/database_record.h"
#include "platform/platform.h"
#include "support/ascii_case.h"

namespace hdb {

namespace {

// Everything the node cache keeps comes from the platform's allocator, as the engine's other
// memory does, so a test can make it run out. The containers report that as std::bad_alloc; each
// operation below catches it and forgets instead of remembering.
template <typename T>
struct PlatformAllocator {
    using value_type = T;
    PlatformAllocator() = default;
    template <typename U>
    PlatformAllocator(const PlatformAllocator<U>&) {}
    T* allocate(size_t n) {
        if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        void* memory = platform::Allocate(n * sizeof(T));
        if (!memory) throw std::bad_alloc();
        return static_cast<T*>(memory);
    }
    void deallocate(T* p, size_t) { platform::Free(p); }
    template <typename U>
    bool operator==(const PlatformAllocator<U>&) const { return true; }
};

template <typename T, typename... Args>
T* Create(Args&&... args) {
    void* memory = platform::Allocate(sizeof(T));
    if (!memory) throw std::bad_alloc();
    return new (memory) T(std::forward<Args>(args)...);
}

template <typename T>
void Destroy(T* object) {
    if (!object) return;
    object->~T();
    platform::Free(object);
}

using Name = std::basic_string<char, std::char_traits<char>, PlatformAllocator<char>>;
template <typename T>
using List = std::vector<T, PlatformAllocator<T>>;
template <typename Key, typename Value, typename Hash = std::hash<Key>>
using Map = std::unordered_map<Key, Value, Hash, std::equal_to<Key>, PlatformAllocator<std::pair<const Key, Value>>>;

struct NameHasher {
    size_t operator()(const Name& name) const { return std::hash<std::string_view>()(std::string_view(name)); }
};

// Past this many remembered keys everything is forgotten at once and remembered afresh.
constexpr size_t kMostRememberedKeys = 1u << 16;

Name Folded(const char* name, uint32_t length) {
    Name folded(name, length);
    support::AsciiLowerInPlace(folded.data(), folded.size());
    return folded;
}

struct IndexEntry {
    uint64_t order;  // place in the list relative to the other entries
    uint32_t keyId;
    uint32_t hash;
    Name name;
};

// Sub-keys by their name with ASCII case folded; each bucket in list order.
struct SubKeyIndex {
    Map<Name, List<IndexEntry>, NameHasher> buckets;
    Map<uint32_t, Name> bucketOf;  // key id -> its bucket's folded name
    uint64_t nextOrder = 0;

    bool Insert(IndexEntry entry) {
        if (bucketOf.count(entry.keyId)) return false;
        const Name folded = Folded(entry.name.data(), static_cast<uint32_t>(entry.name.size()));
        List<IndexEntry>& bucket = buckets[folded];
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
        List<IndexEntry>& bucket = buckets[found->second];
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
    List<uint32_t> places;  // blocks of the chain by place, as far as walked
    SubKeyIndex* index = nullptr;
    KeyMemory() = default;
    KeyMemory(const KeyMemory&) = delete;
    KeyMemory& operator=(const KeyMemory&) = delete;
    ~KeyMemory() { Destroy(index); }
};

}  // namespace

class NodeCache {
public:
    Map<uint32_t, KeyMemory> keys;
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
        if (!db.nodeCache) db.nodeCache = Create<NodeCache>();
        if (db.nodeCache->keys.size() >= kMostRememberedKeys && !db.nodeCache->keys.count(keyId))
            db.nodeCache->keys.clear();
        return &db.nodeCache->keys[keyId];
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

void NodeCacheDestroy(DatabaseRecord& db) {
    Destroy(db.nodeCache);
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

bool BuildSubKeyIndex(DatabaseRecord& db, uint32_t parent, const IndexedSubKey* entries, uint32_t count) {
    KeyMemory* memory = Make(db, parent);
    if (!memory) return false;
    Destroy(memory->index);
    memory->index = nullptr;
    SubKeyIndex* index = nullptr;
    try {
        index = Create<SubKeyIndex>();
        for (uint32_t i = 0; i < count; ++i) {
            if (!index->Insert(IndexEntry{i, entries[i].keyId, entries[i].hash,
                                          Name(entries[i].name, entries[i].nameLength)})) {
                Destroy(index);
                return false;
            }
        }
        index->nextOrder = count;
        memory->index = index;
        return true;
    } catch (const std::bad_alloc&) {
        Destroy(index);
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
    Destroy(memory->index);
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

}  // namespace hdb
