// Shared by the app tests: a whole database read back as a list of keys, the template as it
// must be, and a stub host with a chosen number of addresses.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "hdb/database_manager.h"
#include "platform/network.h"

namespace testing_support {

// One key: its path of names (joined by '\') and its value bytes.
struct KeyEntry {
    std::string path;
    std::string value;
    bool operator==(const KeyEntry&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const KeyEntry& e) {
    out << e.path << " = [";
    for (unsigned char c : e.value) {
        if (c >= 0x20 && c < 0x7F)
            out << c;
        else
            out << "\\x" << "0123456789abcdef"[c >> 4] << "0123456789abcdef"[c & 15];
    }
    return out << "]";
}

inline void ReadKeys(hdb::DatabaseManager& db, int32_t database, uint32_t key, const std::string& parentPath,
                     std::vector<KeyEntry>& out) {
    char name[1024];
    if (db.HdbGetKeyName(database, key, name, sizeof name) < 0) {
        out.push_back({parentPath + "\\<unreadable>", ""});
        return;
    }
    KeyEntry entry{parentPath.empty() ? name : parentPath + "\\" + name, ""};
    const uint32_t size = db.HdbGetValueSize(database, key);
    if (size > 0) {
        entry.value.resize(size);
        db.HdbSeekValue(database, key, 0);
        const int32_t read = db.HdbReadValue(database, key, entry.value.data(), size);
        entry.value.resize(read < 0 ? 0 : static_cast<size_t>(read));
        db.HdbCloseKey(database, key);
    }
    out.push_back(entry);
    std::vector<uint32_t> subKeys;
    for (int64_t sub = db.HdbFirstSubKey(database, key); sub >= 0;
         sub = db.HdbNextSubKey(database, key, static_cast<uint32_t>(sub)))
        subKeys.push_back(static_cast<uint32_t>(sub));
    for (uint32_t sub : subKeys) ReadKeys(db, database, sub, entry.path, out);
}

// The keys of the database file at `path` in tree order (a key, then its sub-keys in list
// order), read through a read-only open; empty when it cannot be opened or has no keys.
inline std::vector<KeyEntry> ReadDatabaseTree(const std::string& path) {
    hdb::DatabaseManager db;
    std::vector<KeyEntry> keys;
    const int32_t database = db.OpenDatabase(path.c_str(), hdb::ModeReadOnly);
    if (database < 0) return keys;
    if (db.GetKeyCount(database) > 0) ReadKeys(db, database, 1, "", keys);
    db.CloseDatabase(database);
    return keys;
}

// Counts the reports of keys left open at a database's close while it is alive.
class OpenKeyReports {
public:
    OpenKeyReports() {
        count_ = 0;
        hdb::SetReportMessageHook(&Count);
    }
    ~OpenKeyReports() { hdb::SetReportMessageHook(nullptr); }
    int32_t count() const { return count_; }

private:
    static int32_t Count(const char*, const char*) {
        ++count_;
        return 0;
    }
    static inline int32_t count_ = 0;
};

inline std::string Bytes(std::initializer_list<uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

// The stub host has `g_addressCount` addresses 192.168.1.10, .11, ... (-1: its name does not
// resolve). Install it with SetHostAddressSource(StubAddresses).
inline int32_t g_addressCount = 1;

inline int32_t StubAddresses(uint32_t* addresses, int32_t capacity) {
    for (int32_t i = 0; i < g_addressCount && i < capacity; ++i) {
        const uint8_t bytes[4] = {192, 168, 1, static_cast<uint8_t>(10 + i)};
        std::memcpy(&addresses[i], bytes, 4);
    }
    return g_addressCount;
}

// The packed list of the first `count` stub addresses.
inline std::string StubList(int32_t count) {
    std::string list = Bytes({static_cast<uint8_t>(count), 0, 0, 0});
    for (int32_t i = 0; i < count; ++i) list += Bytes({192, 168, 1, static_cast<uint8_t>(10 + i)});
    return list;
}

inline std::string ComputerNameText() {
    char name[260];
    return platform::ComputerName(name, sizeof name) < 0 ? "" : name;
}

// The server's default configuration with `bindList` as both bind lists.
inline std::vector<KeyEntry> ExpectedTemplate(const std::string& bindList) {
    const std::string root = "User Configuration Root";
    const std::string config = root + "\\Config";
    const std::string security = config + "\\Remote Access Security";
    const std::string admin = root + "\\Server Admin List\\00000001";
    std::vector<KeyEntry> keys = {
        {root, ""},
        {config, ""},
        {config + "\\Next Admin ID", "00000002"},
        {config + "\\Next User ID", "00000001"},
        {config + "\\ServerNameOrURL", ComputerNameText()},
        {security, ""},
    };
    for (const char* access : {"System Admin Access", "Client Access"}) {
        const std::string at = security + "\\" + access;
        const bool client = std::strcmp(access, "Client Access") == 0;
        keys.push_back({at, ""});
        keys.push_back({at + "\\Enabled", "1"});
        keys.push_back({at + "\\Port", "2125"});
        keys.push_back({at + "\\ListenOnAnyIP", "1"});
        keys.push_back({at + "\\BindToIPList", bindList});
        keys.push_back({at + "\\AcceptConnectionFrom", client ? "3" : "0"});
        keys.push_back({at + "\\AcceptFromList", Bytes({0, 0, 0, 0})});
    }
    keys.push_back({root + "\\Server Admin List", ""});
    keys.push_back({admin, ""});
    keys.push_back({admin + "\\Name", "OrvaneAdmin"});
    // "HarborLantern" scrambled: 13 bytes, no terminator.
    keys.push_back({admin + "\\Password",
                    Bytes({0x12, 0xA2, 0x6C, 0xF5, 0x04, 0xA6, 0x64, 0x90, 0x34, 0xB7, 0x7B, 0xE5, 0x05})});
    keys.push_back({admin + "\\EMailAddress", ""});
    keys.push_back({root + "\\Client List", ""});
    return keys;
}

// The account the import makes for `folder` with the default password.
inline std::vector<KeyEntry> ExpectedAccount(const std::string& folder, const std::string& name) {
    const std::string at = "User Configuration Root\\Client List\\" + folder;
    return {{at, ""},
            {at + "\\Name", name},
            {at + "\\Password", Bytes({0x2E, 0xA2, 0x73, 0xF6, 0x19, 0xBD, 0x46, 0x95})},  // "tamarind"
            {at + "\\NeedToSynchronizeClient", "0"}};
}

}  // namespace testing_support
