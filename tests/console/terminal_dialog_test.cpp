// Drives `pellucor` without --batch through a pseudo-terminal as a user at a keyboard would:
// Start, Browse (cancelled, refused, taken), Ctrl-C and the end of input before and during a
// run, and a standard input that is no terminal.
//   terminal_dialog_tests PELLUCOR [gtest options]
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"
#include "user_config_tree.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ScratchDir;

std::string g_program;
const fs::path kData = fs::path(__FILE__).parent_path().parent_path() / "data";
constexpr auto kPatience = std::chrono::seconds(60);  // only for a program that hangs

// The program on the slave side of a pseudo-terminal; everything it prints is collected, with
// the terminal's CR LF turned into LF.
class Terminal {
public:
    explicit Terminal(const std::vector<std::string>& arguments) {
        pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            std::vector<char*> argv{const_cast<char*>(g_program.c_str())};
            for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(g_program.c_str(), argv.data());
            _exit(127);
        }
    }
    ~Terminal() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) close(master_);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    bool started() const { return pid_ > 0; }
    const std::string& output() const { return output_; }

    void Type(const std::string& keys) { EXPECT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size())); }
    void Signal(int signal) { EXPECT_EQ(kill(pid_, signal), 0); }

    // Waits until `text` has appeared `times` times in all output so far.
    bool WaitFor(const std::string& text, size_t times = 1) {
        const auto limit = std::chrono::steady_clock::now() + kPatience;
        while (Count(text) < times) {
            if (std::chrono::steady_clock::now() > limit || !ReadSome(100)) return Count(text) >= times;
        }
        return true;
    }

    // The exit status once the program has ended (its output read to the end); -1 if it hangs.
    int ExitStatus() {
        const auto limit = std::chrono::steady_clock::now() + kPatience;
        while (ReadSome(100) && std::chrono::steady_clock::now() < limit) {
        }
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > limit) return -1;
            usleep(20000);
        }
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    size_t Count(const std::string& text) const {
        size_t n = 0;
        for (size_t at = output_.find(text); at != std::string::npos; at = output_.find(text, at + 1)) ++n;
        return n;
    }
    // False once the program's side is closed.
    bool ReadSome(int milliseconds) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, milliseconds) <= 0) return true;
        char buffer[4096];
        const ssize_t got = read(master_, buffer, sizeof buffer);
        if (got <= 0) return false;
        for (ssize_t i = 0; i < got; ++i)
            if (buffer[i] != '\r') output_ += buffer[i];
        return true;
    }

    int master_ = -1;
    pid_t pid_ = -1;
    bool exited_ = false;
    std::string output_;
};

size_t Occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

void MakeRepository(const fs::path& repository, int users) {
    fs::create_directories(repository / "users");
    for (int i = 1; i <= users; ++i) {
        char id[9];
        std::snprintf(id, sizeof id, "%08x", i);
        fs::create_directories(repository / "users" / id);
        fs::copy_file(kData / (i % 2 ? "libreoffice_erin.rtf" : "pandoc_dave.rtf"),
                      repository / "users" / id / "UserSummary.rtf");
    }
}

std::string ProcessingLines(const fs::path& repository) {
    std::string lines;
    for (const std::string& id : testing_support::SystemListing((repository / "users" / "*.*").string()))
        lines += "Processing user ID \"" + id + "\"...\n";
    return lines;
}

size_t ClientAccounts(const fs::path& database) {
    size_t count = 0;
    const std::string prefix = "User Configuration Root\\Client List\\";
    for (const auto& key : testing_support::ReadDatabaseTree(database.string()))
        if (key.path.rfind(prefix, 0) == 0 && key.path.find('\\', prefix.size()) == std::string::npos) ++count;
    return count;
}

const std::string kChoices = "[S]tart, [B]rowse or [C]lose: ";
const std::string kCloseOnly = "\n[C]lose: ";
const std::string kPressEnter = "Press Enter to continue.";
const std::string kBox = "\nServer UserConfig Data Restored\nDatabase Restoration Complete\n";

class TerminalDialogTest : public ::testing::Test {
protected:
    ScratchDir scratch;
    fs::path repository = scratch.path() / "repository";
};

