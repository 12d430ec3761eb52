// The server's default configuration, written into a new database: the ID counters, the
// server's name, its two listening access points, the default administrator and an empty
// client list.
#pragma once

#include <cstdint>

#include "app/local_addresses.h"
#include "hdb/format.h"

namespace hdb {
class DatabaseManager;
}  // namespace hdb
namespace fileservice {
class FileService;
}  // namespace fileservice

namespace app {

// Key names of the user configuration database; the import adds to the same tree.
constexpr char kRootKeyName[] = "User Configuration Root";
constexpr char kConfigKey[] = "Config";
constexpr char kNextAdminIdKey[] = "Next Admin ID";
constexpr char kNextUserIdKey[] = "Next User ID";
constexpr char kServerNameKey[] = "ServerNameOrURL";
constexpr char kRemoteAccessKey[] = "Remote Access Security";
constexpr char kSystemAdminAccessKey[] = "System Admin Access";
constexpr char kClientAccessKey[] = "Client Access";
constexpr char kServerAdminListKey[] = "Server Admin List";
constexpr char kClientListKey[] = "Client List";
constexpr char kNameKey[] = "Name";
constexpr char kPasswordKey[] = "Password";
constexpr char kEMailAddressKey[] = "EMailAddress";
constexpr char kSyncKey[] = "NeedToSynchronizeClient";

constexpr char kDefaultAdminName[] = "OrvaneAdmin";
constexpr char kDefaultAdminPassword[] = "HarborLantern";
constexpr int32_t kDefaultPort = 2125;

// The settings of one listening access point. Addresses are 4 bytes each in network byte order.
struct AccessSettings {
    int32_t enabled;
    int32_t listenOnAnyIp;
    int32_t bindCount;
    uint32_t bindAddresses[kAddressListCapacity];
    int32_t port;
    int32_t acceptConnectionFrom;  // stored as given, not interpreted here
    int32_t acceptCount;
    uint32_t acceptAddresses[kAddressListCapacity];
};

// Creates the database at `databasePath` and writes the template into it. 0, or -1: the
// database could not be opened (nothing else done), or a key of the template could not be
// created (the file is deleted again).
int32_t WriteServerTemplate(hdb::DatabaseManager& manager, fileservice::FileService& files, const char* databasePath);

// Writes `settings` under Config\Remote Access Security\System Admin Access (which = 0) or
// \Client Access (any other `which`), finding or creating each key. 0, or -1 when any part
// could not be written (the rest is written all the same).
int32_t WriteAccessSettings(hdb::DatabaseManager& manager, int32_t database, const AccessSettings& settings,
                            int32_t which);

}  // namespace app
