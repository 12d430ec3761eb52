// Where the repository is: the command line's text, else the server's installation found through
// its uninstall entry and its RepositoryConfig.ini, else the default path. The result goes into
// the shared run's repository and database paths (rebuild_run.h).
#pragma once

#include <cstdint>
#include <string>

#include "support/result.h"

namespace app {

constexpr char kDefaultRepositoryPath[] = "c:\\program files\\vantrell\\Orvane Data Repository Manager\\data";
constexpr char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Orvane Data Repository Manager";
constexpr char kUninstallValue[] = "UninstallString";
constexpr uint32_t kUninstallValueSize = 260;  // bytes, the terminating zero included
constexpr char kDataFolder[] = "\\data";
constexpr char kRepositoryConfigFile[] = "RepositoryConfig.ini";
constexpr char kRepositorySection[] = "Repository";
constexpr char kRepositoryPathKey[] = "Path";

enum class RepositorySource {
    CommandLine,    // the text the command line gave, taken whole
    Configuration,  // Path in the installation's RepositoryConfig.ini
    DataFolder,     // the installation's data folder
    Default,        // the default path: the uninstall entry could not be read
    Refused,        // a path given (command line, Path=) too long for the shared paths: no paths are set
};

// How FindRepository came to its paths, for messages.
struct RepositoryFinding {
    RepositorySource source = RepositorySource::Default;
    std::string installationFolder;  // as the uninstall entry names it
    std::string configurationFile;
    std::string problem;  // why the entry could not be read, or why a path was refused
};

// Done when `repositoryPath` can be the shared repository path, else failed with why not: it is
// empty, it has more than 259 characters, or its database path would. The one place that limits
// both paths.
support::Result RepositoryPathProblem(const std::string& repositoryPath);

// Sets the shared paths. A non-empty repository path (from the command line) is kept and only
// the database path derived; otherwise the installation is looked up. Paths from the registry
// and the configuration file become host paths (platform::HostPath). 0 when the paths come from
// the command line or the installation; -1 when the uninstall entry or its value cannot be
// read or Path= is empty (the default paths are then in place), and when a path given on the
// command line or as Path= is refused (no paths are set then, and the run's pathRefused says so).
int32_t FindRepository(RepositoryFinding* finding);
// The same without the account of how; the form start-up calls.
inline int32_t FindRepository() { return FindRepository(nullptr); }

// One line saying where the paths came from.
std::string DescribeFinding(const RepositoryFinding& finding);

}  // namespace app