TEST_F(TerminalDialogTest, StartShowsTheLinesThenTheMessageUntilEnter) {
    MakeRepository(repository, 3);
    Terminal terminal({repository.string()});
    ASSERT_TRUE(terminal.started());
    ASSERT_TRUE(terminal.WaitFor(kChoices)) << terminal.output();
    const std::string opening =
        "This utility will reconstruct the Orvane Server database UserConfig.\n\n"
        "The current Orvane Server Repository path is displayed below.  Use the Browse button to change this path.  "
        "Press Start to begin the database reconstruction process.\n\n"
        "Server Repository Path:\n" + repository.string() + "\n";
    EXPECT_EQ(terminal.output().rfind(opening, 0), 0u) << terminal.output();

    terminal.Type("s\n");
    ASSERT_TRUE(terminal.WaitFor(kPressEnter)) << terminal.output();
    const std::string shown = terminal.output();
    EXPECT_NE(shown.find(ProcessingLines(repository) + kBox + kPressEnter), std::string::npos)
        << "the lines in directory order, then the message box:\n" << shown;
    EXPECT_EQ(shown.find(kCloseOnly), std::string::npos) << "the box waits for Enter";

    terminal.Type("\n");
    ASSERT_TRUE(terminal.WaitFor(kCloseOnly)) << "after the run only closing is left:\n" << terminal.output();
    terminal.Type("s\n");  // Start is gone
    ASSERT_TRUE(terminal.WaitFor("Only closing is left"));
    terminal.Type("c\n");
    EXPECT_EQ(terminal.ExitStatus(), 0);
    EXPECT_EQ(ClientAccounts(repository / "UserConfig.hdb"), 3u);
}

TEST_F(TerminalDialogTest, BrowseCancelledRefusedAndTaken) {
    MakeRepository(repository, 1);
    const fs::path other = scratch.path() / "other repository";
    MakeRepository(other, 2);
    Terminal terminal({repository.string()});
    ASSERT_TRUE(terminal.WaitFor(kChoices));

    terminal.Type("b\n");
    ASSERT_TRUE(terminal.WaitFor("\nSelect the Repository Folder\nFolder (an empty answer cancels): "));
    terminal.Type("\n");
    ASSERT_TRUE(terminal.WaitFor(kChoices, 2));
    EXPECT_EQ(Occurrences(terminal.output(), "Server Repository Path:"), 1u) << "a cancelled browse changes nothing";

    terminal.Type("b\n");
    ASSERT_TRUE(terminal.WaitFor("Folder (an empty answer cancels): ", 2));
    terminal.Type((scratch.path() / "missing").string() + "\n");
    ASSERT_TRUE(terminal.WaitFor("nothing changed."));
    EXPECT_EQ(Occurrences(terminal.output(), "Server Repository Path:"), 1u);

    terminal.Type("b\n");
    ASSERT_TRUE(terminal.WaitFor("Folder (an empty answer cancels): ", 3));
    terminal.Type(other.string() + "/\n");
    ASSERT_TRUE(terminal.WaitFor("Server Repository Path:\n" + other.string() + "\n")) << terminal.output();

    terminal.Type("s\n");
    ASSERT_TRUE(terminal.WaitFor(kPressEnter));
    EXPECT_NE(terminal.output().find(ProcessingLines(other) + kBox), std::string::npos) << terminal.output();
    terminal.Type("\nc\n");
    EXPECT_EQ(terminal.ExitStatus(), 0);
    EXPECT_EQ(ClientAccounts(other / "UserConfig.hdb"), 2u);
    EXPECT_FALSE(fs::exists(repository / "UserConfig.hdb")) << "the first repository is left alone";
}

// Names resolve case-free, as in --batch: a folder typed in other letter case is taken as typed,
// and the run rebuilds the folder it names.
TEST_F(TerminalDialogTest, BrowseFindsAFolderTypedInOtherCase) {
    MakeRepository(repository, 1);
    const fs::path other = scratch.path() / "Other Repository";
    MakeRepository(other, 2);
    const std::string typed = (scratch.path() / "oTHER rEPOSITORY").string();
    Terminal terminal({repository.string()});
    ASSERT_TRUE(terminal.WaitFor(kChoices));

    terminal.Type("b\n");
    ASSERT_TRUE(terminal.WaitFor("Folder (an empty answer cancels): "));
    terminal.Type(typed + "\n");
    ASSERT_TRUE(terminal.WaitFor("Server Repository Path:\n" + typed + "\n")) << terminal.output();
    EXPECT_EQ(terminal.output().find("nothing changed."), std::string::npos) << terminal.output();

    terminal.Type("s\n");
    ASSERT_TRUE(terminal.WaitFor(kPressEnter)) << terminal.output();
    terminal.Type("\nc\n");
    EXPECT_EQ(terminal.ExitStatus(), 0);
    EXPECT_EQ(ClientAccounts(other / "UserConfig.hdb"), 2u);
}

