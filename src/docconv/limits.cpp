// The conversion limits as TELVANE_FAXCONV_LIMITS sets them, and the hint that names one.
#include "docconv/docconv.h"

#include "cmdline/arguments.h"

#include <cstdlib>
#include <map>

namespace telvane::docconv {

bool readLimits(ConversionLimits& limits, std::string& error) {
    const char* text = std::getenv(kLimitsVariable);
    if (!text || !*text) return true;
    const std::map<std::string, int*> fields = {{"pages", &limits.pages},
                                                {"lines", &limits.lines},
                                                {"seconds", &limits.seconds},
                                                {"memory", &limits.memoryMb},
                                                {"file", &limits.fileMb}};
    const std::string all(text);
    std::size_t at = 0;
    while (at <= all.size()) {
        std::size_t end = all.find(',', at);
        if (end == std::string::npos) end = all.size();
        const std::string item = all.substr(at, end - at);
        const std::size_t eq = item.find('=');
        const auto field = eq == std::string::npos ? fields.end() : fields.find(item.substr(0, eq));
        long value = 0;
        if (field == fields.end() || !cmdline::parseInteger(item.substr(eq + 1), 1, 999'999'999, value)) {
            error = std::string(kLimitsVariable) + ": '" + item +
                    "' is not NAME=NUMBER with NAME one of pages, lines, seconds, memory, file and NUMBER at least 1";
            return false;
        }
        *field->second = static_cast<int>(value);
        at = end + 1;
    }
    return true;
}

std::string limitHint(const std::string& name, long value) {
    return " (limit " + name + "=" + std::to_string(value) + "; raise it in " + kLimitsVariable + ")";
}

}  // namespace telvane::docconv
