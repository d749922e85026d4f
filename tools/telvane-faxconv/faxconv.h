// telvane-faxconv: converts documents and images to fax files and back.
// Commands are registered by the source files that implement them; the conversions are the
// docconv library's, and an input type that needs Qt (rendered rich text, system fonts) is added
// in its own source file with a static InputTypeRegistrar.
#pragma once

#include "cmdline/arguments.h"
#include "docconv/docconv.h"

#include <optional>
#include <string>
#include <vector>

namespace faxconv {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

using namespace telvane::docconv;

struct Command {
    std::string name;
    std::string usage;
    int (*run)(const std::vector<std::string>& args);  // returns an exit code
};

void registerCommand(const Command& command);

struct FaxconvCommandRegistrar {
    explicit FaxconvCommandRegistrar(const Command& c) { registerCommand(c); }
};

// Prints "telvane-faxconv: TEXT (CODE)" for an engine code and returns kExitFailed.
int fail(int code, const std::string& context = std::string());
// Prints a usage error and returns kExitUsage.
int usageError(const std::string& message);
// The largest number an option takes.
constexpr int kMaxOptionNumber = 999'999'999;
// The usage error of a command's parse that failed (reported, kExitUsage); nullopt when it did not.
std::optional<int> usageOf(const telvane::cmdline::ParseResult& result);

}  // namespace faxconv
