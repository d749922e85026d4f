// libFuzzer target for what a modem sends us: result lines, HDLC frames with DLE transparency,
// T.30 frame contents (DIS/DCS/IDs), and the Class 1 send machine fed the input as modem output.
#include <cstddef>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>
#include <cstdio>
#include <string>
#include <vector>

#include "transport/fax/faxlink.h"
#include "transport/fax/faxsession.h"
#include "fuzz/faxengine/inputlink.h"
#include "transport/fax/hdlc.h"
#include "transport/fax/resultline.h"
#include "transport/fax/t30.h"

namespace {

using telvane::fuzz::InputLink;

// The document sent: a one-page fax file in an anonymous in-memory file of this process (no
// fixed path that parallel fuzzing jobs or other users could share).
const std::string& docFile() {
    static const std::string path = [] {
        const int fd = memfd_create("fuzz-faxengine-doc", 0);
        if (fd < 0) return std::string("/nonexistent");
        uint8_t h[64] = {'O', 'V', 'F', '1', '0', 0x1A};
        h[32] = 1;
        h[34] = 64;
        const uint8_t ph[16] = {26, 0, 0, 0, 4, 0};
        const uint8_t recs[22] = {6,    0,    0x00, 0x80, 0xB2, 0x59, 0x01, 0x00, 12,   0,    0x00,
                                  0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00};
        bool ok = ::write(fd, h, sizeof h) == ssize_t(sizeof h) && ::write(fd, ph, sizeof ph) == ssize_t(sizeof ph) &&
                  ::write(fd, recs, sizeof recs) == ssize_t(sizeof recs);
        return ok ? "/proc/self/fd/" + std::to_string(fd) : std::string("/nonexistent");
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    telvane::transport::TResultLineCollector lines;
    for (size_t i = 0; i < size; ++i)
        if (lines.put(data[i])) (void)telvane::transport::classifyResult(lines.line(), (i & 1) != 0);

    telvane::transport::hdlc::TDleDecoder decoder(512);
    size_t pos = 0;
    while (pos < size) {
        const size_t used = decoder.feed(data + pos, size - pos);
        pos += used == 0 ? 1 : used;
        if (decoder.done()) {
            telvane::transport::hdlc::TFrame frame;
            if (telvane::transport::hdlc::parseFrame(decoder.Data(), frame)) {
                (void)telvane::transport::hdlc::describeFrame(frame);
                (void)telvane::transport::t30::parseDIS(frame.Fif.data(), frame.Fif.size());
                (void)telvane::transport::t30::parseDCS(frame.Fif.data(), frame.Fif.size());
                (void)telvane::transport::t30::decodeId(frame.Fif.data(), frame.Fif.size());
            }
            decoder.reset();
        }
    }

    InputLink link(data, size, false);
    telvane::transport::TOvxSendFax fax;
    fax.useLinkForTesting(&link);
    fax.SetFaxFile(docFile());
    fax.PhoneNumber = "1";
    fax.DialAttempts = 2;
    fax.FaxLog = nullptr;
    fax.StartSend();
    for (int i = 0; i < 2000 && fax.inProgress(); ++i) {
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
    return 0;
}
