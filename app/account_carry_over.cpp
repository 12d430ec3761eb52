#include "app/account_carry_over.h"

#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "app/rebuild_run.h"
#include "app/server_template.h"
#include "hdb/database_manager.h"
#include "hdb/key_tree_reader.h"
#include "support/ascii_case.h"
#include "support/number_text.h"

using namespace hdb;

namespace app {

namespace {

constexpr char kFailurePrefix[] = "Cannot open the old database ";

// Every key below the walk's top, by its path of names from there, in tree order.
class PathCollector : public KeyTreeVisitor {
public:
    explicit PathCollector(std::vector<std::pair<std::string, uint32_t>>& found) : found_(found) {}

    bool OnKey(const WalkedKey& key) override {
        if (key.fault == WalkedKey::ListedAgain) return true;
        names_.resize(key.depth - 1);
        if (key.depth == 1) return true;
        names_.back() = key.name.c_str();  // as a lookup sees it
        std::string path;
        for (const std::string& name : names_) path += (path.empty() ? "" : "\\") + name;
        found_.emplace_back(std::move(path), key.id);
        return true;
    }

private:
    std::vector<std::pair<std::string, uint32_t>>& found_;
    std::vector<std::string> names_;  // the names from below the top down to the key
};

// One open database and the reads and writes the carry-over makes of it.
class Tree {
public:
    Tree(DatabaseManager& db, int32_t handle) : db_(db), handle_(handle), reader_(db, handle) {}

    int64_t Find(int64_t parent, const std::string& name) {
        return parent < 0 ? -1 : reader_.Find(static_cast<uint32_t>(parent), name.c_str());
    }

    std::string Name(uint32_t key) { return reader_.Name(key); }

    // The whole value; false when it cannot be read whole.
    bool Value(uint32_t key, std::string& bytes) {
        KeyTreeReader::StoredValue value = reader_.Value(key);
        bytes = std::move(value.bytes);
        return value.read == KeyTreeReader::StoredValue::Whole;
    }

    // The sub-keys in list order, each once, asking for no more than the key counts.
    std::vector<uint32_t> SubKeys(uint32_t key) {
        std::vector<uint32_t> keys;
        std::set<uint32_t> seen;
        for (const uint32_t sub : reader_.SubKeys(key))
            if (seen.insert(sub).second) keys.push_back(sub);
        return keys;
    }

    // The sub-keys by name; of equal names the first in the list, as a lookup finds it.
    std::map<std::string, uint32_t> SubKeysByName(uint32_t key) {
        std::map<std::string, uint32_t> byName;
        for (const uint32_t sub : SubKeys(key)) byName.emplace(Name(sub), sub);
        return byName;
    }

    // Every key below `top`, by its path of names from there, in tree order; each key once, so
    // a damaged old file cannot make it loop. Values are not read here.
    std::vector<std::pair<std::string, uint32_t>> Below(uint32_t top) {
        std::vector<std::pair<std::string, uint32_t>> found;
        PathCollector collector(found);
        reader_.Walk(top, collector, 0);
        return found;
    }

    void SetValue(uint32_t key, const std::string& bytes) {
        db_.HdbClearValue(handle_, key);
        if (!bytes.empty()) db_.HdbWriteValue(handle_, key, bytes.data(), static_cast<uint32_t>(bytes.size()));
        db_.HdbCloseKey(handle_, key);
    }

