// Reads of an open database's key tree through the engine's public operations only: names,
// values, sub-key lists, lookups, and a walk from a key down in list order. Every program that
// reads a tree (the tools' listings and exports, the console's read-back, the carrying over of
// an old database) reads it here, so a damaged file is met by one careful reader: the walk
// keeps its own stack, reads each key at most once (a list that names a key again, or names an
// ancestor, is reported, not followed), asks for no more sub-keys than a key counts and reads
// values in steps, so no file makes it recurse, loop or grow without end.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

namespace hdb {

class DatabaseManager;

struct WalkedKey {
    uint32_t id = 0;
    uint32_t depth = 0;  // 1 for the key the walk starts from
    // 0 when the key was read whole; otherwise what went wrong (and the fields below that could
    // not be read are empty).
    enum Fault { None, Unreadable, ListedAgain, ValueUnreadable, ValueNotShown } fault = None;
    std::string name;  // as stored, also a damaged name that holds a zero byte
    uint32_t valueSize = 0;
    std::string value;  // empty when not read (see ValueNotShown)
    uint16_t attr1 = 0;
    uint16_t attr2 = 0;
    bool subKeysCut = false;  // fewer sub-keys could be listed than the key counts
};

class KeyTreeVisitor {
public:
    virtual ~KeyTreeVisitor() = default;
    // Asked of each key read whole enough to have sub-keys, before they are listed: false
    // leaves them out (they are not read at all).
    virtual bool Descend(const WalkedKey&) { return true; }
    // Called for each key before its sub-keys; false stops the walk.
    virtual bool OnKey(const WalkedKey& key) = 0;
    // Called after the last sub-key of a key that OnKey saw (not for faulty keys).
    virtual bool OnLeave(const WalkedKey&) { return true; }
};

class KeyTreeReader {
public:
    KeyTreeReader(DatabaseManager& db, int32_t database);

    // The key's name as a lookup by name sees it (up to a zero byte a damaged name may hold);
    // empty when it cannot be read.
    std::string Name(uint32_t key);

    struct StoredValue {
        enum Read { Whole, TooLarge, Unreadable } read = Whole;
        uint32_t size = 0;   // as the key says
        std::string bytes;   // empty when TooLarge; what could be read when Unreadable
    };
    // The key's whole value, unless it is larger than `limit`. The key is closed again.
    StoredValue Value(uint32_t key, uint64_t limit = UINT64_MAX);

    // The sub-keys in list order, no more than the key counts (a key listed twice comes twice).
    // False when fewer could be listed than it counts.
    bool SubKeys(uint32_t key, std::vector<uint32_t>& keys);
    std::vector<uint32_t> SubKeys(uint32_t key);

    // The sub-key `name` of `parent`, or -1.
    int64_t Find(uint32_t parent, const char* name);
    void Close(uint32_t key);

    // Walks the tree below and including `top` (depth 1). Values larger than `valueLimit` are
    // not read (ValueNotShown). 0 when every key was read, -1 when one could not be (the visitor
    // saw it with its fault) or the visitor stopped the walk.
    int32_t Walk(uint32_t top, KeyTreeVisitor& visitor, uint64_t valueLimit);

private:
    bool ReadName(WalkedKey& key);
    // ValueSize and value of an open key; the fault when it cannot be read or is not to be.
    void ReadValue(WalkedKey& key, uint64_t limit);

    DatabaseManager& db_;
    int32_t database_;
    std::vector<char> name_;
};

// Walks the whole tree of `database` from its root (nothing when it holds no key); as Walk.
int32_t WalkKeyTree(DatabaseManager& db, int32_t database, KeyTreeVisitor& visitor, uint64_t valueLimit);

}  // namespace hdb
