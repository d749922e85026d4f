// Fuzz target: the FPT memo reader, reached through the records of a sound table.
#include "fuzz_common.h"

using namespace telvane::records::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    const SoundFiles& s = soundFiles();
    writeFile(scratchDir() + "S.DBF", s.dbf);
    writeFile(scratchDir() + "S.FPT", data, size);
    useTable(false);
    return 0;
}
