// Minimal JSON for telvane-db: parsing one flat object per line (string, number, true, false,
// null values) and escaping strings for output. Errors carry the column where they occur.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace telvane::dbtool {

struct JsonValue {
    enum Kind { String, Number, Bool, Null } kind = Null;
    std::string text;  // String: the decoded text (UTF-8); Number: as written
    bool boolean = false;
};

class JsonError : public std::runtime_error {
public:
    JsonError(size_t column, const std::string& what)
        : std::runtime_error("column " + std::to_string(column + 1) + ": " + what) {}
};

// Parses {"NAME": value, ...}; keys keep their order of appearance.
std::vector<std::pair<std::string, JsonValue>> parseFlatObject(const std::string& line);
std::string jsonEscape(const std::string& utf8);

}  // namespace telvane::dbtool
