#include "app/console/arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace app;

namespace {

struct ArgumentCase {
    std::vector<std::string> arguments;
    ConsoleAction action;
    std::string repository;  // for Batch and Dialog; for Usage, a part of the error
    bool slashHelp = false;
    std::string keepFrom = "";
};

class ArgumentTable : public testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentTable, ParsesAsAPersonExpects) {
    const ArgumentCase& c = GetParam();
    const ConsoleArguments parsed = ParseArguments(c.arguments, c.slashHelp);
    ASSERT_EQ(parsed.action, c.action) << parsed.error;
    if (c.action == ConsoleAction::Batch || c.action == ConsoleAction::Dialog) {
        EXPECT_EQ(parsed.hasRepository, !c.repository.empty());
        EXPECT_EQ(parsed.repository, c.repository);
        EXPECT_EQ(parsed.keepFrom, c.keepFrom);
    }
    if (c.action == ConsoleAction::Usage) {
        EXPECT_NE(parsed.error.find(c.repository), std::string::npos) << parsed.error;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ArgumentTable,
    testing::Values(
        ArgumentCase{{"--batch", "/srv/repo"}, ConsoleAction::Batch, "/srv/repo"},
        ArgumentCase{{"/srv/repo", "--batch"}, ConsoleAction::Batch, "/srv/repo"},
        ArgumentCase{{"--batch=/srv/repo"}, ConsoleAction::Batch, "/srv/repo"},
        ArgumentCase{{"--batch=-odd"}, ConsoleAction::Batch, "-odd"},
        ArgumentCase{{"--batch", "--", "--help"}, ConsoleAction::Batch, "--help"},
        ArgumentCase{{"--batch", "--", "-"}, ConsoleAction::Batch, "-"},
        ArgumentCase{{"--batch"}, ConsoleAction::Batch, ""},
        ArgumentCase{{"--batch", "r", "--keep-from", "--odd.hdb"}, ConsoleAction::Batch, "r", false, "--odd.hdb"},
        ArgumentCase{{"--keep-from=old.hdb", "--batch"}, ConsoleAction::Batch, "", false, "old.hdb"},
        // Help and version wherever they stand before "--", never a folder to rebuild.
        ArgumentCase{{"--batch", "--help"}, ConsoleAction::Help, ""},
        ArgumentCase{{"--batch", "/srv/repo", "-h"}, ConsoleAction::Help, ""},
        ArgumentCase{{"--frobnicate", "--help"}, ConsoleAction::Help, ""},
        ArgumentCase{{"--batch", "/srv/repo", "--version"}, ConsoleAction::Version, ""},
        ArgumentCase{{"--batch", "--keep-from", "--help"}, ConsoleAction::Batch, "", false, "--help"},
        ArgumentCase{{"/?"}, ConsoleAction::Help, "", true},
        ArgumentCase{{"--batch", "C:\\Repo", "/?"}, ConsoleAction::Help, "", true},
        // Without Windows' help switch "/?" is a path like any other.
        ArgumentCase{{"--batch", "/?"}, ConsoleAction::Batch, "/?"},
        // Without --batch, the dialog in the terminal, on the repository if one is given.
        ArgumentCase{{}, ConsoleAction::Dialog, ""},
        ArgumentCase{{"/srv/repo"}, ConsoleAction::Dialog, "/srv/repo"},
        ArgumentCase{{"--", "-x"}, ConsoleAction::Dialog, "-x"},
        ArgumentCase{{"--where"}, ConsoleAction::Where, ""},
        ArgumentCase{{"--where", "extra"}, ConsoleAction::Usage, "--where takes no arguments"},
        ArgumentCase{{"--where", "--batch"}, ConsoleAction::Usage, "--where takes no arguments"},
        ArgumentCase{{"-x"}, ConsoleAction::Usage, "pellucor --batch -- -x"},
        ArgumentCase{{"--batch", "-x"}, ConsoleAction::Usage, "pellucor --batch -- -x"},
        ArgumentCase{{"--batch", "-"}, ConsoleAction::Usage, "unknown option '-'"},
        ArgumentCase{{"--frobnicate"}, ConsoleAction::Usage, "unknown option '--frobnicate'"},
        ArgumentCase{{"--batch", "a", "b"}, ConsoleAction::Usage, "--batch takes at most one REPOSITORY"},
        ArgumentCase{{"--batch=a", "b"}, ConsoleAction::Usage, "at most one REPOSITORY"},
        ArgumentCase{{"a", "b"}, ConsoleAction::Usage, "at most one REPOSITORY"},
        ArgumentCase{{"--batch", ""}, ConsoleAction::Usage, "empty"},
        ArgumentCase{{"--batch="}, ConsoleAction::Usage, "empty"},
        ArgumentCase{{"--batch", "--keep-from"}, ConsoleAction::Usage, "--keep-from takes an OLDFILE"},
        ArgumentCase{{"--batch", "--keep-from="}, ConsoleAction::Usage, "--keep-from takes an OLDFILE"},
        ArgumentCase{{"--batch", "--keep-from", "a", "--keep-from", "b"}, ConsoleAction::Usage, "given twice"},
        ArgumentCase{{"r", "--keep-from", "a"}, ConsoleAction::Usage, "--keep-from goes with --batch"}));

TEST(UsageText, NamesTheDefaultPasswordsAndEveryExitCode) {
    const std::string text = UsageText();
    for (const char* part : {"\"tamarind\"", "OrvaneAdmin", "\"HarborLantern\"", "  0  ", "  1  ", "  2  ", "  3  ",
                             "  4  ", "--batch=REPOSITORY", "--keep-from OLDFILE", "--where", "busy"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
}

}  // namespace
