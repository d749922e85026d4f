// telvane-faxconv entry: command registry and dispatch, shared error printing.
#include "faxconv.h"

#include "errors/errors.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace faxconv {

namespace {

std::vector<Command>& commandRegistry() {
    static std::vector<Command> commands;
    return commands;
}

void printHelp() {
    std::cout << "Usage: telvane-faxconv COMMAND ARGUMENTS...\n\nCommands:\n";
    std::vector<Command> commands = commandRegistry();
    std::sort(commands.begin(), commands.end(), [](const Command& a, const Command& b) { return a.name > b.name; });
    for (const Command& c : commands) std::cout << "  " << c.usage << "\n";
    std::cout << "\nto-fax input types (--type):\n";
    for (const InputType& t : inputTypes()) {
        std::string ext;
        for (const std::string& e : t.extensions) ext += (ext.empty() ? "" : ", ") + ("." + e);
        std::cout << "  " << t.name << std::string(t.name.size() < 8 ? 8 - t.name.size() : 1, ' ') << t.summary
                  << (ext.empty() ? "" : " (" + ext + ")") << "\n";
    }
    std::cout << "\nExit status: 0 success, 1 conversion error, 2 usage error.\n";
}

}  // namespace

void registerCommand(const Command& command) { commandRegistry().push_back(command); }

int fail(int code, const std::string& context) {
    std::string text = telvane::errors::ovxErrorText(code);
    if (text.empty()) text = "error";
    std::cerr << "telvane-faxconv: " << (context.empty() ? "" : context + ": ") << text << " (" << code << ")\n";
    return kExitFailed;
}

int usageError(const std::string& message) {
    std::cerr << "telvane-faxconv: " << message << "\nTry 'telvane-faxconv --help'.\n";
    return kExitUsage;
}

std::optional<int> usageOf(const telvane::cmdline::ParseResult& result) {
    using telvane::cmdline::Status;
    if (result.status == Status::ok) return std::nullopt;
    if (result.status == Status::missingValue || result.status == Status::badValue)
        return usageError(result.argument + " needs " + result.needs);
    return usageError("unknown option '" + result.argument + "'");
}

}  // namespace faxconv

int main(int argc, char** argv) {
    using namespace faxconv;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usageError("no command given");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        printHelp();
        return kExitOk;
    }
    for (const Command& c : commandRegistry())
        if (c.name == args[0]) return c.run(std::vector<std::string>(args.begin() + 1, args.end()));
    return usageError("unknown command '" + args[0] + "'");
}
