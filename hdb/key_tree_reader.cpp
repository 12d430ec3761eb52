#include "hdb/key_tree_reader.h"

#include <algorithm>

#include "hdb/database_manager.h"
#include "hdb/format.h"

namespace hdb {

namespace {

constexpr uint32_t kNameBuffer = 65536;  // longer than any name a key header can describe
constexpr uint32_t kReadChunk = 1u << 20;

struct Frame {
    WalkedKey key;
    std::vector<uint32_t> children;
    size_t next = 0;
};

}  // namespace

KeyTreeReader::KeyTreeReader(DatabaseManager& db, int32_t database) : db_(db), database_(database), name_(kNameBuffer) {}

std::string KeyTreeReader::Name(uint32_t key) {
    if (db_.HdbGetKeyName(database_, key, name_.data(), kNameBuffer) < 0) return std::string();
    return std::string(name_.data());
}

bool KeyTreeReader::ReadName(WalkedKey& key) {
    const int32_t got = db_.HdbGetKeyName(database_, key.id, name_.data(), kNameBuffer);
    if (got < 0) return false;
    key.name.assign(name_.data(), static_cast<size_t>(got));
    return true;
}

void KeyTreeReader::ReadValue(WalkedKey& key, uint64_t limit) {
    key.valueSize = db_.HdbGetValueSize(database_, key.id);
    if (key.valueSize > limit) {
        key.fault = WalkedKey::ValueNotShown;
        return;
    }
    if (key.valueSize == 0) return;
    if (db_.HdbSeekValue(database_, key.id, 0) != 0) {
        key.fault = WalkedKey::ValueUnreadable;
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
    if (key.value.size() < key.valueSize) key.fault = WalkedKey::ValueUnreadable;
}

KeyTreeReader::StoredValue KeyTreeReader::Value(uint32_t key, uint64_t limit) {
    WalkedKey read;
    read.id = key;
    ReadValue(read, limit);
    db_.HdbCloseKey(database_, key);
    StoredValue value;
    value.size = read.valueSize;
    value.bytes = std::move(read.value);
    if (read.fault == WalkedKey::ValueNotShown) value.read = StoredValue::TooLarge;
    if (read.fault == WalkedKey::ValueUnreadable) value.read = StoredValue::Unreadable;
    return value;
}

bool KeyTreeReader::SubKeys(uint32_t key, std::vector<uint32_t>& keys) {
    keys.clear();
    const int32_t count = db_.HdbGetSubKeyCount(database_, key);
    if (count <= 0) return true;
    for (int64_t sub = db_.HdbFirstSubKey(database_, key); sub >= 0 && keys.size() < static_cast<size_t>(count);
         sub = db_.HdbNextSubKey(database_, key, static_cast<uint32_t>(sub)))
        keys.push_back(static_cast<uint32_t>(sub));
    return keys.size() == static_cast<size_t>(count);
}

std::vector<uint32_t> KeyTreeReader::SubKeys(uint32_t key) {
    std::vector<uint32_t> keys;
    SubKeys(key, keys);
    return keys;
}

int64_t KeyTreeReader::Find(uint32_t parent, const char* name) { return db_.HdbFindKey(database_, parent, name); }

void KeyTreeReader::Close(uint32_t key) { db_.HdbCloseKey(database_, key); }

int32_t KeyTreeReader::Walk(uint32_t top, KeyTreeVisitor& visitor, uint64_t valueLimit) {
    std::unordered_set<uint32_t> visited;
    int32_t result = 0;
    std::vector<Frame> stack;
    // Reads the key, shows it to the visitor and stacks it when its sub-keys are to be walked.
    // False when the visitor stops the walk.
    auto enter = [&](uint32_t id, uint32_t depth) {
        Frame frame;
        WalkedKey& key = frame.key;
        key.id = id;
        key.depth = depth;
        if (!visited.insert(id).second) {
            key.fault = WalkedKey::ListedAgain;
            ReadName(key);
            result = -1;
            return visitor.OnKey(key);
        }
        if (db_.HdbOpenKey(database_, id) != 0 || !ReadName(key)) {
            key.fault = WalkedKey::Unreadable;
            db_.HdbCloseKey(database_, id);
            result = -1;
            return visitor.OnKey(key);
        }
        uint32_t attributes = 0;
        db_.HdbGetKeyInfo(database_, id, nullptr, &attributes, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr);
        key.attr1 = static_cast<uint16_t>(attributes);
        key.attr2 = static_cast<uint16_t>(attributes >> 16);
        ReadValue(key, valueLimit);
        if (key.fault == WalkedKey::ValueUnreadable) result = -1;
        // All sub-keys first, so that walking into one does not disturb the walk of its parent.
        if (visitor.Descend(key)) {
            key.subKeysCut = !SubKeys(id, frame.children);
            if (key.subKeysCut) result = -1;
        }
        db_.HdbCloseKey(database_, id);
        if (!visitor.OnKey(key)) return false;
        stack.push_back(std::move(frame));
        return true;
    };

    if (!enter(top, 1)) return -1;
    while (!stack.empty()) {
        Frame& last = stack.back();
        if (last.next == last.children.size()) {
            const bool more = visitor.OnLeave(last.key);
            stack.pop_back();
            if (!more) return -1;
            continue;
        }
        const uint32_t child = last.children[last.next++];
        if (!enter(child, last.key.depth + 1)) return -1;
    }
    return result;
}

int32_t WalkKeyTree(DatabaseManager& db, int32_t database, KeyTreeVisitor& visitor, uint64_t valueLimit) {
    if (db.GetKeyCount(database) <= 0) return 0;
    return KeyTreeReader(db, database).Walk(kRootKey, visitor, valueLimit);
}

}  // namespace hdb
