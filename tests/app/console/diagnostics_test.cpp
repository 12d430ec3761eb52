#include "app/console/diagnostics.h"

#include <gtest/gtest.h>

#include <string>

#include "fileservice/file_service.h"
#include "platform/platform.h"
#include "test_support.h"

using namespace app;
using fileservice::FileService;
using fileservice::SearchSlotCount;

namespace {

using testing_support::ScratchDir;

// Each way a set-aside can fail names what failed, why, and what to do where the system's
// words do not say it.
TEST(SetAsideFailureLine, NamesTheStepTheReasonAndTheCure) {
    ScratchDir dir;
    FileService files;
    const std::string database = dir / "UserConfig.hdb";
    struct Case {
        std::string failedName, target;
        uint32_t error;
        std::string expected;
    };
    for (const Case& c : {
             Case{database, database + ".old999", platform::kErrorAlreadyExists,
                  "pellucor: cannot move the old database \"" + database + "\" to \"" + database +
                      ".old999\": a file of that name already exists (system error 183); every name from .old to "
                      ".old999 is taken: move old copies away and run again; nothing was changed"},
             Case{database, database + ".old", platform::kErrorSharingViolation,
                  "pellucor: cannot move the old database \"" + database + "\" to \"" + database +
                      ".old\": the file is in use by another process (system error 32); stop the server (or whatever "
                      "holds the file) and run again; nothing was changed"},
             Case{database + ".old3", "", platform::kErrorAccessDenied,
                  "pellucor: cannot tell whether \"" + database +
                      ".old3\" is free for the old database: access denied (system error 5); nothing was changed"},
             Case{database, "", 0xDEAD,
                  "pellucor: cannot tell whether there is an old database \"" + database +
                      "\": an unexpected system error (system error 57005); nothing was changed"},
         }) {
        RunReport report;
        report.end = RunEnd::SetAsideFailed;
        report.failedName = c.failedName;
        report.setAsideTarget = c.target;
        report.failedError = c.error;
        EXPECT_EQ(SetAsideFailureLine(report, dir.path().string(), files), c.expected);
    }
}

TEST(PathKind, TellsFoldersFromFilesFromNothing) {
    ScratchDir dir;
    FileService files;
    testing_support::WriteText(dir / "file", "x");
    EXPECT_EQ(PathKind(files, dir.path().string()), 1);
    EXPECT_EQ(PathKind(files, dir.path().string() + platform::kPathSeparator), 1) << "a trailing separator is dropped";
    EXPECT_EQ(PathKind(files, dir / "file"), 0);
    EXPECT_EQ(PathKind(files, dir / "missing"), -1);
    EXPECT_EQ(SearchSlotCount(), 0);
}

}  // namespace
