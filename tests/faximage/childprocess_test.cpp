// Converter children: a stop flag ends a running child and its group, and the result says so
// (neither a success nor a time-out).
#include "faximage/childprocess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace telvane::faximage {
namespace {

TEST(ChildProcess, StopFlagEndsTheChildAndIsReportedAsStopped) {
    // Raised before the start and raised from another thread while the child runs: both end it.
    for (const bool early : {true, false}) {
        std::atomic<bool> stop{early};
        ChildLimits limits;
        limits.stop = &stop;
        std::thread raiser;
        if (!early) raiser = std::thread([&stop] { stop = true; });
        const ChildResult result = runChild({"sleep", "600"}, limits);
        if (raiser.joinable()) raiser.join();
        EXPECT_TRUE(result.started) << early;
        EXPECT_TRUE(result.stopped) << early;
        EXPECT_FALSE(result.timedOut) << early;
        EXPECT_FALSE(result.exitedWith(0)) << early;
        EXPECT_FALSE(result.killedBy(SIGKILL)) << early;
    }
    // A child that ends by itself with the flag never raised is not stopped.
    std::atomic<bool> stop{false};
    ChildLimits limits;
    limits.stop = &stop;
    const ChildResult done = runChild({"true"}, limits);
    EXPECT_TRUE(done.exitedWith(0));
    EXPECT_FALSE(done.stopped);
}

}  // namespace
}  // namespace telvane::faximage
