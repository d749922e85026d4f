// libFuzzer target: the T.6 (MMR) decoder and the MMR to MH transcoding.
#include "fuzz_2ddecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz2d::run(telvane::faximage::FaxCoding::MMR, data, size);
}
