// Pellucor.exe: the dialog program.
#include "app/windows/dialog_host.h"

#include "app/repository_location.h"
#include "app/startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    Win32DialogHost host(instance);
    return RunUtility(commandLine, host, &FindRepository);
}
