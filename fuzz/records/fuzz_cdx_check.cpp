// Fuzz target: the whole-file index check (Table::check) with a fuzzed CDX beside a sound
// 10-record table. The check walks every tree and compares it with the table; its work and
// memory must stay bounded by the table's record count whatever the index claims.
#include "fuzz_common.h"

#include "records/table.h"
#include "records/xb_error.h"

using namespace telvane::records;
using namespace telvane::records::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
    const SoundFiles& s = soundFiles();
    writeFile(scratchDir() + "S.DBF", s.dbf);
    writeFile(scratchDir() + "S.FPT", s.fpt);
    writeFile(scratchDir() + "S.CDX", data, size);
    try {
        const auto problems = Table::check(scratchDir() + "S.DBF");
        if (size == s.cdx.size() && std::string(reinterpret_cast<const char*>(data), size) == s.cdx &&
            !problems.empty())
            __builtin_trap();  // the sound files themselves must pass
    } catch (const EXbError&) {}
    return 0;
}
