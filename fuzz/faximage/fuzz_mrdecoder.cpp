// libFuzzer target: the T.4 two-dimensional (MR) decoder and the MR to MH transcoding.
#include "fuzz_2ddecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz2d::run(telvane::faximage::FaxCoding::MR, data, size);
}
