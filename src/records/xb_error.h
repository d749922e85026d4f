// Error type of the xBase table engine.
// Every failure of the engine (bad file, bad expression, misuse) is raised as EXbError,
// whose message names the file or expression concerned so it can be shown as it is.
#pragma once

#include <stdexcept>
#include <string>

namespace telvane::records {

class EXbError : public std::runtime_error {
public:
    explicit EXbError(const std::string& message) : std::runtime_error(message) {}
};

// A damaged or unreadable index file. The table itself may be sound: callers can move the
// index aside and rebuild it from the table.
class EXbIndexError : public EXbError {
public:
    EXbIndexError(std::string file, const std::string& message) : EXbError(message), file_(std::move(file)) {}
    const std::string& file() const { return file_; }

private:
    std::string file_;
};

// An expression that cannot be compiled; position is the 0-based character offset.
class EXbExpressionError : public EXbError {
public:
    EXbExpressionError(std::string expression, size_t position, std::string reason)
        : EXbError("Expression error at position " + std::to_string(position + 1) + ": " + reason + " in \"" +
                   expression + "\""),
          expression_(std::move(expression)),
          position_(position),
          reason_(std::move(reason)) {}
    const std::string& expression() const { return expression_; }
    size_t position() const { return position_; }
    const std::string& reason() const { return reason_; }

private:
    std::string expression_;
    size_t position_;
    std::string reason_;
};

}  // namespace telvane::records
