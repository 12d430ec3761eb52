#include "app/server_template.h"

#include <cstring>
#include <string>

#include "app/password_scrambler.h"
#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "platform/network.h"
#include "support/number_text.h"

using hdb::DatabaseManager;
using hdb::kRootKey;
using hdb::ModeReadWrite;

namespace app {

namespace {

constexpr uint32_t kComputerNameBuffer = 260;

class TemplateWriter {
public:
    TemplateWriter(DatabaseManager& manager, int32_t database) : db_(manager), database_(database) {}

    // Creates `name` under `parent`, writes `size` bytes of `value` (nothing when null) and
    // closes it. False when the key cannot be created.
    bool AddValueKey(uint32_t parent, const char* name, const void* value, uint32_t size) {
        const int64_t key = db_.HdbCreateKey(database_, parent, name);
        if (key < 0) return false;
        if (value != nullptr) db_.HdbWriteValue(database_, static_cast<uint32_t>(key), value, size);
        db_.HdbCloseKey(database_, static_cast<uint32_t>(key));
        return true;
    }

    bool AddTextKey(uint32_t parent, const char* name, const char* text) {
        return AddValueKey(parent, name, text, static_cast<uint32_t>(std::strlen(text)));
    }

    bool WriteConfig() {
        const int64_t config = db_.HdbCreateKey(database_, kRootKey, kConfigKey);
        if (config < 0) return false;
        const auto parent = static_cast<uint32_t>(config);
        char id[support::kIdentifierTextSize];
        bool ok = AddValueKey(parent, kNextAdminIdKey, id, static_cast<uint32_t>(support::UIntToHex8(2, id) - id)) &&
                  AddValueKey(parent, kNextUserIdKey, id, static_cast<uint32_t>(support::UIntToHex8(1, id) - id));
        if (ok) {
            char computerName[kComputerNameBuffer] = {};
            if (LocalComputerName(computerName, sizeof computerName) < 0) computerName[0] = '\0';
            ok = AddTextKey(parent, kServerNameKey, computerName);
        }
        db_.HdbCloseKey(database_, parent);
        return ok;
    }

    // Both access points listen on every local address at the default port; they differ only
    // in the accept mode. Failures here leave the template usable, so they are not reported.
    void WriteAccessPoints() {
        AccessSettings first{};
        first.enabled = 1;
        first.listenOnAnyIp = 1;
        first.acceptConnectionFrom = 3;
        first.port = kDefaultPort;
        GetLocalAddresses(&first.bindCount, first.bindAddresses);
        const AccessSettings second = first;
        first.acceptConnectionFrom = 0;
        WriteAccessSettings(db_, database_, first, 0);
        WriteAccessSettings(db_, database_, second, 1);
    }

    bool WriteAdminList() {
        const int64_t list = db_.HdbCreateKey(database_, kRootKey, kServerAdminListKey);
        if (list < 0) return false;
        char id[support::kIdentifierTextSize];
        support::UIntToHex8(1, id);
        const int64_t entry = db_.HdbCreateKey(database_, static_cast<uint32_t>(list), id);
        bool ok = entry >= 0;
        if (ok) {
            const auto parent = static_cast<uint32_t>(entry);
            char scrambled[sizeof kDefaultAdminPassword];
            PasswordScrambler().Scramble(kDefaultAdminPassword, scrambled);
            ok = AddTextKey(parent, kNameKey, kDefaultAdminName) &&
                 AddValueKey(parent, kPasswordKey, scrambled, sizeof kDefaultAdminPassword - 1) &&
                 AddValueKey(parent, kEMailAddressKey, nullptr, 0);
            db_.HdbCloseKey(database_, parent);
        }
        db_.HdbCloseKey(database_, static_cast<uint32_t>(list));
        return ok;
    }

