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
#include "fuzz/faxengine/inputlink.h"

namespace {

using telvane::fuzz::InputLink;

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
    InputLink link(data + 1, size - 1, true);
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
