// The tools' command-line parser: options are matched by exact name, in argument order.
#include "cmdline/arguments.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>

namespace telvane::cmdline {

bool parseInteger(const std::string& text, long min, long max, long& out) {
    const std::size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() == digits || text.size() - digits > 18 ||
        !std::all_of(text.begin() + long(digits), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const long v = std::strtol(text.c_str(), nullptr, 10);
    if (v < min || v > max) return false;
    out = v;
    return true;
}

Parser& Parser::help(std::vector<std::string> names) {
    help_ = std::move(names);
    return *this;
}

Parser& Parser::flag(const std::string& name, std::function<void()> set) {
    options_.push_back({name, false, std::move(set), {}, {}});
    return *this;
}

Parser& Parser::flag(const std::string& name, bool& out, bool value) {
    return flag(name, [&out, value] { out = value; });
}

Parser& Parser::value(const std::string& name, std::function<bool(const std::string&)> take, std::string needs) {
    options_.push_back({name, true, {}, std::move(take), std::move(needs)});
    return *this;
}

Parser& Parser::text(const std::string& name, std::string& out, std::string needs) {
    return value(
        name,
        [&out](const std::string& v) {
            out = v;
            return true;
        },
        std::move(needs));
}

Parser& Parser::number(const std::string& name, long& out, long min, long max, std::string needs) {
    return value(
        name, [&out, min, max](const std::string& v) { return parseInteger(v, min, max, out); }, std::move(needs));
}

Parser& Parser::number(const std::string& name, int& out, int min, int max, std::string needs) {
    return value(
        name,
        [&out, min, max](const std::string& v) {
            long n = 0;
            if (!parseInteger(v, min, max, n)) return false;
            out = static_cast<int>(n);
            return true;
        },
        std::move(needs));
}

Parser& Parser::operands(std::function<bool(const std::string&)> take) {
    operand_ = std::move(take);
    return *this;
}

Parser& Parser::operands(std::vector<std::string>& out) {
    return operands([&out](const std::string& a) {
        out.push_back(a);
        return true;
    });
}

Parser& Parser::loneDashIsOperand(bool yes) {
    loneDashIsOperand_ = yes;
    return *this;
}

const Parser::Option* Parser::find(const std::string& name) const {
    for (const Option& o : options_)
        if (o.name == name) return &o;
    return nullptr;
}

ParseResult Parser::parse(const std::vector<std::string>& args) const {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (std::find(help_.begin(), help_.end(), a) != help_.end()) return {Status::help, a, {}, {}};
        const bool isOption = !a.empty() && a[0] == '-' && !(loneDashIsOperand_ && a == "-");
        if (!isOption) {
            if (!operand_) return {Status::unknownOption, a, {}, {}};
            if (!operand_(a)) return {Status::unexpectedOperand, a, {}, {}};
            continue;
        }
        const Option* o = find(a);
        if (!o) return {Status::unknownOption, a, {}, {}};
        if (!o->takesValue) {
            o->set();
            continue;
        }
        if (i + 1 >= args.size()) return {Status::missingValue, a, {}, o->needs};
        const std::string& v = args[++i];
        if (!o->take(v)) return {Status::badValue, a, v, o->needs};
    }
    return {};
}

ParseResult Parser::parse(int argc, char** argv, int first) const {
    return parse(std::vector<std::string>(argv + std::min(first, argc), argv + argc));
}

const Command* findCommand(const std::vector<Command>& commands, const std::string& name) {
    for (const Command& c : commands)
        if (c.name == name) return &c;
    return nullptr;
}

}  // namespace telvane::cmdline
