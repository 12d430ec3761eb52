#include "app/main_dialog.h"

#include "platform/platform.h"

namespace app {

namespace {

void StartCommand(DialogWindow& window) {
    // Without a repository the run would work in the current folder: Browse first.
    if (SharedRun().repositoryPath.empty()) {
        window.ShowNotice(kNoRepositoryText, kFolderRefusedCaption);
        return;
    }
    // Start and Browse stay disabled for good: there is one run per start of the utility.
    const bool started = StartRebuild();
    window.EnableControl(kStartId, false);
    window.EnableControl(kBrowseId, false);
    // Without a worker nothing else would ever say why nothing happens.
    if (!started) window.AddStatusLine(kStartFailedLine);
}

void BrowseCommand(DialogWindow& window) {
    std::string folder;
    if (!window.BrowseForFolder(kBrowseTitle, &folder)) return;
    if (!SetRepositoryPath(folder)) {
        window.ShowNotice(kFolderRefusedText, kFolderRefusedCaption);
        return;
    }
    window.SetControlText(kRepositoryPathId, SharedRun().repositoryPath.c_str());
}

void CloseCommand(DialogWindow& window) {
    RebuildRun& run = SharedRun();
    // Only a running worker is waited for. The exchange is one step, so a worker that ends just
    // now (storing 0) cannot be overwritten with a 3 that nobody would ever clear.
    if (platform::AtomicCompareExchange(&run.runState, RunCloseRequested, RunRunning) == RunRunning) {
        platform::AtomicStore(&run.cancelFlag, 1);
        while (platform::AtomicLoad(&run.runState) == RunCloseRequested) window.WaitHandlingMessages(kCloseWaitStepMs);
        platform::Sleep(0);
    }
    window.EndDialog(1);
}

}  // namespace

void CentredPosition(int32_t width, int32_t height, const ScreenRect& reference, const ScreenRect& workArea,
                     int32_t* x, int32_t* y) {
    int32_t left = reference.left + (reference.right - reference.left - width) / 2;
    if (left < workArea.left)
        left = workArea.left;
    else if (left + width > workArea.right)
        left = workArea.right - width;
    int32_t top = reference.top + (reference.bottom - reference.top - height) / 2;
    if (top < workArea.top)
        top = workArea.top;
    else if (top + height > workArea.bottom)
        top = workArea.bottom - height;
    *x = left;
    *y = top;
}

void CentreWindow(DialogWindow& window) {
    ScreenRect own{};
    if (!window.GetWindowRect(&own)) return;
    ScreenRect workArea{};
    if (!window.GetWorkArea(&workArea)) {
        workArea = {0, 0, 0, 0};
        window.GetScreenSize(&workArea.right, &workArea.bottom);
    }
    ScreenRect reference = workArea;
    ScreenRect parent{};
    if (window.GetParentRect(&parent)) reference = parent;
    int32_t x = 0;
    int32_t y = 0;
    CentredPosition(own.right - own.left, own.bottom - own.top, reference, workArea, &x, &y);
    window.MoveWindow(x, y);
}

int32_t DialogInit(DialogWindow& window) {
    SharedRun().host = &window;
    CentreWindow(window);
    window.SetProgressRange(kProgressLow, kProgressHigh);
    window.SetControlText(kRepositoryPathId, SharedRun().repositoryPath.c_str());
    // The path the user gave was refused and no other took its place: say so before anything.
    if (SharedRun().pathRefused) window.ShowNotice(kPathRefusedText, kFolderRefusedCaption);
    return 1;
}

int32_t DialogCommand(DialogWindow& window, uint32_t command) {
    switch (command & 0xFFFF) {
    case kStartId:
        StartCommand(window);
        return 0;
    case kBrowseId:
        BrowseCommand(window);
        return 0;
    case kCommandOk:
    case kCommandCancel:
        CloseCommand(window);
        return 1;
    default:
        return 0;
    }
}

}  // namespace app
