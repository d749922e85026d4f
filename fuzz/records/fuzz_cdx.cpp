// Fuzz target: the CDX reader (directory, tag headers, interior and leaf nodes) in memory, and
// the table's index check and rebuild at open.
#include "fuzz_common.h"

#include "records/cdx_file.h"
#include "records/xb_error.h"

using namespace telvane::records;
using namespace telvane::records::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    try {
        CdxReader reader("fuzz.cdx", bytes);
        for (const auto& tag : reader.tags()) {
            try {
                reader.keys(tag, ' ');
            } catch (const EXbError&) {}
        }
    } catch (const EXbError&) {}
    const SoundFiles& s = soundFiles();
    writeFile(scratchDir() + "S.DBF", s.dbf);
    writeFile(scratchDir() + "S.FPT", s.fpt);
    writeFile(scratchDir() + "S.CDX", bytes);
    useTable(true);
    return 0;
}
