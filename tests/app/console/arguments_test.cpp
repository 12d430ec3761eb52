#include "app/console/arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ArgumentCase {
    std::vector<std::string> arguments;
    ConsoleAction action;
    std::string repository;  // for Batch; for Usage, a part of the error
    bool slashHelp = false;
};

class ArgumentTable : public testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentTable, ParsesAsAPersonExpects) {
    const ArgumentCase& c = GetParam();
    const ConsoleArguments parsed = ParseArguments(c.arguments, c.slashHelp);
    ASSERT_EQ(parsed.action, c.action) << parsed.error;
    if (c.action == ConsoleAction::Batch) {
        EXPECT_EQ(parsed.hasRepository, !c.repository.empty());
        EXPECT_EQ(parsed.repository, c.repository);
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
        // Help and version wherever they stand before "--", never a folder to rebuild.
        ArgumentCase{{"--batch", "--help"}, ConsoleAction::Help, ""},
        ArgumentCase{{"--batch", "/srv/repo", "-h"}, ConsoleAction::Help, ""},
        ArgumentCase{{"--frobnicate", "--help"}, ConsoleAction::Help, ""},
        ArgumentCase{{"--batch", "/srv/repo", "--version"}, ConsoleAction::Version, ""},
        ArgumentCase{{"/?"}, ConsoleAction::Help, "", true},
        ArgumentCase{{"--batch", "C:\\Repo", "/?"}, ConsoleAction::Help, "", true},
        // Without Windows' help switch "/?" is a path like any other.
        ArgumentCase{{"--batch", "/?"}, ConsoleAction::Batch, "/?"},
        ArgumentCase{{}, ConsoleAction::Dialog, ""},
        ArgumentCase{{"/srv/repo"}, ConsoleAction::Usage, "did you mean pellucor --batch /srv/repo?"},
        ArgumentCase{{"--", "-x"}, ConsoleAction::Usage, "did you mean pellucor --batch -- -x?"},
        ArgumentCase{{"--batch", "-x"}, ConsoleAction::Usage, "pellucor --batch -- -x"},
        ArgumentCase{{"--batch", "-"}, ConsoleAction::Usage, "unknown option '-'"},
        ArgumentCase{{"--frobnicate"}, ConsoleAction::Usage, "unknown option '--frobnicate'"},
        ArgumentCase{{"--batch", "a", "b"}, ConsoleAction::Usage, "only one REPOSITORY"},
        ArgumentCase{{"--batch=a", "b"}, ConsoleAction::Usage, "only one REPOSITORY"},
        ArgumentCase{{"--batch", ""}, ConsoleAction::Usage, "empty"},
        ArgumentCase{{"--batch="}, ConsoleAction::Usage, "empty"}));

TEST(UsageText, NamesTheDefaultPasswordsAndEveryExitCode) {
    const std::string text = UsageText();
    for (const char* part : {"\"tamarind\"", "OrvaneAdmin", "\"HarborLantern\"", "  0  ", "  1  ", "  2  ", "  3  ",
                             "  4  ", "--batch=REPOSITORY", "busy"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
}

}  // namespace
