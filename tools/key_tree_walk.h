// The key tree of an open database walked through the engine's public operations, from the
// root down in list order. The walk keeps its own stack, reads each key at most once (a list
// that names a key again, or names an ancestor, is reported, not followed) and asks for no more
// sub-keys than a key's count, so no file makes it recurse, loop or grow without end.
#pragma once

#include <cstdint>
#include <string>

class DatabaseManager;

struct WalkedKey {
    uint32_t id = 0;
    uint32_t depth = 0;  // 1 for the root
    // 0 when the key was read whole; otherwise what went wrong (and the fields below that could
    // not be read are empty).
    enum Fault { None, Unreadable, ListedAgain, ValueUnreadable, ValueNotShown } fault = None;
    std::string name;
    uint32_t valueSize = 0;
    std::string value;  // empty when not read (see ValueNotShown)
    uint16_t attr1 = 0;
    uint16_t attr2 = 0;
    bool subKeysCut = false;  // fewer sub-keys could be listed than the key counts
};

class KeyTreeVisitor {
public:
    virtual ~KeyTreeVisitor() = default;
    // Called for each key before its sub-keys; false stops the walk.
    virtual bool OnKey(const WalkedKey& key) = 0;
    // Called after the last sub-key of a key that OnKey saw (not for faulty keys).
    virtual bool OnLeave(const WalkedKey&) { return true; }
};

// Walks the tree of `database` (nothing when it holds no key). Values larger than `valueLimit`
// are not read (ValueNotShown). 0 when every key was read, -1 when one could not be (the
// visitor saw it with its fault) or the visitor stopped the walk.
int32_t WalkKeyTree(DatabaseManager& db, int32_t database, KeyTreeVisitor& visitor, uint64_t valueLimit);
