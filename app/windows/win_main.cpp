// Pellucor.exe: the dialog program.
#include "app/windows/dialog_host.h"

#include "app/repository_location.h"
#include "app/startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    app::Win32DialogHost host(instance);
    return app::RunUtility(commandLine, host, &app::FindRepository);
}
