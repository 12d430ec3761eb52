#include "app/console/run_summary.h"

#include <vector>

#include "app/console/diagnostics.h"
#include "app/console/exit_codes.h"
#include "app/rebuild_run.h"
#include "app/server_template.h"
#include "app/user_import.h"
#include "hdb/database_manager.h"

namespace {

constexpr char kSyncKey[] = "NeedToSynchronizeClient";
constexpr uint32_t kNameBufferSize = 65536;  // longer than any name a key can hold

bool HasKey(DatabaseManager& db, int32_t database, uint32_t parent, const char* name, uint32_t* valueSize = nullptr) {
    const int64_t key = db.HdbFindKey(database, parent, name);
    if (key < 0) return false;
    if (valueSize) *valueSize = db.HdbGetValueSize(database, static_cast<uint32_t>(key));
    db.HdbCloseKey(database, static_cast<uint32_t>(key));
    return true;
}

// The names of the complete accounts under Client List (the key `list`).
std::set<std::string> CompleteAccounts(DatabaseManager& db, int32_t database, uint32_t list) {
    std::vector<uint32_t> keys;
    for (int64_t sub = db.HdbFirstSubKey(database, list); sub >= 0;
         sub = db.HdbNextSubKey(database, list, static_cast<uint32_t>(sub)))
        keys.push_back(static_cast<uint32_t>(sub));
    std::set<std::string> accounts;
    std::vector<char> name(kNameBufferSize);
    const uint32_t passwordSize = static_cast<uint32_t>(std::char_traits<char>::length(kDefaultClientPassword));
    for (uint32_t account : keys) {
        if (db.HdbGetKeyName(database, account, name.data(), kNameBufferSize) <= 0) continue;
        uint32_t storedSize = 0;
        if (HasKey(db, database, account, kNameKey) && HasKey(db, database, account, kPasswordKey, &storedSize) &&
            storedSize == passwordSize && HasKey(db, database, account, kSyncKey))
            accounts.insert(name.data());
        db.HdbCloseKey(database, account);
    }
    return accounts;
}

std::string OldDatabaseText(const RunReport& report, const std::string& databasePath) {
    if (!report.setAsideName.empty()) return "old database set aside as \"" + report.setAsideName + "\"";
    if (report.end == RunEnd::SetAsideFailed) {
        // A failed check of the database itself leaves open whether there is one.
        if (report.setAsideTarget.empty() && report.failedName == databasePath)
            return "any old database left as it was";
        return "old database left as it was at \"" + databasePath + "\"";
    }
    return "there was no old database";
}

std::string Plural(int32_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

void JudgeCompleted(const RebuildRun& run, const NewDatabaseContents& contents, FileService& files,
                    RunVerdict& verdict) {
    const RunReport& report = run.report;
    const std::string database = "\"" + run.databasePath + "\"";
    if (!contents.readable) {
        verdict.lines.push_back("pellucor: the new database " + database + " cannot be read back");
        verdict.exitCode = kExitFailed;
        return;
    }
    if (!contents.hasConfiguration) {
        verdict.lines.push_back("pellucor: the new database " + database +
                                " holds no server configuration: it could not be written, and the database is empty");
        verdict.exitCode = kExitFailed;
    }
    if (!contents.closedCleanly) {
        verdict.lines.push_back("pellucor: the new database " + database +
                                " was not closed cleanly: its header still says a writer has it open");
        verdict.exitCode = kExitFailed;
    }

    const std::string usersLine = UsersFolderLine(report, JoinPath(run.repositoryPath, "users"), files);
    if (!usersLine.empty()) verdict.lines.push_back(usersLine);

    std::vector<std::string> losses;
    for (const UsersEntry& entry : report.entries) {
        if (contents.accounts.count(entry.name) != 0) {
            ++verdict.usersImported;
            continue;
        }
        ++verdict.entriesWithoutAccount;
        if (losses.size() < kLossLinesShown) losses.push_back(EntryLossLine(entry, entry.result == ImportResult::AccountAdded));
    }
    verdict.lines.insert(verdict.lines.end(), losses.begin(), losses.end());
    if (verdict.entriesWithoutAccount > static_cast<int32_t>(losses.size()))
        verdict.lines.push_back("pellucor: ... and " +
                                Plural(verdict.entriesWithoutAccount - static_cast<int32_t>(losses.size()),
                                       "more entry", "more entries") +
                                " without an account");

    if (verdict.exitCode == kExitComplete && (!usersLine.empty() || verdict.entriesWithoutAccount > 0))
        verdict.exitCode = kExitIncomplete;
    if (contents.hasConfiguration)
        verdict.lines.push_back(
            std::string("pellucor: ") +
            (verdict.usersImported > 0 ? "every rebuilt account has the built-in default password, and " : "") +
            "the administrator account " + kDefaultAdminName + " has its default password: reset " +
            (verdict.usersImported > 0 ? "them" : "it") + " (see pellucor --help)");
}

}  // namespace

NewDatabaseContents ReadNewDatabase(DatabaseManager& databases, const std::string& databasePath) {
    NewDatabaseContents contents;
    const int32_t database = databases.OpenDatabase(databasePath.c_str(), ModeReadOnly);
    if (database < 0) return contents;
    contents.readable = true;
    if (const DatabaseRecord* record = LookupDatabase(database))
        contents.closedCleanly = record->header.openForWrite == 0;
    const int64_t list = databases.HdbFindKey(database, kRootKey, kClientListKey);
    contents.hasConfiguration = HasKey(databases, database, kRootKey, kConfigKey) && list >= 0;
    if (list >= 0) {
        contents.accounts = CompleteAccounts(databases, database, static_cast<uint32_t>(list));
        databases.HdbCloseKey(database, static_cast<uint32_t>(list));
    }
    databases.CloseDatabase(database);
    return contents;
}

RunVerdict JudgeRun(const RebuildRun& run, const NewDatabaseContents& contents, FileService& files) {
    RunVerdict verdict;
    const RunReport& report = run.report;
    switch (report.end) {
        case RunEnd::NotRun:
            verdict.lines.push_back("pellucor: the rebuild did not run");
            verdict.exitCode = kExitFailed;
            break;
        case RunEnd::SetAsideFailed:
            verdict.lines.push_back(SetAsideFailureLine(report, run.repositoryPath, files));
            verdict.exitCode = kExitFailed;
            break;
        case RunEnd::CreateFailed:
            verdict.lines.push_back(CreateFailureLine(report, run.repositoryPath, files));
            if (!report.setAsideName.empty())
                verdict.lines.push_back("pellucor: no new database was written; the old one is now \"" +
                                        report.setAsideName + "\": rename it back to \"" + run.databasePath +
                                        "\" to undo");
            verdict.exitCode = kExitFailed;
            break;
        case RunEnd::Completed:
            JudgeCompleted(run, contents, files, verdict);
            break;
    }
    verdict.lines.push_back("pellucor: summary: " + std::string(verdict.exitCode == kExitFailed ? "rebuild failed, " : "") +
                            Plural(verdict.usersImported, "user", "users") + " imported, " +
                            Plural(verdict.entriesWithoutAccount, "entry", "entries") + " without an account; " +
                            OldDatabaseText(report, run.databasePath));
    return verdict;
}
