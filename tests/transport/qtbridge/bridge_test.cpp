// The Qt event bridge: engine events run on the UI thread, a UI thread that does not answer in
// time leaves the event abandoned (never run later), and events raised on the UI thread run
// at once.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <thread>

#include "transport/qtbridge/qtfaxbridge.h"

namespace {

QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "bridge_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

}  // namespace

TEST(QtFaxBridge, EventsRunOnTheUiThread) {
    application();
    telvane::transport::TOvxQtEventSink sink;
    std::atomic<bool> done{false};
    bool ranOnUi = false;
    bool answered = false;
    std::thread engine([&] {
        answered = sink.runOnAppThread([&] { ranOnUi = QThread::currentThread() == sink.thread(); }, 1000);
        done = true;
    });
    while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    engine.join();
    EXPECT_TRUE(answered);
    EXPECT_TRUE(ranOnUi);
}

TEST(QtFaxBridge, UnansweredEventIsAbandoned) {
    application();
    telvane::transport::TOvxQtEventSink sink;
    std::atomic<int> runs{0};
    bool answered = true;
    std::thread engine([&] { answered = sink.runOnAppThread([&] { ++runs; }, 100); });
    engine.join();  // the UI thread runs no events meanwhile
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_FALSE(answered);
    EXPECT_EQ(runs.load(), 0);
}

TEST(QtFaxBridge, EventOnTheUiThreadRunsInPlace) {
    application();
    telvane::transport::TOvxQtEventSink sink;
    int runs = 0;
    EXPECT_TRUE(sink.runOnAppThread([&] { ++runs; }, 1000));
    EXPECT_EQ(runs, 1);
}
