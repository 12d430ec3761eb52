// Pellucor.exe: the dialog program.
#include "app/windows/dialog_host.h"

#include "app/rebuild_run.h"
#include "app/startup.h"

namespace {

// Until the installation lookup exists: the command line's path, or none.
int32_t FindRepositoryFromCommandLine() { return SetRepositoryPath(SharedRun().repositoryPath) ? 0 : -1; }

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    Win32DialogHost host(instance);
    return RunUtility(commandLine, host, &FindRepositoryFromCommandLine);
}
