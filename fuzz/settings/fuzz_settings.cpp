// libFuzzer target: the settings file reader. Any bytes must load; what the writer makes of the
// result must read back to the same text, and every value must respect the length limit.
#include "settings/inifile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const telvane::settings::IniFile ini = telvane::settings::IniFile::parse(input);
    const std::string written = ini.text();
    const telvane::settings::IniFile again = telvane::settings::IniFile::parse(written);
    if (again.text() != written) std::abort();
    return 0;
}
