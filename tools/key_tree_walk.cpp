#include "tools/key_tree_walk.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "hdb/database_manager.h"
#include "hdb/format.h"

namespace {

constexpr uint32_t kNameBuffer = 65536;  // longer than any name a key header can describe
constexpr uint32_t kReadChunk = 1u << 20;

struct Frame {
    WalkedKey key;
    std::vector<uint32_t> children;
    size_t next = 0;
};

class Walker {
public:
    Walker(DatabaseManager& db, int32_t database, KeyTreeVisitor& visitor, uint64_t valueLimit)
        : db_(db), database_(database), visitor_(visitor), valueLimit_(valueLimit), name_(kNameBuffer) {}

    int32_t Run() {
        std::vector<Frame> stack;
        if (!Enter(kRootKey, 1, stack)) return -1;
        while (!stack.empty()) {
            Frame& top = stack.back();
            if (top.next == top.children.size()) {
                const bool more = visitor_.OnLeave(top.key);
                stack.pop_back();
                if (!more) return -1;
                continue;
            }
            const uint32_t child = top.children[top.next++];
            if (!Enter(child, top.key.depth + 1, stack)) return -1;
        }
        return result_;
    }

private:
    // Reads the key, shows it to the visitor and stacks it when its sub-keys are to be walked.
    // False when the visitor stops the walk.
    bool Enter(uint32_t id, uint32_t depth, std::vector<Frame>& stack) {
        Frame frame;
        WalkedKey& key = frame.key;
        key.id = id;
        key.depth = depth;
        if (!visited_.insert(id).second) {
            key.fault = WalkedKey::ListedAgain;
            ReadName(key);
            result_ = -1;
            return visitor_.OnKey(key);
        }
        if (db_.HdbOpenKey(database_, id) != 0 || !ReadName(key)) {
            key.fault = WalkedKey::Unreadable;
            db_.HdbCloseKey(database_, id);
            result_ = -1;
            return visitor_.OnKey(key);
        }
        uint32_t attributes = 0;
        db_.HdbGetKeyInfo(database_, id, nullptr, &attributes, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr);
        key.attr1 = static_cast<uint16_t>(attributes);
        key.attr2 = static_cast<uint16_t>(attributes >> 16);
        ReadValue(key);
        key.subKeysCut = !ListSubKeys(id, frame.children);
        db_.HdbCloseKey(database_, id);
        if (!visitor_.OnKey(key)) return false;
        stack.push_back(std::move(frame));
        return true;
    }

    bool ReadName(WalkedKey& key) {
        const int32_t got = db_.HdbGetKeyName(database_, key.id, name_.data(), kNameBuffer);
        if (got < 0) return false;
        key.name.assign(name_.data(), static_cast<size_t>(got));
        return true;
    }

    void ReadValue(WalkedKey& key) {
        key.valueSize = db_.HdbGetValueSize(database_, key.id);
        if (key.valueSize > valueLimit_) {
            key.fault = WalkedKey::ValueNotShown;
            return;
        }
        if (key.valueSize == 0) return;
        if (db_.HdbSeekValue(database_, key.id, 0) != 0) {
            key.fault = WalkedKey::ValueUnreadable;
            result_ = -1;
            return;
        }
        // In steps, so that a damaged length word costs no more memory than the chain holds.
        while (key.value.size() < key.valueSize) {
            const uint32_t step = std::min<uint32_t>(kReadChunk, key.valueSize - static_cast<uint32_t>(key.value.size()));
            const size_t at = key.value.size();
            key.value.resize(at + step);
            const int32_t got = db_.HdbReadValue(database_, key.id, key.value.data() + at, step);
            key.value.resize(at + (got > 0 ? static_cast<size_t>(got) : 0));
            if (got <= 0) break;
        }
        if (key.value.size() < key.valueSize) {
            key.fault = WalkedKey::ValueUnreadable;
            result_ = -1;
        }
    }

    // All sub-keys first, so that walking into one does not disturb the walk of its parent; no
    // more than the count, whatever the list holds.
    bool ListSubKeys(uint32_t id, std::vector<uint32_t>& children) {
        const int32_t count = db_.HdbGetSubKeyCount(database_, id);
        if (count <= 0) return true;
        for (int64_t sub = db_.HdbFirstSubKey(database_, id); sub >= 0 && children.size() < static_cast<size_t>(count);
             sub = db_.HdbNextSubKey(database_, id, static_cast<uint32_t>(sub)))
            children.push_back(static_cast<uint32_t>(sub));
        if (children.size() == static_cast<size_t>(count)) return true;
        result_ = -1;
        return false;
    }

    DatabaseManager& db_;
    int32_t database_;
    KeyTreeVisitor& visitor_;
    uint64_t valueLimit_;
    std::vector<char> name_;
    std::unordered_set<uint32_t> visited_;
    int32_t result_ = 0;
};

}  // namespace

int32_t WalkKeyTree(DatabaseManager& db, int32_t database, KeyTreeVisitor& visitor, uint64_t valueLimit) {
    if (db.GetKeyCount(database) <= 0) return 0;
    return Walker(db, database, visitor, valueLimit).Run();
}
