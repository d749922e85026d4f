// TOvxComPort with its threads on pseudo-terminal pairs: opening, triggers, close, helpers.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <sstream>
#include <termios.h>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "transport/comport.h"
#include "transport/modemwait.h"
#include "errors/errors.h"
#include "scripteddevice.h"

using namespace telvane;
using namespace telvane::transport;
using telvane::transport::test::PtyPair;

namespace {

void configureLikeTheApplication(TOvxComPort& port, const std::string& path) {
    port.setDevicePath(path);
    port.setAutoOpen(false);
    port.setInSize(8192);
    port.setOutSize(8192);
    port.setHWFlowOptions(hwfUseRTS | hwfRequireCTS);
}

int openErrorCode(TOvxComPort& port) {
    try {
        port.setOpen(true);
    } catch (const errors::EOvxException& e) {
        return e.ErrorCode();
    }
    return 0;
}

// Waits (real time, bounded) until `pred` holds.
template <typename Pred>
bool eventually(Pred pred, int ms = 5000) {
    for (int i = 0; i < ms / 5; ++i) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return pred();
}

// An application thread stand-in: calls are queued and run when the pump runs.
class QueueSink final : public TOvxEventSink {
public:
    bool runOnAppThread(const std::function<void()>& call, int timeoutMs) override {
        auto job = std::make_shared<Job>();
        job->Call = call;
        {
            std::lock_guard lock(mu_);
            queue_.push_back(job);
        }
        std::unique_lock lock(job->Mu);
        return job->Cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return job->Done; });
    }
    void pump() {
        std::deque<std::shared_ptr<Job>> jobs;
        {
            std::lock_guard lock(mu_);
            jobs.swap(queue_);
        }
        for (auto& j : jobs) {
            j->Call();
            std::lock_guard lock(j->Mu);
            j->Done = true;
            j->Cv.notify_all();
        }
    }

private:
    struct Job {
        std::function<void()> Call;
        std::mutex Mu;
        std::condition_variable Cv;
        bool Done = false;
    };
    std::mutex mu_;
    std::deque<std::shared_ptr<Job>> queue_;
};

}  // namespace

TEST(ComPortOpen, DefaultsAndThresholds) {
    TOvxComPort port;
    EXPECT_EQ(port.ComNumber(), 0);
    EXPECT_EQ(port.Baud(), 19200);
    EXPECT_EQ(port.DataBits(), 8);
    EXPECT_EQ(port.StopBits(), 1);
    EXPECT_EQ(port.Parity(), pNone);
    EXPECT_EQ(port.InSize(), 4096u);
    EXPECT_EQ(port.OutSize(), 4096u);
    EXPECT_TRUE(port.DTR());
    EXPECT_TRUE(port.RTS());
    EXPECT_TRUE(port.AutoOpen());
    EXPECT_TRUE(port.UseMSRShadow());
    EXPECT_TRUE(port.UseEventWord());
    EXPECT_EQ(port.CommNotificationLevel(), 10);
    EXPECT_FALSE(port.RS485Mode());
    EXPECT_EQ(port.TraceSize(), 10000u);
    EXPECT_EQ(port.TraceName(), "OVEX.TRC");
    EXPECT_EQ(port.LogName(), "OVEX.LOG");
    EXPECT_EQ(port.XOnChar(), 17);
    EXPECT_EQ(port.XOffChar(), 19);
    EXPECT_EQ(port.BufferFull(), 0u);  // no hardware flow: left alone
    port.setInSize(8192);
    port.setHWFlowOptions(hwfUseRTS | hwfRequireCTS);
    EXPECT_EQ(port.BufferFull(), 7372u);
    EXPECT_EQ(port.BufferResume(), 819u);
    port.setBufferFull(9000);  // larger than allowed
    EXPECT_EQ(port.BufferFull(), 7372u);
    port.setComNumber(2);
    EXPECT_EQ(port.devicePath(), "/dev/ttyS1");
}

TEST(ComPortOpen, MissingDeviceIsBadId) {
    TOvxComPort port;
    port.setDevicePath("/dev/telvane-no-such-tty");
    EXPECT_EQ(openErrorCode(port), errors::ecBadId);
    EXPECT_FALSE(port.Open());
    const std::string plain = std::filesystem::temp_directory_path() / "telvane-not-a-tty";
    std::ofstream(plain) << "x";
    port.setDevicePath(plain);
    EXPECT_EQ(openErrorCode(port), errors::ecBadId);
    std::filesystem::remove(plain);
    TOvxComPort unset;  // ComNumber 0, no path
    EXPECT_EQ(openErrorCode(unset), errors::ecBadId);
}

