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

void ConfigureLikeTheApplication(TOvxComPort& port, const std::string& path) {
    port.SetDevicePath(path);
    port.SetAutoOpen(false);
    port.SetInSize(8192);
    port.SetOutSize(8192);
    port.SetHWFlowOptions(hwfUseRTS | hwfRequireCTS);
}

int OpenErrorCode(TOvxComPort& port) {
    try {
        port.SetOpen(true);
    } catch (const EOvxException& e) {
        return e.ErrorCode();
    }
    return 0;
}

// Waits (real time, bounded) until `pred` holds.
template <typename Pred>
bool Eventually(Pred pred, int ms = 5000) {
    for (int i = 0; i < ms / 5; ++i) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return pred();
}

// An application thread stand-in: calls are queued and run when the pump runs.
class QueueSink final : public TOvxEventSink {
public:
    bool RunOnAppThread(const std::function<void()>& call, int timeoutMs) override {
        auto job = std::make_shared<Job>();
        job->Call = call;
        {
            std::lock_guard lock(mu_);
            queue_.push_back(job);
        }
        std::unique_lock lock(job->Mu);
        return job->Cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return job->Done; });
    }
    void Pump() {
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
    port.SetInSize(8192);
    port.SetHWFlowOptions(hwfUseRTS | hwfRequireCTS);
    EXPECT_EQ(port.BufferFull(), 7372u);
    EXPECT_EQ(port.BufferResume(), 819u);
    port.SetBufferFull(9000);  // larger than allowed
    EXPECT_EQ(port.BufferFull(), 7372u);
    port.SetComNumber(2);
    EXPECT_EQ(port.DevicePath(), "/dev/ttyS1");
}

TEST(ComPortOpen, MissingDeviceIsBadId) {
    TOvxComPort port;
    port.SetDevicePath("/dev/telvane-no-such-tty");
    EXPECT_EQ(OpenErrorCode(port), ecBadId);
    EXPECT_FALSE(port.Open());
    const std::string plain = std::filesystem::temp_directory_path() / "telvane-not-a-tty";
    std::ofstream(plain) << "x";
    port.SetDevicePath(plain);
    EXPECT_EQ(OpenErrorCode(port), ecBadId);
    std::filesystem::remove(plain);
    TOvxComPort unset;  // ComNumber 0, no path
    EXPECT_EQ(OpenErrorCode(unset), ecBadId);
}

TEST(ComPortOpen, DeviceHeldByAnotherProcessIsInUse) {
    PtyPair pty;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TOvxComPort holder;
        holder.SetDevicePath(pty.SlavePath());
        holder.SetStartThreads(false);
        holder.SetOpen(true);
        (void)!write(ready[1], "1", 1);
        pause();
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    TOvxComPort port;
    port.SetDevicePath(pty.SlavePath());
    EXPECT_EQ(OpenErrorCode(port), ecAlreadyOpen);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(OpenErrorCode(port), 0);  // free again once the holder is gone
    close(ready[0]);
    close(ready[1]);
}

TEST(ComPortOpen, SecondStartOfTheDispatcherIsRefused) {
    PtyPair pty;
    TOvxComPort port;
    ConfigureLikeTheApplication(port, pty.SlavePath());
    port.SetOpen(true);
    EXPECT_THROW(port.Dispatcher().StartDispatcher(), EOvxException);
    port.SetOpen(false);
    EXPECT_FALSE(port.Open());
    EXPECT_THROW(port.PutString("AT\r"), EOvxException);  // AutoOpen off
}

