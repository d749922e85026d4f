// Fuzz target: the DBF reader (header, field list, records) beside a sound memo file.
#include "fuzz_common.h"

using namespace telvane::records::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    const SoundFiles& s = soundFiles();
    writeFile(scratchDir() + "S.DBF", data, size);
    writeFile(scratchDir() + "S.FPT", s.fpt);
    writeFile(scratchDir() + "S.CDX", "");
    useTable(false);
    return 0;
}