    bool Write() {
        db_.SetAppValue(database_, 1);
        // The first key of a new database is the root, key 1, whatever id it is given here.
        if (db_.HdbCreateKey(database_, kRootKey, kRootKeyName) < 0) return false;
        if (!WriteConfig()) return false;
        WriteAccessPoints();
        if (!WriteAdminList()) return false;
        return AddValueKey(kRootKey, kClientListKey, nullptr, 0);
    }

private:
    DatabaseManager& db_;
    int32_t database_;
};

// Finds `name` under `parent`, or creates it. The key id, or -1.
int64_t FindOrCreate(DatabaseManager& db, int32_t database, uint32_t parent, const char* name) {
    const int64_t key = db.HdbFindKey(database, parent, name);
    return key >= 0 ? key : db.HdbCreateKey(database, parent, name);
}

// Every setting replaces the whole value: a shorter value written over a longer one that an
// earlier write left must not keep the old tail.

// A flag is the digit 1 when the field is 1, else 0.
bool WriteFlag(DatabaseManager& db, int32_t database, uint32_t key, int32_t field) {
    db.HdbClearValue(database, key);
    const char digit = field == 1 ? '1' : '0';
    return db.HdbWriteValue(database, key, &digit, 1) >= 0;
}

// A number is its decimal text.
bool WriteNumber(DatabaseManager& db, int32_t database, uint32_t key, int32_t number) {
    db.HdbClearValue(database, key);
    const std::string text = std::to_string(number);
    return db.HdbWriteValue(database, key, text.data(), static_cast<uint32_t>(text.size())) >= 0;
}

// An address list is the count, then (only when that worked) the addresses; a count of 0 still
// makes the second, empty write. A record holds at most kAddressListCapacity addresses: a count
// outside 0..capacity is stored as the nearest bound, so the list stays consistent and nothing
// is read past the record, and the write is reported as failed.
bool WriteAddressList(DatabaseManager& db, int32_t database, uint32_t key, int32_t count, const uint32_t* addresses) {
    const bool inRange = count >= 0 && count <= kAddressListCapacity;
    const int32_t stored = count < 0 ? 0 : (count > kAddressListCapacity ? kAddressListCapacity : count);
    db.HdbClearValue(database, key);
    if (db.HdbWriteValue(database, key, &stored, sizeof stored) < 0) return false;
    const uint32_t size = static_cast<uint32_t>(stored) * 4;
    return db.HdbWriteValue(database, key, addresses, size) >= 0 && inRange;
}

using SettingWriter = bool (*)(DatabaseManager& db, int32_t database, uint32_t key, const AccessSettings& s);

bool WriteEnabled(DatabaseManager& db, int32_t database, uint32_t key, const AccessSettings& s) {
    return WriteFlag(db, database, key, s.enabled);
}
bool WritePort(DatabaseManager& db, int32_t database, uint32_t key, const AccessSettings& s) {
    return WriteNumber(db, database, key, s.port);
}
bool WriteListenOnAnyIp(DatabaseManager& db, int32_t database, uint32_t key, const AccessSettings& s) {
    return WriteFlag(db, database, key, s.listenOnAnyIp);
}
bool WriteBindList(DatabaseManager& db, int32_t database, uint32_t key, const AccessSettings& s) {
    return WriteAddressList(db, database, key, s.bindCount, s.bindAddresses);
}
bool WriteAcceptMode(DatabaseManager& db, int32_t database, uint32_t key, const AccessSettings& s) {
    return WriteNumber(db, database, key, s.acceptConnectionFrom);
}
bool WriteAcceptList(DatabaseManager& db, int32_t database, uint32_t key, const AccessSettings& s) {
    return WriteAddressList(db, database, key, s.acceptCount, s.acceptAddresses);
}

// The keys of an access point, in the order they are written.
constexpr struct {
    const char* name;
    SettingWriter write;
} kAccessSettingKeys[] = {
    {"Enabled", WriteEnabled},
    {"Port", WritePort},
    {"ListenOnAnyIP", WriteListenOnAnyIp},
    {"BindToIPList", WriteBindList},
    {"AcceptConnectionFrom", WriteAcceptMode},
    {"AcceptFromList", WriteAcceptList},
};

}  // namespace

int32_t WriteAccessSettings(DatabaseManager& db, int32_t database, const AccessSettings& settings, int32_t which) {
    const int64_t config = FindOrCreate(db, database, kRootKey, kConfigKey);
    if (config < 0) return -1;
    const int64_t security = FindOrCreate(db, database, static_cast<uint32_t>(config), kRemoteAccessKey);
    db.HdbCloseKey(database, static_cast<uint32_t>(config));
    if (security < 0) return -1;
    const int64_t access = FindOrCreate(db, database, static_cast<uint32_t>(security),
                                        which == 0 ? kSystemAdminAccessKey : kClientAccessKey);
    db.HdbCloseKey(database, static_cast<uint32_t>(security));
    if (access < 0) return -1;

    int32_t result = 0;
    for (const auto& setting : kAccessSettingKeys) {
        const int64_t key = FindOrCreate(db, database, static_cast<uint32_t>(access), setting.name);
        if (key < 0) {
            result = -1;
            continue;
        }
        if (!setting.write(db, database, static_cast<uint32_t>(key), settings)) result = -1;
        db.HdbCloseKey(database, static_cast<uint32_t>(key));
    }
    db.HdbCloseKey(database, static_cast<uint32_t>(access));
    return result;
}

int32_t WriteServerTemplate(DatabaseManager& db, fileservice::FileService& files, const char* databasePath) {
    const int32_t database = db.OpenDatabase(databasePath, ModeReadWrite);
    if (database < 0) return -1;
    TemplateWriter writer(db, database);
    const bool written = writer.Write();
    db.HdbCloseKey(database, kRootKey);
    // A close that could not write everything leaves a file that is not the template (its header
    // may still be the empty one of its creation): it goes like a template that failed.
    const bool closed = db.CloseDatabase(database) == 0;
    if (written && closed) return 0;
    files.FileDelete(databasePath);
    return -1;
}

}  // namespace app
