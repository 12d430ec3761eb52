#include "app/console/close_requests.h"

#include <gtest/gtest.h>

#include <string>

#include "app/rebuild_run.h"
#include "platform/platform.h"

using namespace app;

namespace {

// The close is passed on only while the run is running: at 0 the run has ended (waiting for it
// to end again would never end), at 2 the worker would overwrite the request, at 3 it is made.
TEST(RequestRunClose, OnlyARunningRunIsAskedToClose) {
    struct Case {
        int32_t state;
        bool made;
        int32_t stateAfter;
    };
    RebuildRun& run = SharedRun();
    for (const Case c : {Case{RunIdle, false, RunIdle}, Case{RunStarting, false, RunStarting},
                         Case{RunRunning, true, RunCloseRequested}, Case{RunCloseRequested, false, RunCloseRequested}}) {
        platform::AtomicStore(&run.runState, c.state);
        platform::AtomicStore(&run.cancelFlag, 0);
        EXPECT_EQ(RequestRunClose(run), c.made) << "state " << c.state;
        EXPECT_EQ(platform::AtomicLoad(&run.runState), c.stateAfter) << "state " << c.state;
        EXPECT_EQ(platform::AtomicLoad(&run.cancelFlag), c.made ? 1 : 0) << "state " << c.state;
    }
    platform::AtomicStore(&run.runState, RunIdle);
    platform::AtomicStore(&run.cancelFlag, 0);
}

TEST(NoteCloseRequest, FirstSaysTheRunFinishesLaterOnesThatItStillIs) {
    ResetCloseRequests();
    const std::string first = NoteCloseRequest();
    const std::string second = NoteCloseRequest();
    const std::string third = NoteCloseRequest();
    EXPECT_NE(first.find("finishing the rebuild first"), std::string::npos);
    EXPECT_NE(second.find("still finishing"), std::string::npos);
    EXPECT_EQ(second, third);
    EXPECT_EQ(CloseRequestCount(), 3);
    for (const std::string& line : {first, second}) EXPECT_EQ(line.back(), '\n') << "written whole by a handler";
    ResetCloseRequests();
}

}  // namespace
