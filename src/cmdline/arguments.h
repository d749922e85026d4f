// One command-line parser for the tools: options with and without a value, help options, operands.
// Each tool declares its options with what they set, parses, and words the outcome in its own
// messages; the parser itself prints nothing and never exits.
// Guarantees: plain C++; arguments are taken strictly in order and parsing stops at the first
// problem, so a tool reports the same first fault whatever follows it; an option's value is the
// next argument taken verbatim (it may start with '-'); "--name=value" is not an option spelling
// (it is reported as an unknown option); numbers are plain decimal integers within their range.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace telvane::cmdline {

// How a parse ended.
enum class Status {
    ok,
    help,               // a help option was given (nothing after it was looked at)
    unknownOption,      // an argument starting with '-' that no option declares
    missingValue,       // an option that takes a value was the last argument
    badValue,           // the option's value was refused (not a number, out of range, ...)
    unexpectedOperand,  // an operand the tool takes no (more) of
};

struct ParseResult {
    Status status = Status::ok;
    std::string argument;  // the option or operand at fault
    std::string value;     // the refused value (badValue)
    std::string needs;     // what the option at fault takes, for messages: "a value", "a number", ...
    bool ok() const { return status == Status::ok; }
};

// A plain decimal integer (an optional '-', then digits only) within [min, max].
bool parseInteger(const std::string& text, long min, long max, long& out);

class Parser {
public:
    // Options that end the parse with Status::help.
    Parser& help(std::vector<std::string> names);
    // An option without a value.
    Parser& flag(const std::string& name, std::function<void()> set);
    Parser& flag(const std::string& name, bool& out, bool value = true);
    // An option with a value; `take` returns false to refuse it. `needs` names what it takes.
    Parser& value(const std::string& name, std::function<bool(const std::string&)> take, std::string needs = "a value");
    Parser& text(const std::string& name, std::string& out, std::string needs = "a value");
    Parser& number(const std::string& name, long& out, long min, long max, std::string needs = "a number");
    Parser& number(const std::string& name, int& out, int min, int max, std::string needs = "a number");
    // Operands (arguments that are not options). Without a taker every operand is an unknown
    // option; a taker returning false ends the parse with Status::unexpectedOperand.
    Parser& operands(std::function<bool(const std::string&)> take);
    Parser& operands(std::vector<std::string>& out);
    // Whether a lone "-" is an operand (standard input or output) instead of an unknown option.
    Parser& loneDashIsOperand(bool yes = true);

    ParseResult parse(const std::vector<std::string>& args) const;
    ParseResult parse(int argc, char** argv, int first = 1) const;

private:
    struct Option {
        std::string name;
        bool takesValue = false;
        std::function<void()> set;
        std::function<bool(const std::string&)> take;
        std::string needs;
    };
    const Option* find(const std::string& name) const;

    std::vector<std::string> help_;
    std::vector<Option> options_;
    std::function<bool(const std::string&)> operand_;
    bool loneDashIsOperand_ = false;
};

// A subcommand: its name and the function that runs it with the arguments after the name.
struct Command {
    std::string name;
    std::function<int(const std::vector<std::string>&)> run;
};

// The command named `name`, or nullptr.
const Command* findCommand(const std::vector<Command>& commands, const std::string& name);

}  // namespace telvane::cmdline
