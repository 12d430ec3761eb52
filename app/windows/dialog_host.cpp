#include "app/windows/dialog_host.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include "app/windows/resource_ids.h"

namespace app {

static_assert(IDD_MAIN_DIALOG == kMainDialogTemplate && IDC_PROGRESS == kProgressBarId &&
              IDC_REPOSITORY_PATH == kRepositoryPathId && IDC_STATUS_LIST == kStatusListId &&
              IDC_START == kStartId && IDC_BROWSE == kBrowseId);

namespace {

ScreenRect ToScreenRect(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }

}  // namespace

void Win32DialogHost::AddStatusLine(const char* text) {
    if (HWND window = window_.load())
        SendDlgItemMessageA(window, kStatusListId, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

void Win32DialogHost::ShowMessage(const char* text, const char* caption) {
    if (HWND window = window_.load()) MessageBoxA(window, text, caption, MB_OK);
}

void Win32DialogHost::SetControlText(int32_t id, const char* text) { SetDlgItemTextA(window_.load(), id, text); }

void Win32DialogHost::EnableControl(int32_t id, bool enabled) {
    EnableWindow(GetDlgItem(window_.load(), id), enabled ? TRUE : FALSE);
}

void Win32DialogHost::SetProgressRange(int32_t low, int32_t high) {
    SendDlgItemMessageA(window_.load(), kProgressBarId, PBM_SETRANGE, 0, MAKELPARAM(low, high));
}

bool Win32DialogHost::BrowseForFolder(const char* title, std::string* path) {
    char displayName[MAX_PATH] = "";
    BROWSEINFOA browse{};
    browse.hwndOwner = window_.load();
    browse.pidlRoot = nullptr;  // the whole shell namespace
    browse.pszDisplayName = displayName;
    browse.lpszTitle = title;
    browse.ulFlags = 0;
    browse.lpfn = nullptr;
    LPITEMIDLIST item = SHBrowseForFolderA(&browse);
    if (!item) return false;
    char folder[MAX_PATH] = "";
    const bool hasPath = SHGetPathFromIDListA(item, folder) != FALSE;
    CoTaskMemFree(item);
    if (hasPath) *path = folder;
    return hasPath;
}

void Win32DialogHost::ShowNotice(const char* text, const char* caption) {
    MessageBoxA(window_.load(), text, caption, MB_OK | MB_ICONWARNING);
}

void Win32DialogHost::EndDialog(int32_t result) { ::EndDialog(window_.load(), result); }

void Win32DialogHost::WaitHandlingMessages(uint32_t milliseconds) {
    // Messages sent by the worker (a status line, the message box disabling its owner) are
    // handled inside PeekMessage; paints are dispatched so that the list shows the new lines.
    // Input stays queued: the dialog is closing.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds, QS_SENDMESSAGE | QS_PAINT);
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    while (PeekMessageA(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) DispatchMessageA(&message);
}

bool Win32DialogHost::GetWindowRect(ScreenRect* rect) {
    RECT r;
    if (!::GetWindowRect(window_.load(), &r)) return false;
    *rect = ToScreenRect(r);
    return true;
}

bool Win32DialogHost::GetParentRect(ScreenRect* rect) {
    HWND parent = GetParent(window_.load());
    RECT r;
    if (!parent || !::GetWindowRect(parent, &r)) return false;
    *rect = ToScreenRect(r);
    return true;
}

bool Win32DialogHost::GetWorkArea(ScreenRect* rect) {
    RECT r;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &r, 0)) return false;
    *rect = ToScreenRect(r);
    return true;
}

void Win32DialogHost::GetScreenSize(int32_t* width, int32_t* height) {
    *width = GetSystemMetrics(SM_CXSCREEN);
    *height = GetSystemMetrics(SM_CYSCREEN);
}

void Win32DialogHost::MoveWindow(int32_t x, int32_t y) {
    SetWindowPos(window_.load(), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void Win32DialogHost::PrepareSystem() {
    // No system box of its own for an unready drive or a missing file.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    InitCommonControls();
    // The shell's folder browser needs COM on the thread that shows it.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
}

int32_t Win32DialogHost::ShowMainDialog() {
    return static_cast<int32_t>(DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_MAIN_DIALOG), nullptr,
                                                &DialogProcedure, reinterpret_cast<LPARAM>(this)));
}

INT_PTR CALLBACK Win32DialogHost::DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* host = reinterpret_cast<Win32DialogHost*>(GetWindowLongPtrA(window, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        host = reinterpret_cast<Win32DialogHost*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        host->window_.store(window);
        return DialogInit(*host);
    case WM_COMMAND:
        return host ? DialogCommand(*host, LOWORD(wParam)) : FALSE;
    case WM_DESTROY:
        // From here on the worker's lines and message have no dialog to go to.
        if (host) host->window_.store(nullptr);
        return FALSE;
    default:
        return FALSE;
    }
}

}  // namespace app
