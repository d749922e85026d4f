// libFuzzer target for the RTF reader: any input must load without crashing, and what the writer
// makes of the result must read back to the same document (the writer's output is stable).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "compose/rtf/rtfreader.h"
#include "compose/rtf/rtfwriter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const telvane::rtf::Document doc =
        telvane::rtf::looksLikeRtf(input) ? telvane::rtf::readRtf(input) : telvane::rtf::readPlainText(input);
    const std::string written = telvane::rtf::writeRtf(doc);
    const std::string again = telvane::rtf::writeRtf(telvane::rtf::readRtf(written));
    if (again != written) std::abort();
    return 0;
}
