// The walk of a database's whole key tree that the listings and the export make: from the root
// key whenever the file holds one, whatever the header's counters say, counting what it read.
#pragma once

#include <cstdint>

namespace hdb {
class DatabaseManager;
class KeyTreeVisitor;
}  // namespace hdb

namespace tools {

// What a walk read: the keys read whole enough to be listed, and the bytes of their values.
struct WalkCount {
    uint32_t keys = 0;
    uint64_t valueBytes = 0;
};

// Walks the tree of `database` from the root key, as hdb::KeyTreeReader::Walk does, when the
// root key can be opened (a database whose root was deleted holds no tree), and adds to
// `count` when given. A header's keyCount of 0 does not stop it: that word may be the damaged one.
int32_t WalkDatabaseTree(hdb::DatabaseManager& db, int32_t database, hdb::KeyTreeVisitor& visitor,
                         uint64_t valueLimit, WalkCount* count);

}  // namespace tools