TEST(ComPortThreads, DataTriggerOnRealTrafficAndWrapAround) {
    PtyPair pty;
    TOvxComPort port;
    ConfigureLikeTheApplication(port, pty.SlavePath());
    port.SetInSize(32);
    port.SetOpen(true);
    std::mutex mu;
    std::vector<std::string> lines;
    const int h = port.AddDataTrigger("\r\n", false);
    port.RegisterProcTriggerHandler([&](uint32_t msg, uint32_t param, int32_t) {
        if (msg != ovTriggerData || static_cast<int>(param) != h) return;
        std::string s(port.InBuffUsed(), '\0');
        s.resize(port.PeekBlock(s.data(), s.size()));
        const size_t end = s.find("\r\n");
        if (end == std::string::npos) return;
        port.GetBlock(s.data(), end + 2);
        std::lock_guard lock(mu);
        lines.push_back(s.substr(0, end));
    });
    // Ten lines of 11 bytes pass through a 32-byte ring several times.
    for (int i = 0; i < 10; ++i) {
        pty.Write("LINE " + std::to_string(100000 + i).substr(1) + "\r\n");
        ASSERT_TRUE(Eventually([&] {
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
    ConfigureLikeTheApplication(port, pty.SlavePath());
    port.SetOpen(true);
    std::atomic<int> sent{0};
    port.OnTriggerOutSent = [&](TOvxComPort&) { ++sent; };
    const int t = port.AddStatusTrigger(stOutSent);
    port.PutString("AT+FCLASS=1\r");
    port.SetStatusTrigger(t, 0, true);
    EXPECT_EQ(pty.Read(12, 3000), "AT+FCLASS=1\r");
    EXPECT_TRUE(Eventually([&] { return sent.load() == 1; }));
}

TEST(ComPortThreads, TimerTriggerOnTheRealClock) {
    PtyPair pty;
    TOvxComPort port;
    ConfigureLikeTheApplication(port, pty.SlavePath());
    port.SetOpen(true);
    std::atomic<int> fired{0};
    port.OnTriggerTimer = [&](TOvxComPort&, uint32_t) { ++fired; };
    const int t = port.AddTimerTrigger();
    port.SetTimerTrigger(t, 2, true);
    EXPECT_TRUE(Eventually([&] { return fired.load() == 1; }));
}

TEST(ComPortThreads, ComponentEventsRunThroughTheSink) {
    PtyPair pty;
    QueueSink sink;
    TOvxComPort port;
    ConfigureLikeTheApplication(port, pty.SlavePath());
    port.SetEventSink(&sink);
    port.SetOpen(true);
    const auto main = std::this_thread::get_id();
    std::atomic<bool> onMain{false};
    port.OnTriggerData = [&](TOvxComPort&, uint32_t) { onMain = std::this_thread::get_id() == main; };
    port.AddDataTrigger("RING", false);
    pty.Write("RING\r\n");
    EXPECT_TRUE(Eventually([&] {
        sink.Pump();
        return onMain.load();
    }));
}

TEST(ComPortClose, CleanCloseUnderLoadAndWhileAHandlerWaitsForTheApplication) {
    PtyPair pty;
    QueueSink sink;
    SetEventPump([&] { sink.Pump(); });
    TOvxComPort port;
    ConfigureLikeTheApplication(port, pty.SlavePath());
    port.SetOpen(true);
    std::atomic<int> calls{0};
    port.AddAvailTrigger(1);
    port.RegisterWindowTriggerHandler(&sink, [&](uint32_t, uint32_t, int32_t) {
        ++calls;
        std::vector<char> buf(port.InBuffUsed());
        port.GetBlock(buf.data(), buf.size());
    });
    std::atomic<bool> stop{false};
    ::fcntl(pty.MasterFd(), F_SETFL, ::fcntl(pty.MasterFd(), F_GETFL) | O_NONBLOCK);
    std::thread feeder([&] {
        const std::string chunk(512, 'x');
        while (!stop) {
            ssize_t n = ::write(pty.MasterFd(), chunk.data(), chunk.size());
            if (n < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    // Let the window handler block the dispatch thread: nobody pumps until Close does.
    const bool filled = Eventually([&] { return port.InBuffUsed() > 0; });
    EXPECT_TRUE(filled);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    port.SetOpen(false);
    EXPECT_FALSE(port.Open());
    EXPECT_GE(calls.load(), 1);
    stop = true;
    feeder.join();
    SetEventPump(nullptr);
    // The port can be opened again after a close under load.
    port.SetOpen(true);
    port.SetOpen(false);
}

TEST(ComPortClose, CloseFromInsideAHandler) {
    PtyPair pty;
    TOvxComPort port;
    ConfigureLikeTheApplication(port, pty.SlavePath());
    port.SetOpen(true);
    std::atomic<bool> done{false};
    port.AddDataTrigger("BYE", false);
    port.RegisterProcTriggerHandler([&](uint32_t msg, uint32_t, int32_t) {
        if (msg == ovTriggerData) {
            port.Dispatcher().Close();
            done = true;
        }
    });
    pty.Write("BYE");
    ASSERT_TRUE(Eventually([&] { return done.load(); }));
    EXPECT_FALSE(port.Open());
    port.SetOpen(true);  // joins the old dispatch thread and starts afresh
    EXPECT_TRUE(port.Open());
}

TEST(ComPortClose, HostSideHangUpDoesNotWedgeTheDispatcher) {
    auto pty = std::make_unique<PtyPair>();
    TOvxComPort port;
    ConfigureLikeTheApplication(port, pty->SlavePath());
    port.SetOpen(true);
    EXPECT_FALSE(port.Dispatcher().LineLost());
    pty.reset();  // the "modem" disappears
    // Seen without writing: the hung-up tty polls readable and reads as end of file for ever,
    // which must mark the line lost rather than spin the event thread.
    EXPECT_TRUE(Eventually([&] { return port.Dispatcher().LineLost(); }));
    port.PutString("AT\r");
    EXPECT_TRUE(Eventually([&] { return port.OutBuffUsed() == 0; }));
    EXPECT_FALSE(WaitForString(port, "OK", 2, false, true));
    port.SetOpen(false);
}

TEST(ComPortTrace, DumpWritesTheTraceFileAndTurnsTracingOff) {
    PtyPair pty;
    TOvxComPort port;
    ConfigureLikeTheApplication(port, pty.SlavePath());
    const std::string dir = std::filesystem::temp_directory_path() / ("telvane-trace-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    port.SetTraceName(dir + "/OVEX.TRC");
    port.SetLogName(dir + "/OVEX.LOG");
    port.SetTracing(tlOn);
    port.SetLogging(tlOn);
    port.SetOpen(true);
    WriteString(port, "AT\r");
    ASSERT_EQ(pty.Read(3, 3000), "AT\r");
    pty.Write("\r\nOK\r\n");
    ASSERT_TRUE(WaitForString(port, "OK", 36, false, true));
    port.LogFaxState("tfInit", 2);
    port.SetTracing(tlDump);
    port.SetLogging(tlDump);
    EXPECT_EQ(port.Tracing(), tlOff);
    std::stringstream trc, log;
    trc << std::ifstream(dir + "/OVEX.TRC").rdbuf();
    log << std::ifstream(dir + "/OVEX.LOG").rdbuf();
    EXPECT_EQ(trc.str(), "Transmit: AT[0D]\nReceive: [0D][0A]OK[0D][0A]\n");
    EXPECT_EQ(log.str().rfind("OVEX v3.04\n", 0), 0u);
    EXPECT_NE(log.str().find("  Fax       tfInit        00000002"), std::string::npos);
    EXPECT_NE(log.str().find("  Dispatch  ReadCom       00000006  [0D][0A]OK[0D][0A]"), std::string::npos);
    port.SetOpen(false);
    std::filesystem::remove_all(dir);
}

TEST(WaitingHelpers, WaitFindsEarlierRepliesIgnoresCaseAndTimesOut) {
    PtyPair pty;
    TOvxComPort port;
    ConfigureLikeTheApplication(port, pty.SlavePath());
    port.SetOpen(true);
    pty.Write("AT\r\r\nok\r\nREST");
    ASSERT_TRUE(Eventually([&] { return port.InBuffUsed() == 13; }));
    EXPECT_FALSE(WaitForString(port, "OK", 1, false, false));  // case matters here
    EXPECT_EQ(port.InBuffUsed(), 13u);                         // nothing consumed on time-out
    EXPECT_TRUE(WaitForString(port, "OK", 1, false, true));
    char rest[8] = {};
    EXPECT_EQ(port.GetBlock(rest, sizeof rest), 6u);  // consumed through the match
    EXPECT_EQ(std::string(rest, 6), "\r\nREST");
    std::thread later([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.Write("CONNECT\r\n");
    });
    int pumps = 0;
    SetEventPump([&] { ++pumps; });
    EXPECT_TRUE(WaitForString(port, "connect", 36, true, true));
    later.join();
    EXPECT_GT(pumps, 0);
    pumps = 0;
    DelayTicks(1, true);
    EXPECT_GT(pumps, 0);
    SetEventPump(nullptr);
    port.SetOpen(false);
}

TEST(WaitingHelpers, FindString) {
    EXPECT_EQ(FindString("xxOKxx", "OK", false), 2u);
    EXPECT_EQ(FindString("xxokxx", "OK", false), std::string_view::npos);
    EXPECT_EQ(FindString("xxokxx", "OK", true), 2u);
    EXPECT_EQ(FindString("", "OK", true), std::string_view::npos);
}

TEST(ComPortProperties, BaudChangeWhileOpenAndRejectedRates) {
    PtyPair pty;
    TOvxComPort port;
    ConfigureLikeTheApplication(port, pty.SlavePath());
    port.SetOpen(true);
    port.SetBaud(57600);
    EXPECT_EQ(port.Baud(), 57600);
    termios t{};
    ASSERT_EQ(tcgetattr(pty.MasterFd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
    EXPECT_THROW(port.SetBaud(12345), EOvxException);
    EXPECT_EQ(port.Baud(), 57600);  // a rejected rate leaves the old one in force
    port.SetOpen(false);
}

TEST(ComPortProperties, AutoOpenOpensOnFirstUse) {
    PtyPair pty;
    TOvxComPort port;
    port.SetDevicePath(pty.SlavePath());
    EXPECT_FALSE(port.Open());
    port.PutString("ATZ\r");
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(pty.Read(4, 3000), "ATZ\r");
}

TEST(ComPortProperties, AppendAndClearOfTheTrace) {
    PtyPair pty;
    TOvxComPort port;
    ConfigureLikeTheApplication(port, pty.SlavePath());
    const std::string path = std::filesystem::temp_directory_path() / ("telvane-append-" + std::to_string(getpid()));
    port.SetTraceName(path);
    port.SetTraceSize(4);
    port.SetOpen(true);
    port.SetTracing(tlOn);
    pty.Write("123456");
    ASSERT_TRUE(Eventually([&] { return port.InBuffUsed() == 6; }));
    port.SetTracing(tlAppend);  // keeps only the last 4 entries
    port.SetTracing(tlOn);
    pty.Write("ab");
    ASSERT_TRUE(Eventually([&] { return port.InBuffUsed() == 8; }));
    port.SetTracing(tlClear);
    EXPECT_EQ(port.Tracing(), tlOn);
    pty.Write("c");
    ASSERT_TRUE(Eventually([&] { return port.InBuffUsed() == 9; }));
    port.SetTracing(tlAppend);
    std::stringstream s;
    s << std::ifstream(path).rdbuf();
    EXPECT_EQ(s.str(), "Receive: 3456\nReceive: c\n");
    port.SetTraceName("/nonexistent-dir/OVEX.TRC");
    port.SetTracing(tlOn);
    EXPECT_THROW(port.SetTracing(tlDump), EOvxException);
    port.SetOpen(false);
    std::filesystem::remove(path);
}
