// Discovery of the serial devices present (see serialdevices.h).
#include "ports/serialdevices.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <tuple>

namespace telvane::ports {

namespace fs = std::filesystem;

namespace {

// Names of the entries of dir that start with prefix (all when it is empty), directories and
// hidden names left out, in natural order.
std::vector<std::string> entriesOf(const std::string& dir, std::string_view prefix) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.' || name.compare(0, prefix.size(), prefix) != 0) continue;
        std::error_code typeError;
        if (it->is_directory(typeError)) continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end(), naturalLess);
    return names;
}

// A legacy serial port whose sysfs type says no UART is behind it.
bool withoutUart(const std::string& sysRoot, const std::string& name) {
    std::ifstream in(sysRoot + "/" + name + "/type");
    std::string type;
    if (!in || !std::getline(in, type)) return false;
    type.erase(0, type.find_first_not_of(" \t\r\n"));
    type.erase(type.find_last_not_of(" \t\r\n") + 1);
    return type == "0";
}

// The name without its trailing digits, and those digits without leading zeros.
std::pair<std::string_view, std::string_view> split(std::string_view s) {
    std::size_t digits = s.size();
    while (digits > 0 && s[digits - 1] >= '0' && s[digits - 1] <= '9') --digits;
    std::string_view number = s.substr(digits);
    while (number.size() > 1 && number[0] == '0') number.remove_prefix(1);
    return {s.substr(0, digits), number};
}

}  // namespace

bool naturalLess(const std::string& a, const std::string& b) {
    const auto [aName, aNumber] = split(a);
    const auto [bName, bNumber] = split(b);
    return std::tuple(aName, aNumber.size(), aNumber, std::string_view(a)) <
           std::tuple(bName, bNumber.size(), bNumber, std::string_view(b));
}

std::vector<std::string> serialDevicesPresent(const std::string& devRoot, const std::string& sysRoot) {
    std::vector<std::string> result;
    const std::string byId = devRoot + "/serial/by-id";
    for (const std::string& id : entriesOf(byId, "")) result.push_back(byId + "/" + id);
    for (const std::string_view group : {"ttyACM", "ttyUSB", "ttyS"}) {
        for (const std::string& name : entriesOf(devRoot, group)) {
            if (group == "ttyS" && withoutUart(sysRoot, name)) continue;
            result.push_back(devRoot + "/" + name);
        }
    }
    return result;
}

}  // namespace telvane::ports
