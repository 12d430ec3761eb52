#include "app/console/arguments.h"

#include "app/server_template.h"
#include "app/user_import.h"
#include "pellucor_version.h"

namespace app {

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

const char kVersionText[] = "pellucor " PELLUCOR_VERSION_TEXT "\n";

std::string UsageText() {
    return std::string(
               "Usage: pellucor [REPOSITORY]\n"
               "       pellucor --batch [REPOSITORY] [--keep-from OLDFILE]\n"
               "       pellucor --where\n"
               "       pellucor --help | --version\n"
               "\n"
               "Rebuilds REPOSITORY/UserConfig.hdb, the server's user database: sets the old file\n"
               "aside under a free name (UserConfig.hdb.old, then .old0 to .old999), writes the server's\n"
               "default configuration and adds one client account per entry of REPOSITORY/users, with\n"
               "the user's name from its UserSummary.rtf. Without REPOSITORY, the repository is the one\n"
               "the server's installation names (its uninstall entry in the registry and its\n"
               "RepositoryConfig.ini).\n"
               "\n"
               "  (no option)           the dialog in the terminal: Start, Browse or Close\n"
               "  --batch [REPOSITORY]  rebuild at once, printing each status line and the final message\n"
               "  --batch=REPOSITORY    the same\n"
               "  --keep-from OLDFILE   after the rebuild, give each account its Password and\n"
               "                        NeedToSynchronizeClient from the same account in OLDFILE, and keep\n"
               "                        OLDFILE's value of every Config setting the new one has\n"
               "  --where               print the repository path a run would use, and on standard error\n"
               "                        how it was found\n"
               "  --                    ends the options: a REPOSITORY that begins with '-' goes after it\n"
               "  -h, --help            show this help (/? too on Windows)\n"
               "  --version             show the version\n"
               "\n"
               "Passwords: every rebuilt client account gets the same built-in default password, \"") +
           kDefaultClientPassword + "\",\nand the administrator account " + kDefaultAdminName +
           " gets its default password, \"" + kDefaultAdminPassword +
           "\".\n"
           "Reset them once the server runs again (with --keep-from, accounts found in OLDFILE keep\n"
           "their old passwords; the administrator's is the default all the same).\n"
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
           "Exit status of --batch:\n"
           "  0  the rebuild is complete\n"
           "  1  the rebuild failed: no usable new database was written (standard error says where the\n"
           "     old one is), the repository is busy, the path the installation names is too long, or what\n"
           "     --keep-from asked for could not be carried over\n"
           "  2  usage error, also a REPOSITORY path that is too long or an OLDFILE that does not exist\n"
           "  3  the rebuild completed with losses: entries that got no account (or not the one\n"
           "     written), a users folder that is missing or could not be read whole, or a server\n"
           "     configuration that is not the one written\n"
           "  4  the output could not be written whole (a closed pipe, a full disk); the rebuild itself\n"
           "     completed, with or without losses\n"
           "--where: 0, or 1 when the path is the default one (no installation was found, or its\n"
           "Path= is empty) or none (the path named is too long; nothing is printed then).\n"
           "The dialog: 0 once it has ended, 2 when standard input is not a terminal.\n";
}

ConsoleArguments ParseArguments(const std::vector<std::string>& arguments, bool slashHelp) {
    // Help and version win wherever they stand among the options (an option's value aside).
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--") break;
        if (argument == "--keep-from") {
            ++i;
            continue;
        }
        if (IsHelp(argument, slashHelp)) return ConsoleArguments{ConsoleAction::Help, false, {}, {}, {}};
        if (argument == "--version") return ConsoleArguments{ConsoleAction::Version, false, {}, {}, {}};
    }

    bool batch = false;
    bool where = false;
    bool keep = false;
    bool optionsEnded = false;
    ConsoleArguments result;
    bool tooMany = false;
    const auto take = [&](const std::string& path) {
        if (result.hasRepository) tooMany = true;
        result.hasRepository = true;
        result.repository = path;
    };
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || !LooksLikeOption(argument)) {
            take(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--batch") {
            batch = true;
        } else if (argument.rfind("--batch=", 0) == 0) {
            batch = true;
            take(argument.substr(8));
        } else if (argument == "--where") {
            where = true;
        } else if (argument == "--keep-from" || argument.rfind("--keep-from=", 0) == 0) {
            if (keep) return UsageError("--keep-from is given twice");
            keep = true;
            if (argument == "--keep-from") {
                if (i + 1 >= arguments.size()) return UsageError("--keep-from takes an OLDFILE");
                result.keepFrom = arguments[++i];
            } else {
                result.keepFrom = argument.substr(12);
            }
            if (result.keepFrom.empty()) return UsageError("--keep-from takes an OLDFILE");
        } else {
            return UsageError("unknown option '" + argument + "' (a REPOSITORY of that name goes after '--': " +
                              "pellucor --batch -- " + argument + ")");
        }
    }

    if (where) {
        if (batch || keep || result.hasRepository) return UsageError("--where takes no arguments");
        result.action = ConsoleAction::Where;
        return result;
    }
    if (tooMany) return UsageError(std::string(batch ? "--batch" : "pellucor") + " takes at most one REPOSITORY");
    if (result.hasRepository && result.repository.empty()) return UsageError("the REPOSITORY path is empty");
    if (keep && !batch) return UsageError("--keep-from goes with --batch");
    result.action = batch ? ConsoleAction::Batch : ConsoleAction::Dialog;
    return result;
}

}  // namespace app