    // The key `name` under `parent`, made when it is missing; -1 when it can be neither.
    int64_t FindOrCreate(uint32_t parent, const std::string& name) {
        const int64_t key = db_.HdbFindKey(handle_, parent, name.c_str());
        return key >= 0 ? key : db_.HdbCreateKey(handle_, parent, name.c_str());
    }

private:
    DatabaseManager& db_;
    int32_t handle_;
    KeyTreeReader reader_;
};

void Kept(const std::string& what) { AddStatusLine(("Kept from the old database: " + what).c_str()); }
void Lost(const std::string& what, const std::string& why) {
    AddStatusLine(("Lost from the old database: " + what + " (" + why + ")").c_str());
}

bool IsCounter(const std::string& path) { return path == kNextAdminIdKey || path == kNextUserIdKey; }

// Config's settings: the new configuration decides which exist; the old file, what they hold.
void CarrySettings(Tree& fresh, Tree& old) {
    const std::string config = kConfigKey;
    const int64_t newConfig = fresh.Find(kRootKey, kConfigKey);
    const int64_t oldConfig = old.Find(kRootKey, kConfigKey);
    if (newConfig < 0 || oldConfig < 0) {
        if (oldConfig < 0) Lost(config, "the old database has none");
        return;
    }
    std::map<std::string, uint32_t> oldByPath;
    const auto oldSettings = old.Below(static_cast<uint32_t>(oldConfig));
    for (const auto& [path, key] : oldSettings) oldByPath.emplace(path, key);  // the first of equal names
    std::set<std::string> newPaths;
    std::string now, before;
    for (const auto& [path, key] : fresh.Below(static_cast<uint32_t>(newConfig))) {
        newPaths.insert(path);
        const auto match = oldByPath.find(path);
        if (match == oldByPath.end()) continue;
        const std::string shown = config + "\\" + path;
        if (!old.Value(match->second, before)) {
            Lost(shown, "its value cannot be read");
            continue;
        }
        if (!fresh.Value(key, now) || now == before) continue;
        // A counter below an imported user's ID would hand that ID out again.
        if (IsCounter(path) && support::HexToUInt(before.c_str()) < support::HexToUInt(now.c_str())) {
            AddStatusLine(("Kept from the new configuration: " + shown + " " + now + " (the old " + before +
                           " is lower)").c_str());
            continue;
        }
        fresh.SetValue(key, before);
        Kept(shown);
    }
    for (const auto& [path, key] : oldSettings) {
        const size_t cut = path.rfind('\\');
        const bool topmost = cut == std::string::npos || newPaths.count(path.substr(0, cut)) > 0;
        if (newPaths.count(path) == 0 && topmost) Lost(config + "\\" + path, "not a setting of the new configuration");
    }
}

// The secrets of each account the rebuild made, from the old account of the same name.
void CarryAccounts(Tree& fresh, Tree& old) {
    const std::string list = kClientListKey;
    const int64_t newList = fresh.Find(kRootKey, kClientListKey);
    const int64_t oldList = old.Find(kRootKey, kClientListKey);
    if (oldList < 0) {
        Lost(list, "the old database has none");
        return;
    }
    // One read of each list: a lookup per account would copy the whole list each time.
    const std::map<std::string, uint32_t> oldAccounts = old.SubKeysByName(static_cast<uint32_t>(oldList));
    std::set<std::string> rebuilt;
    if (newList >= 0) {
        for (const uint32_t account : fresh.SubKeys(static_cast<uint32_t>(newList))) {
            const std::string name = fresh.Name(account);
            rebuilt.insert(name);
            const auto match = oldAccounts.find(name);
            if (match == oldAccounts.end()) continue;
            const int64_t oldAccount = match->second;
            std::string carried, bytes;
            for (const char* field : {kPasswordKey, kSyncKey}) {
                const int64_t oldKey = old.Find(oldAccount, field);
                if (oldKey < 0) continue;
                if (!old.Value(static_cast<uint32_t>(oldKey), bytes)) {
                    Lost(list + "\\" + name + "\\" + field, "its value cannot be read");
                    continue;
                }
                const int64_t newKey = fresh.FindOrCreate(account, field);
                if (newKey < 0) continue;
                fresh.SetValue(static_cast<uint32_t>(newKey), bytes);
                carried += (carried.empty() ? ": " : ", ") + std::string(field);
            }
            if (!carried.empty()) Kept(list + "\\" + name + carried);
        }
    }
    for (const uint32_t account : old.SubKeys(static_cast<uint32_t>(oldList))) {
        const std::string name = old.Name(account);
        if (rebuilt.count(name) == 0) {
            Lost(list + "\\" + name, "no user folder has this account");
            continue;
        }
        for (const uint32_t field : old.SubKeys(account)) {
            const std::string fieldName = old.Name(field);
            if (fieldName != kNameKey && fieldName != kPasswordKey && fieldName != kSyncKey)
                Lost(list + "\\" + name + "\\" + fieldName, "not carried over");
        }
    }
}

}  // namespace

std::string CarryOverSource(const std::string& keepFrom, const std::string& databasePath,
                            const std::string& setAsidePath) {
    if (!setAsidePath.empty() && support::SameAsciiNoCase(keepFrom, databasePath)) return setAsidePath;
    return keepFrom;
}

int32_t CarryOverFromOld(DatabaseManager& db, int32_t database, const char* oldPath) {
    const int32_t oldDatabase = db.OpenDatabase(oldPath, ModeReadOnly);
    if (oldDatabase < 0 || oldDatabase == database) {
        if (oldDatabase >= 0) db.CloseDatabase(oldDatabase);
        AddStatusLine((std::string(kFailurePrefix) + "\"" + oldPath + "\"; nothing was carried over.").c_str());
        return -1;
    }
    Tree fresh(db, database);
    Tree old(db, oldDatabase);
    CarrySettings(fresh, old);
    CarryAccounts(fresh, old);
    for (const uint32_t key : old.SubKeys(kRootKey)) {
        const std::string name = old.Name(key);
        if (name != kConfigKey && name != kClientListKey) Lost(name, "not carried over");
    }
    db.CloseDatabase(oldDatabase);
    return 0;
}

bool IsCarryOverFailure(const char* line) {
    return std::strncmp(line, kFailurePrefix, sizeof kFailurePrefix - 1) == 0;
}

}  // namespace app
