// The Win32 side of the main dialog: the modal dialog from template 108, its controls, the
// folder browser, message boxes owned by the dialog, and waits that keep handling what the
// worker sends.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <string>

#include "app/main_dialog.h"
#include "app/startup.h"

namespace app {

class Win32DialogHost : public DialogWindow, public StartupHost {
public:
    explicit Win32DialogHost(HINSTANCE instance) : instance_(instance) {}

    // RunHost: called by the worker; SendMessage and MessageBox complete only when the dialog's
    // thread has handled them. Once the dialog has gone they do nothing.
    void AddStatusLine(const char* text) override;
    void ShowMessage(const char* text, const char* caption) override;

    // DialogWindow.
    void SetControlText(int32_t id, const char* text) override;
    void EnableControl(int32_t id, bool enabled) override;
    void SetProgressRange(int32_t low, int32_t high) override;
    bool BrowseForFolder(const char* title, std::string* path) override;
    void ShowNotice(const char* text, const char* caption) override;
    void EndDialog(int32_t result) override;
    void WaitHandlingMessages(uint32_t milliseconds) override;
    bool GetWindowRect(ScreenRect* rect) override;
    bool GetParentRect(ScreenRect* rect) override;
    bool GetWorkArea(ScreenRect* rect) override;
    void GetScreenSize(int32_t* width, int32_t* height) override;
    void MoveWindow(int32_t x, int32_t y) override;

    // StartupHost.
    void PrepareSystem() override;
    int32_t ShowMainDialog() override;

private:
    static INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance_;  // kept for loading the dialog's resources
    std::atomic<HWND> window_{nullptr};
};

}  // namespace app
