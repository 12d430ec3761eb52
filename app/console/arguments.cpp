#include "app/console/arguments.h"

#include "app/server_template.h"
#include "app/user_import.h"

namespace {

bool IsHelp(const std::string& argument, bool slashHelp) {
    return argument == "-h" || argument == "--help" || (slashHelp && argument == "/?");
}

// "-" alone, "-x", "--anything": what a person types as an option, never as a folder's name.
bool LooksLikeOption(const std::string& argument) { return !argument.empty() && argument[0] == '-'; }

ConsoleArguments UsageError(std::string error) {
    ConsoleArguments result;
    result.action = ConsoleAction::Usage;
    result.error = std::move(error);
    return result;
}

}  // namespace

const char kVersionText[] = "pellucor 0.1.0\n";

std::string UsageText() {
    return std::string(
               "Usage: pellucor --batch [--] REPOSITORY\n"
               "       pellucor --help | --version\n"
               "\n"
               "Rebuilds REPOSITORY/UserConfig.hdb, the server's user database: sets the old file\n"
               "aside under a free name (UserConfig.hdb.old, then .old0 to .old999), writes the server's\n"
               "default configuration and adds one client account per entry of REPOSITORY/users, with\n"
               "the user's name from its UserSummary.rtf.\n"
               "\n"
               "  --batch REPOSITORY  rebuild at once, printing each status line and the final message\n"
               "  --batch=REPOSITORY  the same\n"
               "  --                  ends the options: a REPOSITORY that begins with '-' goes after it\n"
               "  -h, --help          show this help (/? too on Windows)\n"
               "  --version           show the version\n"
               "\n"
               "Passwords: every rebuilt client account gets the same built-in default password, \"") +
           kDefaultClientPassword + "\",\nand the administrator account " + kDefaultAdminName +
           " gets its default password, \"" + kDefaultAdminPassword +
           "\".\n"
           "Reset them all once the server runs again.\n"
           "\n"
           "Standard output shows the run's status lines and its final message. Standard error says\n"
           "why something failed (the file and the system's reason) and what was lost, and ends with a\n"
           "summary: users imported, entries without an account, where the old database went.\n"
           "\n"
           "One rebuild per repository at a time: while one runs, another says the repository is busy\n"
           "(the lock file is UserConfig.hdb.lock beside the database). Ctrl-C (and Ctrl-Break on\n"
           "Windows, SIGTERM and SIGHUP elsewhere) during a rebuild lets it finish, so the database is\n"
           "never left half-built; before the rebuild starts they end the program at once.\n"
           "\n"
           "Exit status:\n"
           "  0  the rebuild is complete\n"
           "  1  the rebuild failed: no usable new database was written (standard error says where the\n"
           "     old one is), or the repository is busy\n"
           "  2  usage error\n"
           "  3  the rebuild completed with losses: entries that got no account (or not the one\n"
           "     written), a users folder that is missing or could not be read whole, or a server\n"
           "     configuration that is not the default one\n"
           "  4  the output could not be written whole (a closed pipe, a full disk); the rebuild itself\n"
           "     completed, with or without losses\n";
}

ConsoleArguments ParseArguments(const std::vector<std::string>& arguments, bool slashHelp) {
    // Help and version win wherever they stand among the options.
    for (const std::string& argument : arguments) {
        if (argument == "--") break;
        if (IsHelp(argument, slashHelp)) return ConsoleArguments{ConsoleAction::Help, false, {}, {}};
        if (argument == "--version") return ConsoleArguments{ConsoleAction::Version, false, {}, {}};
    }

    bool batch = false;
    bool optionsEnded = false;
    bool hasRepository = false;
    std::string repository;
    const auto take = [&](const std::string& path) -> bool {
        if (hasRepository) return false;
        hasRepository = true;
        repository = path;
        return true;
    };
    for (const std::string& argument : arguments) {
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && argument == "--batch") {
            batch = true;
        } else if (!optionsEnded && argument.rfind("--batch=", 0) == 0) {
            batch = true;
            if (!take(argument.substr(8))) return UsageError("only one REPOSITORY can be given");
        } else if (!optionsEnded && LooksLikeOption(argument)) {
            return UsageError("unknown option '" + argument + "' (a REPOSITORY of that name goes after '--': " +
                              "pellucor --batch -- " + argument + ")");
        } else if (!take(argument)) {
            return UsageError("only one REPOSITORY can be given");
        }
    }

    if (hasRepository && repository.empty()) return UsageError("the REPOSITORY path is empty");
    if (!batch) {
        if (hasRepository)
            return UsageError("a REPOSITORY needs --batch; did you mean pellucor --batch " +
                              std::string(LooksLikeOption(repository) ? "-- " : "") + repository + "?");
        return ConsoleArguments{ConsoleAction::Dialog, false, {}, {}};
    }
    return ConsoleArguments{ConsoleAction::Batch, hasRepository, repository, {}};
}
