// libFuzzer target: the T.4 line decoder on arbitrary code streams, fed in two pieces.
#include "faximage/mhdecoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

struct CheckSink : telvane::faximage::FaxLineSink {
    void faxLine(const std::uint8_t* line, std::size_t bytes) override {
        if (bytes != 216 && bytes != 256) std::abort();
        volatile std::uint8_t sink = line[bytes - 1];
        (void)sink;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckSink sink;
    telvane::faximage::FaxLineDecoder d(&sink);
    std::size_t half = size / 2;
    if (!d.feed(data, half)) d.feed(data + half, size - half);
    if (!d.pageEnded()) d.finish();
    return 0;
}
