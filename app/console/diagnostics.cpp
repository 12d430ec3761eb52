#include "app/console/diagnostics.h"

#include "fileservice/file_service.h"
#include "platform/platform.h"

using fileservice::FileService;

namespace app {

namespace {

constexpr char kPrefix[] = "pellucor: ";

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A hint for the failures whose cure is not in the system's words.
std::string SetAsideHint(const RunReport& report) {
    if (report.failedError == platform::kErrorSharingViolation)
        return "; stop the server (or whatever holds the file) and run again";
    if ((report.failedError == platform::kErrorAlreadyExists || report.failedError == platform::kErrorFileExists) &&
        EndsWith(report.setAsideTarget, ".old999"))
        return "; every name from .old to .old999 is taken: move old copies away and run again";
    return "";
}

// What the path turned out to be, when that explains a failure on a name inside it.
std::string FolderHint(FileService& files, const std::string& folder, const char* what, uint32_t error) {
    const int32_t kind = PathKind(files, folder);
    if (kind == 0) return std::string("; ") + what + " " + Quoted(folder) + " is a file, not a folder";
    if (kind < 0 && (error == platform::kErrorPathNotFound || error == platform::kErrorFileNotFound))
        return std::string("; ") + what + " folder " + Quoted(folder) + " does not exist";
    return "";
}

// Windows hands a program "?" for each character of its command line that the code page
// cannot encode; such a path names nothing.
std::string CodePageHint(const std::string& path, uint32_t error) {
    if (error != platform::kErrorInvalidName || path.find('?') == std::string::npos) return "";
    return "; a \"?\" in the path may be a character the system's code page cannot encode";
}

// A path given in quotation marks keeps them (the command line is taken whole), and no name may
// hold one.
std::string QuotesHint(const std::string& path, uint32_t error) {
    const bool namesNothing = error == platform::kErrorInvalidName || error == platform::kErrorPathNotFound;
    if (!namesNothing || path.find('"') == std::string::npos) return "";
    return "; the path holds quotation marks, which no file name may hold: give it without them";
}

}  // namespace

std::string SystemReason(uint32_t error) {
    return std::string(platform::ErrorText(error)) + " (system error " + std::to_string(error) + ")";
}

int32_t PathKind(FileService& files, const std::string& path) {
    std::string name = path;
    while (name.size() > 1 && (name.back() == '/' || name.back() == '\\')) name.pop_back();
    const int32_t slot = files.SearchOpen(name.c_str());
    if (slot < 0) return -1;
    const int32_t folder = files.SearchIsFolder(slot);
    files.SearchClose(slot);
    return folder;
}

std::string SetAsideFailureLine(const RunReport& report, const std::string& repositoryPath, FileService& files) {
    std::string line = kPrefix;
    std::string hint;
    if (!report.setAsideTarget.empty()) {
        line += "cannot move the old database " + Quoted(report.failedName) + " to " + Quoted(report.setAsideTarget);
    } else if (EndsWith(report.failedName, kDatabaseFileName)) {
        line += "cannot tell whether there is an old database " + Quoted(report.failedName);
        hint = FolderHint(files, repositoryPath, "the repository", report.failedError);
    } else {
        line += "cannot tell whether " + Quoted(report.failedName) + " is free for the old database";
    }
    return line + ": " + SystemReason(report.failedError) + SetAsideHint(report) + hint +
           CodePageHint(report.failedName, report.failedError) + "; nothing was changed";
}

std::string CreateFailureLine(const RunReport& report, const std::string& repositoryPath, FileService& files) {
    return std::string(kPrefix) + "cannot create the new database " + Quoted(report.failedName) + ": " +
           SystemReason(report.failedError) + FolderHint(files, repositoryPath, "the repository", report.failedError) +
           CodePageHint(report.failedName, report.failedError) + QuotesHint(report.failedName, report.failedError);
}

std::string WriteFailureLine(const RunReport& report) {
    return std::string(kPrefix) + "the new database " + Quoted(report.failedName) +
           " could not be written to the disk: " + SystemReason(report.failedError) +
           "; it is marked as unfinished and must not be used";
}

std::string UsersFolderLine(const RunReport& report, const std::string& usersFolder, FileService& files) {
    const std::string folder = Quoted(usersFolder);
    if (report.usersWalk == UsersWalk::CutShort)
        return kPrefix + std::string("the listing of the users folder ") + folder +
               " failed part-way: " + SystemReason(report.usersError) + "; the entries after the " +
               std::to_string(report.entries.size()) + " listed were not imported";
    if (report.usersWalk != UsersWalk::NotListed) return "";
    const uint32_t error = report.usersError;
    // Only "." and ".." (no more files), or nothing at all: an empty folder, not a loss.
    if (error == platform::kErrorNoMoreFiles || error == platform::kErrorFileNotFound) return "";
    const std::string start = kPrefix + std::string("the users folder ") + folder;
    const int32_t kind = PathKind(files, usersFolder);
    if (kind == 0) return start + " is a file, not a folder; no users were imported";
    if (kind < 0 && error == platform::kErrorPathNotFound) return start + " does not exist; no users were imported";
    return start + " cannot be read: " + SystemReason(error) + "; no users were imported";
}

std::string EntryLossLine(const UsersEntry& entry, bool lost) {
    std::string why;
    if (lost) {
        why = "its account was written but is not in the new database";
    } else {
        switch (entry.result) {
            case ImportResult::SummaryNotOpened: why = "its UserSummary.rtf cannot be opened"; break;
            case ImportResult::SummaryNotRead: why = "its UserSummary.rtf could not be read"; break;
            case ImportResult::NoUserNameLine: why = "its UserSummary.rtf has no \"User Name:\" line"; break;
            case ImportResult::AccountNotWritten:
            case ImportResult::AccountAdded: why = "its account could not be written"; break;
        }
    }
    return kPrefix + std::string("no account for ") + Quoted(entry.name) + ": " + why;
}

std::string BusyLine(const std::string& repositoryPath, const std::string& lockPath) {
    return kPrefix + std::string("the repository ") + Quoted(repositoryPath) +
           " is busy: another rebuild of it is running (it holds " + Quoted(lockPath) + "); nothing was changed";
}

}  // namespace app