TEST_F(TerminalDialogTest, CtrlCOrEndOfInputDuringARunWaitsForTheRun) {
    MakeRepository(repository, 1000);
    struct Case {
        const char* what;
        const char* key;
        bool boxWaits;  // with input ended there is no Enter to wait for
        int signal;     // sent instead of a key when not 0
    };
    for (const Case& c : {Case{"Ctrl-C", "\x03", true, 0}, Case{"end of input", "\x04", false, 0},
                          Case{"SIGTERM", "", true, SIGTERM}, Case{"SIGHUP", "", true, SIGHUP}}) {
        SCOPED_TRACE(c.what);
        fs::remove(repository / "UserConfig.hdb");
        fs::remove(repository / "UserConfig.hdb.old");
        Terminal terminal({repository.string()});
        ASSERT_TRUE(terminal.WaitFor(kChoices));
        terminal.Type("s\n");
        ASSERT_TRUE(terminal.WaitFor("Processing user ID"));
        if (c.signal != 0)
            terminal.Signal(c.signal);
        else
            terminal.Type(c.key);
        // Seen before anything else is typed, so no later key can overtake the close request.
        ASSERT_TRUE(terminal.WaitFor("\nClosing once the rebuild has finished.\n")) << terminal.output();
        ASSERT_TRUE(terminal.WaitFor(kBox)) << terminal.output();
        // The terminal echoes the key where it was pressed, between two lines.
        std::string shown = terminal.output();
        for (size_t at; (at = shown.find("^C")) != std::string::npos;) shown.erase(at, 2);
        const std::string closing = "\nClosing once the rebuild has finished.\n";
        if (const size_t at = shown.find(closing); at != std::string::npos) shown.erase(at, closing.size());
        EXPECT_NE(shown.find(ProcessingLines(repository) + kBox), std::string::npos)
            << "every line came before the message:\n" << shown;
        if (c.boxWaits) {
            ASSERT_TRUE(terminal.WaitFor(kPressEnter));
            terminal.Type("\n");
        }
        EXPECT_EQ(terminal.ExitStatus(), 0) << terminal.output();
        EXPECT_EQ(terminal.output().find(kCloseOnly), std::string::npos) << "the close request ended the dialog:\n" << terminal.output();
        EXPECT_EQ(ClientAccounts(repository / "UserConfig.hdb"), 1000u);
        EXPECT_FALSE(fs::exists(repository / "UserConfig.hdb.mirror")) << "the database was closed cleanly";
    }
}

// The message box is the run's last word: a close request at it has nothing left to wait for.
TEST_F(TerminalDialogTest, CtrlCOrEndOfInputAtTheFinalMessageClosesAtOnce) {
    MakeRepository(repository, 3);
    struct Case {
        const char* what;
        const char* key;
        int signal;  // sent instead of a key when not 0
    };
    for (const Case& c : {Case{"Ctrl-C", "\x03", 0}, Case{"end of input", "\x04", 0}, Case{"SIGTERM", "", SIGTERM}}) {
        SCOPED_TRACE(c.what);
        fs::remove(repository / "UserConfig.hdb");
        fs::remove(repository / "UserConfig.hdb.old");
        Terminal terminal({repository.string()});
        ASSERT_TRUE(terminal.WaitFor(kChoices));
        terminal.Type("s\n");
        ASSERT_TRUE(terminal.WaitFor(kBox + kPressEnter)) << terminal.output();
        if (c.signal != 0)
            terminal.Signal(c.signal);
        else
            terminal.Type(c.key);
        EXPECT_EQ(terminal.ExitStatus(), 0) << terminal.output();
        EXPECT_EQ(terminal.output().find("Closing once the rebuild has finished."), std::string::npos)
            << "the rebuild had finished:\n" << terminal.output();
        EXPECT_EQ(terminal.output().find(kCloseOnly), std::string::npos) << "the close request ended the dialog:\n"
                                                                        << terminal.output();
        EXPECT_EQ(ClientAccounts(repository / "UserConfig.hdb"), 3u);
        EXPECT_FALSE(fs::exists(repository / "UserConfig.hdb.mirror"));
    }
}

TEST_F(TerminalDialogTest, CtrlCBeforeStartEndsAtOnce) {
    MakeRepository(repository, 1);
    Terminal terminal({repository.string()});
    ASSERT_TRUE(terminal.WaitFor(kChoices));
    terminal.Type("\x03");
    EXPECT_EQ(terminal.ExitStatus(), 0);
    EXPECT_FALSE(fs::exists(repository / "UserConfig.hdb"));
}

TEST_F(TerminalDialogTest, InputThatIsNoTerminalIsRefused) {
    MakeRepository(repository, 1);
    const std::string errors = (scratch.path() / "errors").string();
    const int status = std::system(("'" + g_program + "' '" + repository.string() + "' </dev/null >/dev/null 2>'" +
                                    errors + "'").c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    const auto message = testing_support::ReadBytes(errors);
    EXPECT_NE(std::string(message.begin(), message.end()).find("--batch"), std::string::npos);
    EXPECT_FALSE(fs::exists(repository / "UserConfig.hdb"));
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: terminal_dialog_tests PELLUCOR [gtest options]\n");
        return 2;
    }
    g_program = argv[1];
    return RUN_ALL_TESTS();
}
