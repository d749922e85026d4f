// libFuzzer target for the receive machines of every class: the first byte picks Class 1, 2 or
// 2.0, the rest is what the modem sends (result lines, HDLC frames, page data), handed over in
// pieces. Received faxes go to a private directory of this process, emptied after every input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "transport/fax/faxlink.h"
#include "transport/fax/faxsession.h"

namespace {

class InputLink final : public telvane::transport::TFaxLink {
public:
    InputLink(const uint8_t* d, size_t n) : data_(d), size_(n) {}
    size_t read(uint8_t* buf, size_t len) override {
        size_t n = std::min({len, size_ - pos_, static_cast<size_t>(1 + (pos_ * 7) % 61)});
        std::copy(data_ + pos_, data_ + pos_ + n, buf);
        pos_ += n;
        return n;
    }
    bool write(const uint8_t*, size_t) override { return true; }
    size_t outFree() override { return 8192; }
    size_t outUsed() override { return 0; }
    void flushIn() override {}
    void flushOut() override {}
    void setDTR(bool) override {}
    void setRTS(bool) override {}
    bool carrier() override { return pos_ < size_; }
    void setBaud(long) override {}
    void setSoftwareFlow(bool) override {}
    void pause(int64_t ms) override { now_ += ms; }
    int64_t nowMs() override { return now_; }
    void logState(std::string_view, uint32_t) override {}
    bool drained() const { return pos_ >= size_; }
    int64_t now_ = 0;

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// The private directory, removed when the process ends.
struct ReceiveDirectory {
    std::string path;
    ReceiveDirectory() {
        const char* tmp = std::getenv("TMPDIR");
        path = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz-receive-XXXXXX";
        if (!::mkdtemp(path.data())) path = "/nonexistent";
    }
    ~ReceiveDirectory() {
        std::error_code ec;
        if (path != "/nonexistent") std::filesystem::remove_all(path, ec);
    }
};

const std::string& receiveDir() {
    static const ReceiveDirectory dir;
    return dir.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    using namespace telvane::transport;
    static const TFaxClass kClasses[] = {fcClass1, fcClass2, fcClass2_0};
    InputLink link(data + 1, size - 1);
    {
        TOvxReceiveFax fax;
        fax.useLinkForTesting(&link);
        fax.setFaxClass(kClasses[data[0] % 3]);
        fax.setDestinationDir(receiveDir());
        fax.OneFax = true;
        fax.FaxLog = nullptr;
        try {
            fax.StartReceive();
        } catch (...) {
            return 0;
        }
        for (int i = 0; i < 4000 && fax.inProgress(); ++i) {
            fax.serviceSession();
            if (link.drained()) {
                const int64_t wake = fax.nextWakeMs();
                if (wake < 0) break;
                link.now_ = std::max(link.now_ + 1, wake);
            }
        }
        if (fax.inProgress()) {
            fax.CancelSession();
            fax.serviceSession();
        }
    }
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(receiveDir(), ec)) std::filesystem::remove(e.path(), ec);
    return 0;
}
