#include "app/user_import.h"

#include <cstring>
#include <string>

#include "app/password_scrambler.h"
#include "app/rebuild_run.h"
#include "app/server_template.h"
#include "app/summary_reader.h"
#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "support/number_text.h"

using hdb::DatabaseManager;
using hdb::kRootKey;

namespace app {

namespace {

// Raises Next User ID under `config` to userId + 1 when the user has reached it. The counter
// is never lowered: ffffffff has no successor, so it leaves the counter alone.
void RaiseUserCounter(DatabaseManager& db, int32_t database, uint32_t config, uint32_t userId) {
    char buffer[kCounterTextSize + 1];
    const uint32_t next = GetStringValue(db, database, config, kNextUserIdKey, buffer, kCounterTextSize) == -1
                              ? 1
                              : support::HexToUInt(buffer);
    if (userId < next || userId == UINT32_MAX) return;
    char text[support::kIdentifierTextSize];
    support::UIntToHex8(userId + 1, text);
    SetStringValue(db, database, config, kNextUserIdKey, text);
}

// Name, Password and NeedToSynchronizeClient of a new account. False when Password cannot be
// created (the account keeps its Name then).
bool WriteAccount(DatabaseManager& db, int32_t database, uint32_t account, const char* userName,
                  const char* plainPassword) {
    SetStringValue(db, database, account, kNameKey, userName);
    const size_t length = std::strlen(plainPassword);
    std::string scrambled(length + 1, '\0');
    PasswordScrambler().Scramble(plainPassword, scrambled.data());
    const int64_t key = db.HdbCreateKey(database, account, kPasswordKey);
    if (key < 0) return false;
    db.HdbWriteValue(database, static_cast<uint32_t>(key), scrambled.data(), static_cast<uint32_t>(length));
    db.HdbCloseKey(database, static_cast<uint32_t>(key));
    SetStringValue(db, database, account, kSyncKey, "0");
    return true;
}

}  // namespace

int32_t SetStringValue(DatabaseManager& db, int32_t database, uint32_t parent, const char* name, const char* text) {
    int64_t key = db.HdbFindKey(database, parent, name);
    if (key >= 0) {
        db.HdbClearValue(database, static_cast<uint32_t>(key));
    } else {
        key = db.HdbCreateKey(database, parent, name);
        if (key < 0) return -1;
    }
    db.HdbWriteValue(database, static_cast<uint32_t>(key), text, static_cast<uint32_t>(std::strlen(text)));
    db.HdbCloseKey(database, static_cast<uint32_t>(key));
    return 0;
}

int32_t GetStringValue(DatabaseManager& db, int32_t database, uint32_t parent, const char* name, char* buffer,
                       int32_t size) {
    const int64_t key = db.HdbFindKey(database, parent, name);
    if (key < 0) return -1;
    const int32_t n = db.HdbReadValue(database, static_cast<uint32_t>(key), buffer, static_cast<uint32_t>(size));
    buffer[n < 0 ? 0 : n] = '\0';
    db.HdbCloseKey(database, static_cast<uint32_t>(key));
    return n;
}

int32_t AddClientAccount(DatabaseManager& db, int32_t database, const char* folderName, uint32_t userId,
                         const char* userName, const char* plainPassword) {
    const int64_t config = db.HdbFindKey(database, kRootKey, kConfigKey);
    if (config < 0) return -1;
    RaiseUserCounter(db, database, static_cast<uint32_t>(config), userId);
    db.HdbCloseKey(database, static_cast<uint32_t>(config));

    const int64_t list = db.HdbFindKey(database, kRootKey, kClientListKey);
    if (list < 0) return -1;
    const int64_t account = db.HdbCreateKey(database, static_cast<uint32_t>(list), folderName);
    const bool written =
        account >= 0 && WriteAccount(db, database, static_cast<uint32_t>(account), userName, plainPassword);
    if (account >= 0) db.HdbCloseKey(database, static_cast<uint32_t>(account));
    db.HdbCloseKey(database, static_cast<uint32_t>(list));
    return written ? 0 : -1;
}

ImportResult ImportUserAccount(int32_t database, const char* folderName, uint32_t userId, const char* summaryPath,
                               std::string* userNameOut) {
    RebuildRun& run = SharedRun();
    AddStatusLine((std::string("Processing user ID \"") + folderName + "\"...").c_str());
    fileservice::FileService& files = *run.fileService;
    const int32_t file = files.FileOpen(summaryPath, fileservice::OpenRead);
    if (file < 0) {
        AddStatusLine(
            (std::string("ERROR - Cannot open summary file \"") + summaryPath + "\" repair is incomplete.").c_str());
        return ImportResult::SummaryNotOpened;
    }
    char line[kLineBufferSize];
    const char* userName = nullptr;
    ImportResult result = ImportResult::NoUserNameLine;
    const int32_t read = ReadUserName(files, file, line, &userName);
    if (read == kReadLineError) {
        // A name cut short by a failed read is not the user's name.
        AddStatusLine(
            (std::string("ERROR - Cannot read summary file \"") + summaryPath + "\" repair is incomplete.").c_str());
        result = ImportResult::SummaryNotRead;
    } else if (userName) {
        if (userNameOut) *userNameOut = userName;
        result = AddClientAccount(*run.databaseManager, database, folderName, userId, userName,
                                  kDefaultClientPassword) == 0
                     ? ImportResult::AccountAdded
                     : ImportResult::AccountNotWritten;
    }
    files.FileClose(file);
    return result;
}

int32_t ImportUser(int32_t database, const char* folderName, uint32_t userId, const char* summaryPath) {
    ImportUserAccount(database, folderName, userId, summaryPath);
    return 0;
}

}  // namespace app
