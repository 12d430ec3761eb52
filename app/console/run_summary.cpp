#include "app/console/run_summary.h"

#include <chrono>
#include <set>
#include <utility>

#include "app/console/diagnostics.h"
#include "app/console/exit_codes.h"
#include "app/password_scrambler.h"
#include "app/rebuild_run.h"
#include "app/server_template.h"
#include "app/user_import.h"
#include "fileservice/file_service.h"
#include "hdb/database_manager.h"
#include "hdb/key_tree_reader.h"
#include "platform/platform.h"
#include "support/number_text.h"
#include "support/path_helpers.h"

using fileservice::FileService;
using namespace hdb;

namespace app {

namespace {

constexpr uint32_t kLargestValueRead = 1 << 20;  // a configuration value is a few bytes

struct TreeEntry {
    std::string path;  // the names from below the root, joined with "\"
    std::string value;
};

// A value as the comparison sees it: a value too large to be a setting, or one that cannot be
// read, stands for itself.
std::string ShownValue(KeyTreeReader::StoredValue value) {
    if (value.read == KeyTreeReader::StoredValue::TooLarge) return "<" + std::to_string(value.size) + " bytes>";
    return value.read == KeyTreeReader::StoredValue::Unreadable ? "<unreadable>" : std::move(value.bytes);
}

// Every key below the root, parents before their sub-keys, leaving out the root's sub-key
// `skipped` and what is below it. A key listed again is an entry again (the comparison finds
// it there twice), but what is below it is not.
class EntryCollector : public KeyTreeVisitor {
public:
    EntryCollector(KeyTreeReader& reader, const std::string& skipped, std::vector<TreeEntry>& entries)
        : reader_(reader), skipped_(skipped), entries_(entries) {}

    bool Descend(const WalkedKey& key) override { return !Skipped(key); }

    bool OnKey(const WalkedKey& key) override {
        if (key.depth == 1 || Skipped(key)) return true;
        paths_.resize(key.depth - 2);
        const std::string name = key.name.c_str();  // as a lookup sees it
        const std::string path = paths_.empty() || paths_.back().empty() ? name : paths_.back() + "\\" + name;
        if (key.fault == WalkedKey::ListedAgain) {
            entries_.push_back({path, ShownValue(reader_.Value(key.id, kLargestValueRead))});
            return true;
        }
        entries_.push_back({path, Shown(key)});
        paths_.push_back(path);
        return true;
    }

private:
    bool Skipped(const WalkedKey& key) const { return key.depth == 2 && key.name.c_str() == skipped_; }

    static std::string Shown(const WalkedKey& key) {
        KeyTreeReader::StoredValue value;
        value.size = key.valueSize;
        value.bytes = key.value;
        if (key.fault == WalkedKey::ValueNotShown) value.read = KeyTreeReader::StoredValue::TooLarge;
        if (key.fault == WalkedKey::ValueUnreadable) value.read = KeyTreeReader::StoredValue::Unreadable;
        return ShownValue(std::move(value));
    }

