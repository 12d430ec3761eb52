#include "app/console/terminal_dialog.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/main_dialog.h"
#include "app/rebuild_run.h"
#include "platform/platform.h"
#include "support/ascii_case.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// The platform layer's name, not the header's narrow-or-wide macro.
#undef GetFileAttributes
#else
#include <csignal>
#include <cstdlib>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace app {

namespace {

// What reaches the dialog's thread: the user's input and what the worker sends. A sent event
// completes only when the dialog's thread has handled it, as a sent window message does.
struct Event {
    enum Kind { Line, EndOfInput, Interrupt, StatusLine, Message } kind;
    std::string text;
    std::string caption;
    std::shared_ptr<bool> done;
};

class EventQueue {
public:
    void Post(Event event) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(event));
        changed_.notify_all();
    }
    void Send(Event event) {
        auto done = std::make_shared<bool>(false);
        event.done = done;
        std::unique_lock<std::mutex> lock(mutex_);
        events_.push_back(std::move(event));
        changed_.notify_all();
        changed_.wait(lock, [&] { return *done; });
    }
    // Puts an event back to be handled first.
    void Return(Event event) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_front(std::move(event));
    }
    // The next event, waiting at most `milliseconds` (for ever when negative).
    bool Next(Event* event, int milliseconds) {
        std::unique_lock<std::mutex> lock(mutex_);
        const auto ready = [this] { return !events_.empty(); };
        if (milliseconds < 0)
            changed_.wait(lock, ready);
        else if (!changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), ready))
            return false;
        *event = std::move(events_.front());
        events_.pop_front();
        return true;
    }
    void Complete(const Event& event) {
        if (!event.done) return;
        std::lock_guard<std::mutex> lock(mutex_);
        *event.done = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Event> events_;
};

// Lives as long as the process: the input thread may still wait on it while the process ends.
EventQueue& Queue() {
    static EventQueue* queue = new EventQueue;
    return *queue;
}

void Print(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

bool InputIsTerminal() {
#ifdef _WIN32
    // Only a console has a console mode; _isatty would also take the NUL device for one.
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != FALSE;
#else
    return isatty(STDIN_FILENO) == 1;
#endif
}

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    Queue().Post({Event::Interrupt, {}, {}, {}});
    return TRUE;
}
#endif

#ifndef _WIN32
termios g_savedTerminal;

// On Ctrl-C the terminal throws away the output it still holds unless NOFLSH is set; the run
// goes on after a Ctrl-C, and the status lines written just before it must still be shown. The
// terminal gets its own settings back when the program ends.
void KeepOutputOnInterrupt() {
    termios settings{};
    if (tcgetattr(STDIN_FILENO, &settings) != 0 || (settings.c_lflag & NOFLSH) != 0) return;
    g_savedTerminal = settings;
    settings.c_lflag |= NOFLSH;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &settings) == 0)
        std::atexit([] { tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal); });
}
#endif

// Ctrl-C becomes an event for the dialog's thread instead of ending the process.
void CatchInterrupts() {
#ifdef _WIN32
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
#else
    KeepOutputOnInterrupt();
    // Blocked here, before any other thread exists, so every later thread has it blocked too and
    // only the waiting thread below receives it. A termination or a hang-up is a close request
    // too: a run the dialog started finishes before the program ends.
    sigset_t interrupts;
    sigemptyset(&interrupts);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&interrupts, signal);
    pthread_sigmask(SIG_BLOCK, &interrupts, nullptr);
    std::thread([interrupts] {
        int signal = 0;
        while (sigwait(&interrupts, &signal) == 0) Queue().Post({Event::Interrupt, {}, {}, {}});
    }).detach();
#endif
}

void ReadInput() {
    std::thread([] {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            Queue().Post({Event::Line, line, {}, {}});
        }
        Queue().Post({Event::EndOfInput, {}, {}, {}});
    }).detach();
}

std::string Lowered(const std::string& text) { return support::AsciiLowered(text); }

