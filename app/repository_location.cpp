#include "app/repository_location.h"

#include <cstring>

#include "app/rebuild_run.h"
#include "platform/platform.h"
#include "platform/settings.h"
#include "support/path_helpers.h"

namespace app {

namespace {

// The path read from RepositoryConfig.ini may have at most 259 characters; the buffer holds one
// more, so that a longer value shows as one and is refused rather than cut.
constexpr uint32_t kConfiguredPathSize = kMaxPathChars + 2;

std::string UninstallEntryName() { return std::string("HKEY_LOCAL_MACHINE\\") + kUninstallKey; }

void AssignPaths(const std::string& repositoryPath) {
    RebuildRun& run = SharedRun();
    run.repositoryPath = repositoryPath;
    run.databasePath = repositoryPath.empty() ? std::string() : JoinPath(repositoryPath, kDatabaseFileName);
}

// A path as the installation names it (a Windows path). The limits hold for that path as given;
// the shared paths are its host form (platform::HostPath), which on POSIX lies in the Wine prefix
// and may be longer.
bool SetInstalledRepositoryPath(const std::string& windowsPath) {
    if (!RepositoryPathProblem(windowsPath)) return false;
    AssignPaths(platform::HostPath(windowsPath.c_str()));
    return true;
}

void UseDefaultPaths() { SetInstalledRepositoryPath(kDefaultRepositoryPath); }

int32_t Fallback(RepositoryFinding& finding, RepositorySource source, std::string problem) {
    finding.source = source;
    finding.problem = std::move(problem);
    UseDefaultPaths();
    return -1;
}

// A path that the user gave, on the command line or as Path= in the installation's
// configuration, cannot be taken. Nothing takes its place unasked: no repository is set, and
// the dialog says so when it opens.
int32_t Refuse(RepositoryFinding& finding, std::string problem) {
    finding.source = RepositorySource::Refused;
    finding.problem = std::move(problem);
    AssignPaths(std::string());
    SharedRun().pathRefused = true;
    return -1;
}

// The value up to, not including, its last backslash (walking characters, so a trail byte that
// equals '\' does not count); the whole value when it has none.
std::string InstallationFolder(const char* uninstallString) {
    const char* last = nullptr;
    for (const char* p = uninstallString; *p != '\0'; p = support::NextChar(p))
        if (*p == '\\') last = p;
    return last ? std::string(uninstallString, static_cast<size_t>(last - uninstallString)) : uninstallString;
}

// Reads the uninstall entry's value; failed, with the reason, when it cannot.
support::Result ReadUninstallString(char (&value)[kUninstallValueSize]) {
    using support::Result;
    const platform::RegistryKey key = platform::OpenMachineKey(kUninstallKey);
    if (!key)
        return Result::Failed("there is no uninstall entry " + UninstallEntryName() + " in " + platform::RegistryName() +
                              " (error " + std::to_string(platform::LastError()) + ")");
    const bool read = platform::QueryKeyText(key, kUninstallValue, value, sizeof value);
    const uint32_t error = platform::LastError();
    platform::CloseKey(key);
    if (!read)
        return Result::Failed("the uninstall entry " + UninstallEntryName() + " in " + platform::RegistryName() +
                              " has no readable " + kUninstallValue + " value (error " + std::to_string(error) + ")");
    return Result::Done();
}

}  // namespace

support::Result RepositoryPathProblem(const std::string& repositoryPath) {
    using support::Result;
    if (repositoryPath.empty()) return Result::Failed("the repository path is empty");
    if (repositoryPath.size() > kMaxPathChars)
        return Result::Failed("the repository path has " + std::to_string(repositoryPath.size()) +
                              " characters; at most " + std::to_string(kMaxPathChars) + " are allowed");
    const std::string databasePath = JoinPath(repositoryPath, kDatabaseFileName);
    if (databasePath.size() > kMaxPathChars)
        return Result::Failed("the database path " + databasePath + " would have " +
                              std::to_string(databasePath.size()) + " characters; at most " +
                              std::to_string(kMaxPathChars) + " are allowed");
    return Result::Done();
}

bool SetRepositoryPath(const std::string& repositoryPath) {
    if (!RepositoryPathProblem(repositoryPath)) return false;
    AssignPaths(repositoryPath);
    return true;
}

int32_t FindRepository(RepositoryFinding* found) {
    RepositoryFinding local;
    RepositoryFinding& finding = found ? *found : local;
    finding = RepositoryFinding();
    RebuildRun& run = SharedRun();
    run.pathRefused = false;

    if (!run.repositoryPath.empty()) {
        const std::string commandLine = run.repositoryPath;
        if (const support::Result usable = RepositoryPathProblem(commandLine); !usable)
            return Refuse(finding, usable.message() + " (the path given on the command line)");
        SetRepositoryPath(commandLine);
        finding.source = RepositorySource::CommandLine;
        return 0;
    }

    UseDefaultPaths();
    char uninstallString[kUninstallValueSize];
    if (const support::Result read = ReadUninstallString(uninstallString); !read)
        return Fallback(finding, RepositorySource::Default, read.message());

    finding.installationFolder = InstallationFolder(uninstallString);
    const std::string dataFolder = finding.installationFolder + kDataFolder;

    char configurationFile[kUninstallValueSize + sizeof kRepositoryConfigFile + 1];
    std::strcpy(configurationFile, finding.installationFolder.c_str());
    support::AddTrailingSeparator(configurationFile, sizeof configurationFile, '\\');
    std::strcat(configurationFile, kRepositoryConfigFile);
    finding.configurationFile = configurationFile;

    char repository[kConfiguredPathSize];
    const uint32_t length = platform::ReadProfileString(kRepositorySection, kRepositoryPathKey, dataFolder.c_str(),
                                                        repository, sizeof repository, configurationFile);
    if (length > kMaxPathChars)
        return Refuse(finding, "the repository path from " + finding.configurationFile + " has more than " +
                                   std::to_string(kMaxPathChars) + " characters; at most " +
                                   std::to_string(kMaxPathChars) + " are allowed");
    support::RemoveTrailingSeparators(repository);
    // An empty Path= (or one of separators alone) names no repository; it would be the current
    // folder. The default paths stay, as when the installation cannot be read.
    if (repository[0] == '\0')
        return Fallback(finding, RepositorySource::Default,
                        "the repository path in " + finding.configurationFile + " is empty");
    finding.source = dataFolder == repository ? RepositorySource::DataFolder : RepositorySource::Configuration;

    if (const support::Result usable = RepositoryPathProblem(repository); !usable)
        return Refuse(finding, usable.message() + " (the repository named by " + finding.configurationFile + ")");
    SetInstalledRepositoryPath(repository);
    return 0;
}

std::string DescribeFinding(const RepositoryFinding& finding) {
    const std::string entry = "named by the uninstall entry in " + platform::RegistryName();
    switch (finding.source) {
        case RepositorySource::CommandLine:
            return "the repository path given on the command line";
        case RepositorySource::Configuration:
            return std::string(kRepositoryPathKey) + " in section " + kRepositorySection + " of " +
                   finding.configurationFile + ", in the installation " + entry;
        case RepositorySource::DataFolder:
            return "the data folder of the installation in " + finding.installationFolder + ", " + entry + "; " +
                   finding.configurationFile + " names no other";
        case RepositorySource::Default:
            return "the default path, because " + finding.problem;
        case RepositorySource::Refused:
            return "no repository path, because " + finding.problem;
    }
    return std::string();
}

}  // namespace app
