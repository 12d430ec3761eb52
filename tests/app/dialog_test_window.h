// A dialog window for tests that behaves like a real one where it matters: what the worker
// sends (status lines, the final message box) is queued for the dialog's thread and completes
// only when that thread handles it while waiting, as SendMessage does. A send that nobody
// handles for a long time is recorded as a deadlock instead of hanging the test.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/main_dialog.h"
#include "app/startup.h"
#include "platform/platform.h"

namespace testing_support {

using namespace app;

class TestDialogWindow : public DialogWindow, public StartupHost {
public:
    // Everything the window was asked to do, in order, as short texts.
    std::vector<std::string> events;
    std::vector<std::string> statusLines;
    std::string pathText;
    bool startEnabled = true;
    bool browseEnabled = true;
    int32_t endResult = -1;
    std::atomic<bool> deadlocked{false};
    int32_t stateDuringMessage = -1;
    int32_t cancelDuringMessage = -1;

    // What Browse answers: nothing (cancelled), or a folder.
    bool browseAnswers = false;
    std::string browseFolder;

    ScreenRect window{0, 0, 400, 300};
    bool hasParent = false;
    ScreenRect parent{};
    bool hasWorkArea = true;
    ScreenRect workArea{0, 0, 1024, 768};
    int32_t screenWidth = 800;
    int32_t screenHeight = 600;
    int32_t movedX = -1;
    int32_t movedY = -1;

    // StartupHost: the dialog's life is whatever the test puts here.
    std::function<void()> dialog;
    bool prepared = false;

    // Handles what other threads have sent until `done` holds (or a long time has passed).
    void PumpUntil(const std::function<bool()>& done) {
        const auto limit = std::chrono::steady_clock::now() + kDeadlockLimit;
        while (!done() && std::chrono::steady_clock::now() < limit) WaitHandlingMessages(10);
    }

    // RunHost, called by the worker.
    void AddStatusLine(const char* text) override {
        const std::string line = text;
        Send([this, line] {
            statusLines.push_back(line);
            events.push_back("line " + line);
        });
    }
    void ShowMessage(const char* text, const char* caption) override {
        const std::string shown = std::string(caption) + ": " + text;
        Send([this, shown] {
            stateDuringMessage = platform::AtomicLoad(&SharedRun().runState);
            cancelDuringMessage = platform::AtomicLoad(&SharedRun().cancelFlag);
            events.push_back("message " + shown);
        });
    }

    // DialogWindow.
    void SetControlText(int32_t id, const char* text) override {
        events.push_back("text " + std::to_string(id) + " " + text);
        if (id == kRepositoryPathId) pathText = text;
    }
    void EnableControl(int32_t id, bool enabled) override {
        events.push_back((enabled ? "enable " : "disable ") + std::to_string(id));
        if (id == kStartId) startEnabled = enabled;
        if (id == kBrowseId) browseEnabled = enabled;
    }
    void SetProgressRange(int32_t low, int32_t high) override {
        events.push_back("range " + std::to_string(low) + " " + std::to_string(high));
    }
    bool BrowseForFolder(const char* title, std::string* path) override {
        events.push_back(std::string("browse ") + title);
        if (browseAnswers) *path = browseFolder;
        return browseAnswers;
    }
    void ShowNotice(const char* text, const char* caption) override {
        events.push_back(std::string("notice ") + caption + ": " + text);
    }
    void EndDialog(int32_t result) override {
        events.push_back("end " + std::to_string(result));
        endResult = result;
    }
    void WaitHandlingMessages(uint32_t milliseconds) override {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return !sent_.empty(); });
        while (!sent_.empty()) {
            std::shared_ptr<Sent> next = sent_.front();
            sent_.pop_front();
            lock.unlock();
            next->request();
            lock.lock();
            next->done = true;
            wake_.notify_all();
        }
    }
    bool GetWindowRect(ScreenRect* rect) override {
        *rect = window;
        return true;
    }
    bool GetParentRect(ScreenRect* rect) override {
        if (hasParent) *rect = parent;
        return hasParent;
    }
    bool GetWorkArea(ScreenRect* rect) override {
        if (hasWorkArea) *rect = workArea;
        return hasWorkArea;
    }
    void GetScreenSize(int32_t* width, int32_t* height) override {
        *width = screenWidth;
        *height = screenHeight;
    }
    void MoveWindow(int32_t x, int32_t y) override {
        events.push_back("move " + std::to_string(x) + " " + std::to_string(y));
        movedX = x;
        movedY = y;
    }

    // StartupHost.
    void PrepareSystem() override {
        prepared = true;
        events.push_back("prepare");
    }
    int32_t ShowMainDialog() override {
        events.push_back("dialog");
        if (dialog) dialog();
        return 1;
    }

private:
    static constexpr std::chrono::seconds kDeadlockLimit{60};

    struct Sent {
        std::function<void()> request;
        bool done = false;
    };

    void Send(std::function<void()> request) {
        // On the dialog's own thread a send is a plain call.
        if (std::this_thread::get_id() == dialogThread_) {
            request();
            return;
        }
        auto sent = std::make_shared<Sent>();
        sent->request = std::move(request);
        std::unique_lock<std::mutex> lock(mutex_);
        sent_.push_back(sent);
        wake_.notify_all();
        if (!wake_.wait_for(lock, kDeadlockLimit, [&] { return sent->done; })) deadlocked = true;
    }

    const std::thread::id dialogThread_ = std::this_thread::get_id();
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<Sent>> sent_;
};

}  // namespace testing_support
