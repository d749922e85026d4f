// The fax components on a real TOvxComPort with its dispatcher threads: the trigger wiring
// (available, timer and output triggers), the event sink and cancelling, with the scripted
// modem behind a device adapter instead of a serial line.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "support/tempdir.h"
#include "transport/comport.h"
#include "fakemodem.h"
#include "transport/fax/faxsession.h"
#include "faximage/ovffile.h"
#include "transport/ovxdevice.h"

using namespace telvane;
using namespace telvane::transport;
using faxtest::FakeModem;

namespace {

// The scripted modem as a serial device (thread-safe: the dispatcher's threads share it).
class FakeDevice final : public TOvxDevice {
public:
    explicit FakeDevice(FakeModem& m, std::mutex& mu) : m_(m), mu_(mu) {}
    void Open(const std::string&) override { open_ = true; }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    void configure(const TOvxLineSettings&) override {}
    ssize_t read(uint8_t* buf, size_t len) override {
        std::lock_guard lock(mu_);
        if (!m_.alive()) return -1;
        // The modem's clock runs in real time here: a frame comes a while after its CONNECT.
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
        m_.Now = std::max<int64_t>(m_.Now, ms.count());
        return static_cast<ssize_t>(m_.read(buf, len));
    }
    ssize_t write(const uint8_t* buf, size_t len) override {
        std::lock_guard lock(mu_);
        return m_.write(buf, len) ? static_cast<ssize_t>(len) : -1;
    }
    void setDTR(bool) override {}
    void setRTS(bool) override {}
    uint8_t modemStatus() override { return msCTS | msDSR; }
    uint8_t takeLineErrors() override { return 0; }
    void flushInput() override {}
    void flushOutput() override {}
    int pollFd() const override { return -1; }

private:
    FakeModem& m_;
    std::mutex& mu_;
    bool open_ = false;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

void makeOnePageFile(const std::string& path, int lines) {
    std::ofstream o(path, std::ios::binary);
    auto put16 = [&](unsigned v) {
        o.put(char(v & 0xFF));
        o.put(char(v >> 8));
    };
    auto put32 = [&](unsigned v) {
        for (int i = 0; i < 4; ++i) o.put(char((v >> (8 * i)) & 0xFF));
    };
    o.write("OVF10\x1A", 6);
    o.write(std::string(26, '\0').data(), 26);
    put16(1);
    put32(64);
    o.write(std::string(26, '\0').data(), 26);
    put32(static_cast<unsigned>(lines * 8 + 14));
    put16(telvane::faximage::FAX_LINE_RECORDS);
    o.write(std::string(10, '\0').data(), 10);
    const char blank[6] = {0x00, char(0x80), char(0xB2), 0x59, 0x01, 0x00};
    for (int i = 0; i < lines; ++i) {
        put16(6);
        o.write(blank, 6);
    }
    const char end[12] = {0x00, char(0x80), 0x00, 0x08, char(0x80), 0x00,
                          0x08, char(0x80), 0x00, 0x08, char(0x80), 0x00};
    put16(12);
    o.write(end, 12);
}

struct Done {
    std::mutex mu;
    std::condition_variable cv;
    std::vector<int> codes;
    bool wait(int seconds) {
        std::unique_lock lock(mu);
        return cv.wait_for(lock, std::chrono::seconds(seconds), [&] { return !codes.empty(); });
    }
};

}  // namespace

TEST(FaxOnPort, SendRunsOnTheDispatchThreadThroughTriggers) {
    const auto dir = std::filesystem::temp_directory_path() / ("faxport-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "doc.ovf").string();
    makeOnePageFile(file, 3000);  // about 24 KB of page data: several output passes

    FakeModem modem;
    std::mutex modemMu;
    modem.Frames.push_back(FakeModem::ident(0x40, "FAR END"));
    modem.Frames.push_back(FakeModem::dis(true, 6));
    modem.Frames.push_back(FakeModem::frame(0x84));
    modem.Frames.push_back(FakeModem::frame(0x8C));

    TOvxComPort port;
    port.setComNumber(1);
    port.setDeviceFactory([&] { return std::make_unique<FakeDevice>(modem, modemMu); });
    TOvxSendFax fax;
    fax.setComPort(&port);
    EXPECT_EQ(port.OutSize(), 8192u);
    EXPECT_EQ(port.Baud(), 19200);
    port.setLogging(tlOn);
    port.setOpen(true);

    Done done;
    std::atomic<int> statusEvents{0};
    std::thread::id eventThread;
    fax.OnFaxStatus = [&](TOvxAbstractFax&, bool, bool) { ++statusEvents; };
    fax.OnFaxFinish = [&](TOvxAbstractFax&, int code) {
        std::lock_guard lock(done.mu);
        eventThread = std::this_thread::get_id();
        done.codes.push_back(code);
        done.cv.notify_all();
    };
    fax.SetFaxFile(file);
    fax.PhoneNumber = "42";
    fax.DesiredBPS = 14400;
    fax.StartSend();
    ASSERT_TRUE(done.wait(60)) << "the session did not finish";
    EXPECT_EQ(done.codes, std::vector<int>{0});
    EXPECT_NE(eventThread, std::this_thread::get_id());
    EXPECT_GE(statusEvents.load(), 2);
    {
        std::lock_guard lock(modemMu);
        ASSERT_EQ(modem.TxData.size(), 2u);
        EXPECT_EQ(modem.TxData[1].size(), 3000u * 6 + 12);
    }
    // Every state change is in the dispatch log under "Fax".
    bool sawState = false;
    for (const auto& e : port.dispatcher().log().entries())
        if (e.Type == ltFax && e.Data == "tf1WaitMCF") sawState = true;
    EXPECT_TRUE(sawState);
    port.setOpen(false);
    std::filesystem::remove_all(dir);
}

TEST(FaxOnPort, CancelWhileWaitingForACallEndsPromptly) {
    FakeModem modem;
    std::mutex modemMu;
    TOvxComPort port;
    port.setComNumber(1);
    port.setDeviceFactory([&] { return std::make_unique<FakeDevice>(modem, modemMu); });
    TOvxReceiveFax fax;
    fax.setComPort(&port);
    port.setOpen(true);
    Done done;
    std::atomic<int> progress{0};
    fax.OnFaxStatus = [&](TOvxAbstractFax& cp, bool, bool) { progress = cp.faxProgress(); };
    fax.OnFaxFinish = [&](TOvxAbstractFax&, int code) {
        std::lock_guard lock(done.mu);
        done.codes.push_back(code);
        done.cv.notify_all();
    };
    fax.ConstantStatus = true;
    fax.StartReceive();
    for (int i = 0; i < 100 && progress != fpWaiting; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(progress.load(), fpWaiting);
    fax.CancelSession();
    ASSERT_TRUE(done.wait(30));
    EXPECT_EQ(done.codes, std::vector<int>{errors::ecCancelRequested});
    EXPECT_FALSE(fax.inProgress());
    port.setOpen(false);
}

// The owner may destroy a component while its session runs (the send window closed during the
// dial, receive mode ended while waiting for a call). The session is cancelled on the dispatch
// thread, and that service pass, the triggers it re-arms included, must be over before anything
// it uses goes; ThreadSanitizer (CI) reports the pass and the destructor racing otherwise.
TEST(FaxOnPort, DestroyingAComponentEndsItsSessionFirst) {
    for (const bool sending : {true, false}) {
        SCOPED_TRACE(sending ? "send" : "receive");
        telvane::test::TempDir dir("faxport");
        FakeModem modem;
        modem.DialResult = "";  // the call is never answered: the sender stays in its dial
        std::mutex modemMu;
        TOvxComPort port;
        port.setComNumber(1);
        port.setDeviceFactory([&] { return std::make_unique<FakeDevice>(modem, modemMu); });
        TOvxFaxLog history;
        history.FaxHistoryName = dir / "OVEXFAX.HIS";
        std::unique_ptr<TOvxCustomAbstractFax> fax;
        if (sending) {
            makeOnePageFile(dir / "doc.ovf", 10);
            auto send = std::make_unique<TOvxSendFax>();
            send->SetFaxFile(dir / "doc.ovf");
            send->PhoneNumber = "42";
            fax = std::move(send);
        } else {
            fax = std::make_unique<TOvxReceiveFax>();
        }
        fax->setComPort(&port);
        fax->FaxLog = &history;
        Done done;
        std::atomic<int> progress{0};
        fax->OnFaxStatus = [&](TOvxAbstractFax& cp, bool, bool) { progress = cp.faxProgress(); };
        fax->OnFaxFinish = [&](TOvxAbstractFax&, int code) {
            std::lock_guard lock(done.mu);
            done.codes.push_back(code);
        };
        port.setOpen(true);
        if (sending)
            static_cast<TOvxSendFax&>(*fax).StartSend();
        else
            static_cast<TOvxReceiveFax&>(*fax).StartReceive();
        const int waiting = sending ? fpDialing : fpWaiting;
        for (int i = 0; i < 100 && progress != waiting; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_EQ(progress.load(), waiting);

        fax.reset();
        {
            std::lock_guard lock(done.mu);
            EXPECT_EQ(done.codes, std::vector<int>{errors::ecCancelRequested});
        }
        if (sending) {
            const std::string his = telvane::test::readFile(dir / "OVEXFAX.HIS");
            EXPECT_NE(his.find("Transmit " + (dir / "doc.ovf") + " to 42 started"), std::string::npos) << his;
            EXPECT_NE(his.find("Transmit failed"), std::string::npos) << his;
        }
        port.setOpen(false);
    }
}