TEST(ComPortOpen, DeviceHeldByAnotherProcessIsInUse) {
    PtyPair pty;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TOvxComPort holder;
        holder.setDevicePath(pty.slavePath());
        holder.setStartThreads(false);
        holder.setOpen(true);
        (void)!write(ready[1], "1", 1);
        pause();
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    TOvxComPort port;
    port.setDevicePath(pty.slavePath());
    EXPECT_EQ(openErrorCode(port), errors::ecAlreadyOpen);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(openErrorCode(port), 0);  // free again once the holder is gone
    close(ready[0]);
    close(ready[1]);
}

TEST(ComPortOpen, SecondStartOfTheDispatcherIsRefused) {
    PtyPair pty;
    TOvxComPort port;
    configureLikeTheApplication(port, pty.slavePath());
    port.setOpen(true);
    EXPECT_THROW(port.dispatcher().startDispatcher(), errors::EOvxException);
    port.setOpen(false);
    EXPECT_FALSE(port.Open());
    EXPECT_THROW(port.putString("AT\r"), errors::EOvxException);  // AutoOpen off
}

TEST(ComPortThreads, DataTriggerOnRealTrafficAndWrapAround) {
    PtyPair pty;
    TOvxComPort port;
    configureLikeTheApplication(port, pty.slavePath());
    port.setInSize(32);
    port.setOpen(true);
    std::mutex mu;
    std::vector<std::string> lines;
    const int h = port.addDataTrigger("\r\n", false);
    port.registerProcTriggerHandler([&](uint32_t msg, uint32_t param, int32_t) {
        if (msg != ovTriggerData || static_cast<int>(param) != h) return;
        std::string s(port.inBuffUsed(), '\0');
        s.resize(port.peekBlock(s.data(), s.size()));
        const size_t end = s.find("\r\n");
        if (end == std::string::npos) return;
        port.getBlock(s.data(), end + 2);
        std::lock_guard lock(mu);
        lines.push_back(s.substr(0, end));
    });
    // Ten lines of 11 bytes pass through a 32-byte ring several times.
    for (int i = 0; i < 10; ++i) {
        pty.write("LINE " + std::to_string(100000 + i).substr(1) + "\r\n");
        ASSERT_TRUE(eventually([&] {
            std::lock_guard lock(mu);
            return lines.size() == static_cast<size_t>(i + 1);
        }));
    }
    std::lock_guard lock(mu);
    EXPECT_EQ(lines.front(), "LINE 00000");
    EXPECT_EQ(lines.back(), "LINE 00009");
}

TEST(ComPortThreads, OutputReachesTheDeviceAndOutSentFires) {
    PtyPair pty;
    TOvxComPort port;
    configureLikeTheApplication(port, pty.slavePath());
    port.setOpen(true);
    std::atomic<int> sent{0};
    port.OnTriggerOutSent = [&](TOvxComPort&) { ++sent; };
    const int t = port.addStatusTrigger(stOutSent);
    port.putString("AT+FCLASS=1\r");
    port.setStatusTrigger(t, 0, true);
    EXPECT_EQ(pty.read(12, 3000), "AT+FCLASS=1\r");
    EXPECT_TRUE(eventually([&] { return sent.load() == 1; }));
}

TEST(ComPortThreads, TimerTriggerOnTheRealClock) {
    PtyPair pty;
    TOvxComPort port;
    configureLikeTheApplication(port, pty.slavePath());
    port.setOpen(true);
    std::atomic<int> fired{0};
    port.OnTriggerTimer = [&](TOvxComPort&, uint32_t) { ++fired; };
    const int t = port.addTimerTrigger();
    port.setTimerTrigger(t, 2, true);
    EXPECT_TRUE(eventually([&] { return fired.load() == 1; }));
}

TEST(ComPortThreads, ComponentEventsRunThroughTheSink) {
    PtyPair pty;
    QueueSink sink;
    TOvxComPort port;
    configureLikeTheApplication(port, pty.slavePath());
    port.setEventSink(&sink);
    port.setOpen(true);
    const auto main = std::this_thread::get_id();
    std::atomic<bool> onMain{false};
    port.OnTriggerData = [&](TOvxComPort&, uint32_t) { onMain = std::this_thread::get_id() == main; };
    port.addDataTrigger("RING", false);
    pty.write("RING\r\n");
    EXPECT_TRUE(eventually([&] {
        sink.pump();
        return onMain.load();
    }));
}

