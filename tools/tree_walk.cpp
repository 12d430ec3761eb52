#include "tools/tree_walk.h"

#include "hdb/database_manager.h"
#include "hdb/format.h"
#include "hdb/key_tree_reader.h"

using hdb::KeyTreeVisitor;
using hdb::WalkedKey;

namespace tools {

namespace {

// Passes every call on, counting the keys and value bytes read.
class CountingVisitor : public KeyTreeVisitor {
public:
    CountingVisitor(KeyTreeVisitor& inner, WalkCount& count) : inner_(inner), count_(count) {}

    bool Descend(const WalkedKey& key) override { return inner_.Descend(key); }
    bool OnKey(const WalkedKey& key) override {
        if (key.fault != WalkedKey::Unreadable && key.fault != WalkedKey::ListedAgain) {
            count_.keys += 1;
            count_.valueBytes += key.value.size();
        }
        return inner_.OnKey(key);
    }
    bool OnLeave(const WalkedKey& key) override { return inner_.OnLeave(key); }

private:
    KeyTreeVisitor& inner_;
    WalkCount& count_;
};

}  // namespace

int32_t WalkDatabaseTree(hdb::DatabaseManager& db, int32_t database, KeyTreeVisitor& visitor, uint64_t valueLimit,
                         WalkCount* count) {
    if (db.GetKeyCount(database) <= 0) {
        if (db.HdbOpenKey(database, hdb::kRootKey) < 0) return 0;
        db.HdbCloseKey(database, hdb::kRootKey);
    }
    hdb::KeyTreeReader reader(db, database);
    if (!count) return reader.Walk(hdb::kRootKey, visitor, valueLimit);
    CountingVisitor counting(visitor, *count);
    return reader.Walk(hdb::kRootKey, counting, valueLimit);
}

}  // namespace tools