class TerminalDialog : public DialogWindow, public StartupHost {
public:
    // RunHost: the worker's lines and message are handled on the dialog's thread.
    void AddStatusLine(const char* text) override {
        if (OnDialogThread()) return Print(std::string(text) + "\n");
        Queue().Send({Event::StatusLine, text, {}, {}});
    }
    void ShowMessage(const char* text, const char* caption) override {
        if (OnDialogThread()) return ShowBox(caption, text);
        Queue().Send({Event::Message, text, caption, {}});
    }

    void SetControlText(int32_t id, const char* text) override {
        if (id == kRepositoryPathId) Print(std::string("\n") + kPathLabelText + "\n" + text + "\n");
    }
    void EnableControl(int32_t id, bool enabled) override {
        if (id == kStartId) startEnabled_ = enabled;
        if (id == kBrowseId) browseEnabled_ = enabled;
    }
    void SetProgressRange(int32_t, int32_t) override {}

    bool BrowseForFolder(const char* title, std::string* path) override {
        Print(std::string("\n") + title + "\nFolder (an empty answer cancels): ");
        Event event;
        for (;;) {
            Queue().Next(&event, -1);
            if (event.kind == Event::Line) break;
            if (event.kind == Event::StatusLine || event.kind == Event::Message) {
                Handle(event);
                continue;
            }
            // Ctrl-C or the end of input cancels the browser, then closes as it would have.
            Print("\n");
            Queue().Return(event);
            return false;
        }
        if (event.text.empty()) return false;
        // Whether the answer is a folder is the platform's to say, finding names case-free as
        // every other use of the path will; the path itself is only tidied here.
        char full[4096];
        const bool made = platform::FullPathName(event.text.c_str(), full, sizeof full);
        const std::filesystem::path folder(made ? full : "");
        const uint32_t attributes = made ? platform::GetFileAttributes(full) : platform::kInvalidAttributes;
        if (attributes == platform::kInvalidAttributes || (attributes & platform::kAttributeDirectory) == 0) {
            Print("There is no folder " + event.text + "; nothing changed.\n");
            return false;
        }
        std::string chosen = folder.lexically_normal().string();
        while (chosen.size() > 1 && (chosen.back() == '/' || chosen.back() == '\\') &&
               chosen != folder.root_path().string())
            chosen.pop_back();
        *path = chosen;
        return true;
    }

    void ShowNotice(const char* text, const char* caption) override {
        Print(std::string("\n") + caption + ": " + text + "\n");
    }
    void EndDialog(int32_t) override { ended_ = true; }

    void WaitHandlingMessages(uint32_t milliseconds) override {
        Event event;
        if (!Queue().Next(&event, static_cast<int>(milliseconds))) return;
        Handle(event);
    }

    // No window to place.
    bool GetWindowRect(ScreenRect*) override { return false; }
    bool GetParentRect(ScreenRect*) override { return false; }
    bool GetWorkArea(ScreenRect*) override { return false; }
    void GetScreenSize(int32_t* width, int32_t* height) override { *width = *height = 0; }
    void MoveWindow(int32_t, int32_t) override {}

    void PrepareSystem() override {}

    int32_t ShowMainDialog() override {
        Print(std::string(kIntroText) + "\n\n" + kExplanationText + "\n");
        DialogInit(*this);
        while (!ended_) {
            // The prompt only when nothing is waiting: a close request put back by the message
            // box ends the dialog without asking again first.
            Event event;
            if (!Queue().Next(&event, 0)) {
                Prompt();
                if (!Queue().Next(&event, kRunWatchMs)) continue;
            }
            Handle(event);
        }
        dialogEnded_ = true;
        return 1;
    }

private:
    static constexpr int kRunWatchMs = 100;

    bool OnDialogThread() const { return std::this_thread::get_id() == dialogThread_; }