    KeyTreeReader& reader_;
    const std::string& skipped_;
    std::vector<TreeEntry>& entries_;
    std::vector<std::string> paths_;  // the path of each key above, from below the root down
};

// The key `name` under `parent` and its value. False when there is no such key.
bool FindValue(KeyTreeReader& reader, uint32_t parent, const char* name, std::string* value = nullptr) {
    const int64_t key = reader.Find(parent, name);
    if (key < 0) return false;
    if (value) *value = ShownValue(reader.Value(static_cast<uint32_t>(key), kLargestValueRead));
    reader.Close(static_cast<uint32_t>(key));
    return true;
}

std::vector<TreeEntry> Tree(KeyTreeReader& reader, const std::string& skipped) {
    std::vector<TreeEntry> entries;
    EntryCollector collector(reader, skipped, entries);
    reader.Walk(kRootKey, collector, kLargestValueRead);
    return entries;
}

std::map<std::string, StoredAccount> ReadAccounts(KeyTreeReader& reader, uint32_t list) {
    const size_t passwordLength = std::char_traits<char>::length(kDefaultClientPassword);
    std::string scrambled(passwordLength + 1, '\0');
    PasswordScrambler().Scramble(kDefaultClientPassword, scrambled.data());
    scrambled.resize(passwordLength);

    std::map<std::string, StoredAccount> accounts;
    for (uint32_t key : reader.SubKeys(list)) {
        StoredAccount& account = accounts[reader.Name(key)];
        ++account.copies;
        std::string password, sync;
        const bool hasName = FindValue(reader, key, kNameKey, &account.name);
        const bool hasPassword = FindValue(reader, key, kPasswordKey, &password);
        const bool hasSync = FindValue(reader, key, kSyncKey, &sync);
        account.complete = hasName && hasPassword && hasSync;
        account.defaultPassword = password == scrambled;
        account.synchronised = sync == "0";
    }
    return accounts;
}

// The configuration this machine writes into a new database, read back from a scratch copy.
bool DefaultConfiguration(DatabaseManager& db, FileService& files, std::vector<TreeEntry>& entries) {
    char folder[4096];
    if (!platform::TempFolder(folder, sizeof folder)) return false;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    std::string path = folder;
    if (!support::IsSeparator(path.back())) path += platform::kPathSeparator;
    path += "pellucor-default-" + std::to_string(stamp) + ".hdb";
    if (files.FileExists(path.c_str()) != 0) return false;
    bool read = false;
    if (WriteServerTemplate(db, files, path.c_str()) == 0) {
        const int32_t database = db.OpenDatabase(path.c_str(), ModeReadOnly);
        if (database >= 0) {
            // A copy that did not close cleanly is no measure of anything.
            read = DatabaseClosedCleanly(database);
            KeyTreeReader reader(db, database);
            if (read) entries = Tree(reader, kClientListKey);
            db.CloseDatabase(database);
        }
    }
    files.FileDelete(path.c_str());
    return read;
}

// What differs between the default configuration and the one in the new database. Next User ID
// is compared by its presence only: its value depends on the users; so is every setting under
// Config when those were carried over from an old database.
std::vector<std::string> CompareConfiguration(const std::vector<TreeEntry>& expected, const std::vector<TreeEntry>& actual,
                                              bool carriedOver) {
    const std::string counter = std::string(kConfigKey) + "\\" + kNextUserIdKey;
    const std::string config = std::string(kConfigKey) + "\\";
    const auto compared = [&](const TreeEntry& entry) {
        const bool presenceOnly = entry.path == counter || (carriedOver && entry.path.rfind(config, 0) == 0);
        return presenceOnly ? std::string() : entry.value;
    };
    std::multimap<std::string, std::string> held;
    for (const TreeEntry& entry : actual) held.emplace(entry.path, compared(entry));
    std::set<std::string> expectedPaths;
    std::vector<std::string> faults;
    for (const TreeEntry& entry : expected) {
        expectedPaths.insert(entry.path);
        const std::string value = compared(entry);
        auto [first, last] = held.equal_range(entry.path);
        if (first == last) {
            faults.push_back("\"" + entry.path + "\" is missing");
            continue;
        }
        auto match = first;
        while (match != last && match->second != value) ++match;
        if (match == last) {
            faults.push_back("\"" + entry.path + "\" does not hold its default value");
            match = first;
        }
        held.erase(match);
    }
    for (const auto& [path, value] : held)
        faults.push_back("\"" + path + "\" " +
                         (expectedPaths.count(path) ? "is there more than once" : "is not part of the default configuration"));
    return faults;
}

std::string OldDatabaseText(const RunReport& report, const std::string& databasePath) {
    if (!report.setAsideName.empty()) return "old database set aside as \"" + report.setAsideName + "\"";
    if (report.end == RunEnd::SetAsideFailed) {
        // A failed check of the database itself leaves open whether there is one.
        if (report.setAsideTarget.empty() && report.failedName == databasePath) return "any old database left as it was";
        return "old database left as it was at \"" + databasePath + "\"";
    }
    return "there was no old database";
}

std::string Plural(int32_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Why the entry has no account as it should be; empty when it has one. `carriedOver`: the
// password and the flag may come from an old database.
std::string AccountFault(const UsersEntry& entry, const NewDatabaseContents& contents, bool carriedOver) {
    if (entry.result != ImportResult::AccountAdded) return EntryLossLine(entry, false);
    const auto found = contents.accounts.find(entry.name);
    if (found == contents.accounts.end()) return EntryLossLine(entry, true);
    const StoredAccount& account = found->second;
    const std::string start = "pellucor: the account of \"" + entry.name + "\" ";
    if (account.copies > 1) return start + "is there " + std::to_string(account.copies) + " times";
    if (!account.complete) return start + "lacks its Name, Password or NeedToSynchronizeClient";
    if (account.name != entry.userName)
        return start + "holds the name \"" + account.name + "\", not \"" + entry.userName + "\" from its summary";
    if (!carriedOver && (!account.defaultPassword || !account.synchronised))
        return start + "does not hold the default Password and NeedToSynchronizeClient";
    return "";
}

// Lines up to the limit, then a count of the rest.
void AddCapped(std::vector<std::string>& lines, const std::vector<std::string>& items, const char* one, const char* many) {
    for (size_t i = 0; i < items.size() && i < kLossLinesShown; ++i) lines.push_back(items[i]);
    if (items.size() > kLossLinesShown)
        lines.push_back("pellucor: ... and " + Plural(static_cast<int32_t>(items.size() - kLossLinesShown), one, many));
}

void JudgeCompleted(const RebuildRun& run, const NewDatabaseContents& contents, FileService& files,
                    bool carryOverFailed, RunVerdict& verdict) {
    const RunReport& report = run.report;
    const bool carriedOver = !run.keepFromPath.empty();
    const std::string database = "\"" + run.databasePath + "\"";
    verdict.faultsInDatabase = !contents.readable || !contents.hasConfiguration || !contents.closedCleanly ||
                               !contents.configurationFaults.empty();
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
    bool lost = false;

    if (contents.hasConfiguration) {
        std::vector<std::string> faults;
        for (const std::string& fault : contents.configurationFaults)
            faults.push_back("pellucor: the server configuration in the new database is not as written: " + fault);
        AddCapped(verdict.lines, faults, "more fault of the configuration", "more faults of the configuration");
        lost = !faults.empty();
        if (!contents.configurationChecked)
            verdict.lines.push_back(
                "pellucor: note: the server configuration was not compared with the default one (no scratch copy could "
                "be written in the temporary folder)");
    }

    const std::string usersLine = UsersFolderLine(report, JoinPath(run.repositoryPath, "users"), files);
    if (!usersLine.empty()) verdict.lines.push_back(usersLine);
    lost = lost || !usersLine.empty();

    std::vector<std::string> losses;
    const UsersEntry* highest = nullptr;
    for (const UsersEntry& entry : report.entries) {
        const std::string fault = AccountFault(entry, contents, carriedOver);
        if (!fault.empty()) {
            if (entry.result == ImportResult::AccountAdded) verdict.faultsInDatabase = true;
            ++verdict.entriesWithoutAccount;
            losses.push_back(fault);
            continue;
        }
        ++verdict.usersImported;
        const uint32_t id = support::HexToUInt(entry.name.c_str());
        if (id != UINT32_MAX && (!highest || id > support::HexToUInt(highest->name.c_str()))) highest = &entry;
    }
    AddCapped(verdict.lines, losses, "more entry without an account", "more entries without an account");
    lost = lost || !losses.empty();

    // The server hands out identifiers from Next User ID on: it must lie above every user's.
    if (contents.hasConfiguration && highest &&
        (!contents.hasNextUserId || contents.nextUserId <= support::HexToUInt(highest->name.c_str()))) {
        verdict.lines.push_back("pellucor: Config\\Next User ID in the new database is not above the imported user \"" +
                                highest->name + "\": the server could hand that identifier out again");
        lost = true;
        verdict.faultsInDatabase = true;
    }

    if (carryOverFailed) {
        verdict.lines.push_back("pellucor: what --keep-from asked for was not carried over from \"" + run.keepFromPath +
                                "\" whole (its status lines say what)");
        verdict.exitCode = kExitFailed;
    }
    if (verdict.exitCode == kExitComplete && lost) verdict.exitCode = kExitIncomplete;
    if (contents.hasConfiguration) {
        std::string accounts;
        if (verdict.usersImported > 0)
            accounts = carriedOver ? "accounts whose password was not kept from the old database have the built-in "
                                     "default password, and "
                                   : "every rebuilt account has the built-in default password, and ";
        verdict.lines.push_back("pellucor: " + accounts + "the administrator account " + kDefaultAdminName +
                                " has its default password: reset " + (verdict.usersImported > 0 ? "them" : "it") +
                                " (see pellucor --help)");
    }
}

}  // namespace

NewDatabaseContents ReadNewDatabase(DatabaseManager& databases, FileService& files, const std::string& databasePath,
                                    bool carriedOver) {
    NewDatabaseContents contents;
    const int32_t database = databases.OpenDatabase(databasePath.c_str(), ModeReadOnly);
    if (database < 0) return contents;
    contents.readable = true;
    contents.closedCleanly = DatabaseClosedCleanly(database);
    KeyTreeReader reader(databases, database);
    const int64_t config = databases.HdbFindKey(database, kRootKey, kConfigKey);
    const int64_t list = databases.HdbFindKey(database, kRootKey, kClientListKey);
    contents.hasConfiguration = config >= 0 && list >= 0;
    if (config >= 0) {
        std::string counter;
        contents.hasNextUserId = FindValue(reader, static_cast<uint32_t>(config), kNextUserIdKey, &counter);
        contents.nextUserId = support::HexToUInt(counter.c_str());
        databases.HdbCloseKey(database, static_cast<uint32_t>(config));
    }
    if (list >= 0) {
        contents.accounts = ReadAccounts(reader, static_cast<uint32_t>(list));
        databases.HdbCloseKey(database, static_cast<uint32_t>(list));
    }
    const std::vector<TreeEntry> actual = Tree(reader, kClientListKey);
    databases.CloseDatabase(database);

    std::vector<TreeEntry> expected;
    contents.configurationChecked = DefaultConfiguration(databases, files, expected);
    if (contents.configurationChecked) contents.configurationFaults = CompareConfiguration(expected, actual, carriedOver);
    return contents;
}

RunVerdict JudgeRun(const RebuildRun& run, const NewDatabaseContents& contents, FileService& files,
                    bool carryOverFailed) {
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
        case RunEnd::WriteFailed:
            verdict.lines.push_back(report.end == RunEnd::CreateFailed
                                        ? CreateFailureLine(report, run.repositoryPath, files)
                                        : WriteFailureLine(report));
            if (!report.setAsideName.empty())
                verdict.lines.push_back("pellucor: no new database was written; the old one is now \"" +
                                        report.setAsideName + "\": rename it back to \"" + run.databasePath +
                                        "\" to undo");
            verdict.exitCode = kExitFailed;
            break;
        case RunEnd::Completed:
            JudgeCompleted(run, contents, files, carryOverFailed, verdict);
            break;
    }
    verdict.lines.push_back("pellucor: summary: " + std::string(verdict.exitCode == kExitFailed ? "rebuild failed, " : "") +
                            Plural(verdict.usersImported, "user", "users") + " imported, " +
                            Plural(verdict.entriesWithoutAccount, "entry", "entries") + " without an account; " +
                            OldDatabaseText(report, run.databasePath));
    return verdict;
}

}  // namespace app