TEST(ComPortClose, CleanCloseUnderLoadAndWhileAHandlerWaitsForTheApplication) {
    PtyPair pty;
    QueueSink sink;
    setEventPump([&] { sink.pump(); });
    TOvxComPort port;
    configureLikeTheApplication(port, pty.slavePath());
    port.setOpen(true);
    std::atomic<int> calls{0};
    port.addAvailTrigger(1);
    port.registerWindowTriggerHandler(&sink, [&](uint32_t, uint32_t, int32_t) {
        ++calls;
        std::vector<char> buf(port.inBuffUsed());
        port.getBlock(buf.data(), buf.size());
    });
    std::atomic<bool> stop{false};
    ::fcntl(pty.masterFd(), F_SETFL, ::fcntl(pty.masterFd(), F_GETFL) | O_NONBLOCK);
    std::thread feeder([&] {
        const std::string chunk(512, 'x');
        while (!stop) {
            ssize_t n = ::write(pty.masterFd(), chunk.data(), chunk.size());
            if (n < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    // Let the window handler block the dispatch thread: nobody pumps until Close does.
    const bool filled = eventually([&] { return port.inBuffUsed() > 0; });
    EXPECT_TRUE(filled);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    port.setOpen(false);
    EXPECT_FALSE(port.Open());
    EXPECT_GE(calls.load(), 1);
    stop = true;
    feeder.join();
    setEventPump(nullptr);
    // The port can be opened again after a close under load.
    port.setOpen(true);
    port.setOpen(false);
}

TEST(ComPortClose, CloseFromInsideAHandler) {
    PtyPair pty;
    TOvxComPort port;
    configureLikeTheApplication(port, pty.slavePath());
    port.setOpen(true);
    std::atomic<bool> done{false};
    port.addDataTrigger("BYE", false);
    port.registerProcTriggerHandler([&](uint32_t msg, uint32_t, int32_t) {
        if (msg == ovTriggerData) {
            port.dispatcher().close();
            done = true;
        }
    });
    pty.write("BYE");
    ASSERT_TRUE(eventually([&] { return done.load(); }));
    EXPECT_FALSE(port.Open());
    port.setOpen(true);  // joins the old dispatch thread and starts afresh
    EXPECT_TRUE(port.Open());
}

TEST(ComPortClose, HostSideHangUpDoesNotWedgeTheDispatcher) {
    auto pty = std::make_unique<PtyPair>();
    TOvxComPort port;
    configureLikeTheApplication(port, pty->slavePath());
    port.setOpen(true);
    EXPECT_FALSE(port.dispatcher().lineLost());
    pty.reset();  // the "modem" disappears
    // Seen without writing: the hung-up tty polls readable and reads as end of file for ever,
    // which must mark the line lost rather than spin the event thread.
    EXPECT_TRUE(eventually([&] { return port.dispatcher().lineLost(); }));
    port.putString("AT\r");
    EXPECT_TRUE(eventually([&] { return port.outBuffUsed() == 0; }));
    EXPECT_FALSE(waitForString(port, "OK", 2, false, true));
    port.setOpen(false);
}

TEST(ComPortTrace, DumpWritesTheTraceFileAndTurnsTracingOff) {
    PtyPair pty;
    TOvxComPort port;
    configureLikeTheApplication(port, pty.slavePath());
    const std::string dir = std::filesystem::temp_directory_path() / ("telvane-trace-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    port.setTraceName(dir + "/OVEX.TRC");
    port.setLogName(dir + "/OVEX.LOG");
    port.setTracing(tlOn);
    port.setLogging(tlOn);
    port.setOpen(true);
    writeString(port, "AT\r");
    ASSERT_EQ(pty.read(3, 3000), "AT\r");
    pty.write("\r\nOK\r\n");
    ASSERT_TRUE(waitForString(port, "OK", 36, false, true));
    port.logFaxState("tfInit", 2);
    port.setTracing(tlDump);
    port.setLogging(tlDump);
    EXPECT_EQ(port.Tracing(), tlOff);
    std::stringstream trc, log;
    trc << std::ifstream(dir + "/OVEX.TRC").rdbuf();
    log << std::ifstream(dir + "/OVEX.LOG").rdbuf();
    EXPECT_EQ(trc.str(), "Transmit: AT[0D]\nReceive: [0D][0A]OK[0D][0A]\n");
    EXPECT_EQ(log.str().rfind("OVEX v3.04\n", 0), 0u);
    EXPECT_NE(log.str().find("  Fax       tfInit        00000002"), std::string::npos);
    EXPECT_NE(log.str().find("  Dispatch  ReadCom       00000006  [0D][0A]OK[0D][0A]"), std::string::npos);
    port.setOpen(false);
    std::filesystem::remove_all(dir);
}

TEST(WaitingHelpers, WaitFindsEarlierRepliesIgnoresCaseAndTimesOut) {
    PtyPair pty;
    TOvxComPort port;
    configureLikeTheApplication(port, pty.slavePath());
    port.setOpen(true);
    pty.write("AT\r\r\nok\r\nREST");
    ASSERT_TRUE(eventually([&] { return port.inBuffUsed() == 13; }));
    EXPECT_FALSE(waitForString(port, "OK", 1, false, false));  // case matters here
    EXPECT_EQ(port.inBuffUsed(), 13u);                         // nothing consumed on time-out
    EXPECT_TRUE(waitForString(port, "OK", 1, false, true));
    char rest[8] = {};
    EXPECT_EQ(port.getBlock(rest, sizeof rest), 6u);  // consumed through the match
    EXPECT_EQ(std::string(rest, 6), "\r\nREST");
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.write("CONNECT\r\n");
    });
    int pumps = 0;
    setEventPump([&] { ++pumps; });
    EXPECT_TRUE(waitForString(port, "connect", 36, true, true));
    later.join();
    EXPECT_GT(pumps, 0);
    pumps = 0;
    delayTicks(1, true);
    EXPECT_GT(pumps, 0);
    setEventPump(nullptr);
    port.setOpen(false);
}

TEST(WaitingHelpers, findString) {
    EXPECT_EQ(findString("xxOKxx", "OK", false), 2u);
    EXPECT_EQ(findString("xxokxx", "OK", false), std::string_view::npos);
    EXPECT_EQ(findString("xxokxx", "OK", true), 2u);
    EXPECT_EQ(findString("", "OK", true), std::string_view::npos);
}

TEST(ComPortProperties, BaudChangeWhileOpenAndRejectedRates) {
    PtyPair pty;
    TOvxComPort port;
    configureLikeTheApplication(port, pty.slavePath());
    port.setOpen(true);
    port.setBaud(57600);
    EXPECT_EQ(port.Baud(), 57600);
    termios t{};
    ASSERT_EQ(tcgetattr(pty.masterFd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
    EXPECT_THROW(port.setBaud(12345), errors::EOvxException);
    EXPECT_EQ(port.Baud(), 57600);  // a rejected rate leaves the old one in force
    port.setOpen(false);
}

TEST(ComPortProperties, AutoOpenOpensOnFirstUse) {
    PtyPair pty;
    TOvxComPort port;
    port.setDevicePath(pty.slavePath());
    EXPECT_FALSE(port.Open());
    port.putString("ATZ\r");
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(pty.read(4, 3000), "ATZ\r");
}

TEST(ComPortProperties, AppendAndClearOfTheTrace) {
    PtyPair pty;
    TOvxComPort port;
    configureLikeTheApplication(port, pty.slavePath());
    const std::string path = std::filesystem::temp_directory_path() / ("telvane-append-" + std::to_string(getpid()));
    port.setTraceName(path);
    port.setTraceSize(4);
    port.setOpen(true);
    port.setTracing(tlOn);
    pty.write("123456");
    ASSERT_TRUE(eventually([&] { return port.inBuffUsed() == 6; }));
    port.setTracing(tlAppend);  // keeps only the last 4 entries
    port.setTracing(tlOn);
    pty.write("ab");
    ASSERT_TRUE(eventually([&] { return port.inBuffUsed() == 8; }));
    port.setTracing(tlClear);
    EXPECT_EQ(port.Tracing(), tlOn);
    pty.write("c");
    ASSERT_TRUE(eventually([&] { return port.inBuffUsed() == 9; }));
    port.setTracing(tlAppend);
    std::stringstream s;
    s << std::ifstream(path).rdbuf();
    EXPECT_EQ(s.str(), "Receive: 3456\nReceive: c\n");
    port.setTraceName("/nonexistent-dir/OVEX.TRC");
    port.setTracing(tlOn);
    EXPECT_THROW(port.setTracing(tlDump), errors::EOvxException);
    port.setOpen(false);
    std::filesystem::remove(path);
}
