// The main dialog's behaviour, whatever draws it: what initialisation does, what each command
// does in each run state, and where the window is placed. A host (the Win32 dialog, the
// terminal) supplies the window side through DialogWindow and calls these from its dialog
// procedure on the dialog's own thread.
#pragma once

#include <cstdint>
#include <string>

#include "app/rebuild_run.h"

namespace app {

constexpr int32_t kMainDialogTemplate = 108;
constexpr int32_t kProgressBarId = 1002;
constexpr int32_t kRepositoryPathId = 1004;
constexpr int32_t kStatusListId = 1005;
constexpr int32_t kStartId = 1007;
constexpr int32_t kBrowseId = 1008;
constexpr uint32_t kCommandOk = 1;      // Enter when no push button has the focus
constexpr uint32_t kCommandCancel = 2;  // the close box and Escape

constexpr char kDialogCaption[] = "Orvane Server - Pellucor";
constexpr char kIntroText[] = "This utility will reconstruct the Orvane Server database UserConfig.";
constexpr char kExplanationText[] =
    "The current Orvane Server Repository path is displayed below.  Use the Browse button to change this "
    "path.  Press Start to begin the database reconstruction process.";
constexpr char kPathLabelText[] = "Server Repository Path:";
constexpr char kBrowseTitle[] = "Select the Repository Folder";
constexpr char kStartFailedLine[] = "Error starting the rebuild, repair did not run.";
constexpr char kFolderRefusedCaption[] = "Select the Repository Folder";
constexpr char kFolderRefusedText[] =
    "The path of the database in this folder would be longer than 259 characters. Choose a folder with a "
    "shorter path.";

constexpr char kPathRefusedText[] =
    "The repository path given is too long: it, or the path of its database, would be longer than 259 "
    "characters. Use Browse to choose the repository folder.";
constexpr char kNoRepositoryText[] = "No repository folder is chosen. Use Browse to choose one.";

constexpr int32_t kProgressLow = 0;
constexpr int32_t kProgressHigh = 100;
constexpr uint32_t kCloseWaitStepMs = 50;

// A rectangle in screen coordinates; right and bottom lie just outside it.
struct ScreenRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// The window side of the dialog. The status lines and the final message box (RunHost) are sent
// by the worker and must complete only once the dialog's thread has handled them.
class DialogWindow : public RunHost {
public:
    virtual void SetControlText(int32_t id, const char* text) = 0;
    virtual void EnableControl(int32_t id, bool enabled) = 0;
    virtual void SetProgressRange(int32_t low, int32_t high) = 0;
    // The system's folder browser, owned by the dialog, rooted at the whole namespace. False
    // when the user cancels or the chosen item has no file-system path.
    virtual bool BrowseForFolder(const char* title, std::string* path) = 0;
    // A message box owned by the dialog, shown on the dialog's thread.
    virtual void ShowNotice(const char* text, const char* caption) = 0;
    virtual void EndDialog(int32_t result) = 0;
    // Waits up to `milliseconds` while still handling what other threads send to the dialog.
    virtual void WaitHandlingMessages(uint32_t milliseconds) = 0;

    // Placement. GetParentRect is false when the window has no parent, GetWorkArea when the
    // system cannot say.
    virtual bool GetWindowRect(ScreenRect* rect) = 0;
    virtual bool GetParentRect(ScreenRect* rect) = 0;
    virtual bool GetWorkArea(ScreenRect* rect) = 0;
    virtual void GetScreenSize(int32_t* width, int32_t* height) = 0;
    virtual void MoveWindow(int32_t x, int32_t y) = 0;
};

// WM_INITDIALOG: remembers the window as the run's host, centres it, sets the progress range
// and shows the repository path. Returns 1 (TRUE), so the first tab stop gets the focus.
int32_t DialogInit(DialogWindow& window);

// WM_COMMAND with the command's low 16 bits. Returns 1 (TRUE) for the close commands, 0 for
// the others.
int32_t DialogCommand(DialogWindow& window, uint32_t command);

// Centres the window on its parent, or on the work area when it has none, and keeps it inside
// the work area.
void CentreWindow(DialogWindow& window);

// The arithmetic of CentreWindow: where a window of `width` x `height` goes when centred on
// `reference` and kept inside `workArea`.
void CentredPosition(int32_t width, int32_t height, const ScreenRect& reference, const ScreenRect& workArea,
                     int32_t* x, int32_t* y);

}  // namespace app