    void Prompt() {
        const bool running = platform::AtomicLoad(&SharedRun().runState) != RunIdle;
        if (running && !runAnnounced_) {
            Print("\nThe rebuild is running. Ctrl-C, the end of input or c closes once it has finished.\n");
            runAnnounced_ = true;
        }
        if (running || prompted_) return;
        Print(startEnabled_ || browseEnabled_ ? "\n[S]tart, [B]rowse or [C]lose: " : "\n[C]lose: ");
        prompted_ = true;
    }

    void Handle(const Event& event) {
        switch (event.kind) {
        case Event::StatusLine:
            Print(event.text + "\n");
            break;
        case Event::Message:
            // The worker's message is its last word: once it is shown the rebuild has finished,
            // though the run state says so only when the worker has returned.
            rebuildFinished_ = true;
            ShowBox(event.caption, event.text);
            break;
        case Event::Line:
            if (!ended_) Choose(Lowered(event.text));
            break;
        case Event::EndOfInput:
            inputEnded_ = true;
            [[fallthrough]];
        case Event::Interrupt:
            if (!ended_ && !closing_) {
                AcknowledgeClose();
                Close();
            }
            break;
        }
        Queue().Complete(event);
    }

    void Choose(const std::string& choice) {
        prompted_ = false;
        if (closing_) return;  // the close request is already waiting for the run
        if ((choice == "s" || choice == "start") && startEnabled_) {
            DialogCommand(*this, kStartId);
        } else if ((choice == "b" || choice == "browse") && browseEnabled_) {
            DialogCommand(*this, kBrowseId);
        } else if (choice == "c" || choice == "close") {
            Close();
        } else if (!choice.empty()) {
            Print(startEnabled_ ? "Answer s, b or c.\n" : "Only closing is left: answer c.\n");
        }
    }

    // Said once, when Ctrl-C or the end of input asks to close while the rebuild is still going.
    void AcknowledgeClose() {
        if (closeAcknowledged_ || rebuildFinished_ || platform::AtomicLoad(&SharedRun().runState) == RunIdle) return;
        Print("\nClosing once the rebuild has finished.\n");
        closeAcknowledged_ = true;
    }

    void Close() {
        closing_ = true;
        DialogCommand(*this, kCommandCancel);
        closing_ = false;
    }

    // The message box: its caption and text, then Enter (or the end of input, or Ctrl-C). Ctrl-C
    // and the end of input also ask to close, as the caption's close box would during a run: they
    // go back to the queue and close the dialog once the box is gone.
    void ShowBox(const std::string& caption, const std::string& text) {
        Print("\n" + caption + "\n" + text + "\n");
        if (dialogEnded_ || inputEnded_) return;
        Print("Press Enter to continue.");
        Event event;
        for (;;) {
            Queue().Next(&event, -1);
            if (event.kind == Event::StatusLine) {
                Handle(event);
                continue;
            }
            if (event.kind == Event::Line) {
                Queue().Complete(event);
            } else {
                if (event.kind == Event::EndOfInput) inputEnded_ = true;
                AcknowledgeClose();
                Queue().Return(event);
            }
            break;
        }
        Print("\n");
    }

    const std::thread::id dialogThread_ = std::this_thread::get_id();
    bool startEnabled_ = true;
    bool browseEnabled_ = true;
    bool ended_ = false;
    bool dialogEnded_ = false;
    bool inputEnded_ = false;
    bool closing_ = false;
    bool prompted_ = false;
    bool runAnnounced_ = false;
    bool closeAcknowledged_ = false;
    bool rebuildFinished_ = false;
};

}  // namespace

int RunTerminalDialog(const char* commandLine, RepositoryFinder findRepository) {
    if (!InputIsTerminal()) {
        std::fprintf(stderr,
                     "pellucor: standard input is not a terminal, and the dialog needs one; use --batch REPOSITORY "
                     "to rebuild without it\n");
        return 2;
    }
    CatchInterrupts();
    ReadInput();
    TerminalDialog dialog;
    return RunUtility(commandLine, dialog, findRepository);
}

}  // namespace app
