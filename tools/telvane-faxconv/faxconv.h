// telvane-faxconv: converts documents and images to fax files and back.
// Commands and to-fax input types are registered by the source files that implement them, so
// a new input type (for example rendered rich text) is added in its own source file with a
// static FaxconvInputRegistrar.
#pragma once

#include <string>
#include <vector>

namespace telvane::faximage {
class TOvxFaxConverter;
}

namespace faxconv {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct ToFaxRequest {
    std::string input;
    std::string output;
    std::string type;  // input type name; empty = from the input's extension
    bool fine = false;
    bool wide = false;
    std::string stationId;
    int topMargin = 0;
    int leftMargin = 50;
    int linesPerPage = 60;
    int tabStop = 4;
    bool smallFont = false;
    bool center = true;
    bool doubleWidth = true;
    bool halfHeight = false;
    std::string font;   // system font for text rendered through Qt: FAMILY[:POINTS]
    std::string cover;  // cover sheet of an RTF document, rendered before it
};

// An input type of to-fax: converts request.input into request.output; returns 0 or a
// negative engine code (its text is printed), or sets `message` for other failures.
struct InputType {
    std::string name;
    std::vector<std::string> extensions;  // lower case, without dot
    std::string summary;
    int (*convert)(const ToFaxRequest& request, std::string& message);
};

struct Command {
    std::string name;
    std::string usage;
    int (*run)(const std::vector<std::string>& args);  // returns an exit code
};

void registerInputType(const InputType& type);
void registerCommand(const Command& command);
const std::vector<InputType>& inputTypes();

struct FaxconvInputRegistrar {
    explicit FaxconvInputRegistrar(const InputType& t) { registerInputType(t); }
};
struct FaxconvCommandRegistrar {
    explicit FaxconvCommandRegistrar(const Command& c) { registerCommand(c); }
};

// Sets the converter's input and output files and the page options every input type shares
// (resolution, width, station ID, margins, lines per page, tab stop) from the request.
void applyPageOptions(telvane::faximage::TOvxFaxConverter& converter, const ToFaxRequest& request);

// Prints "telvane-faxconv: TEXT (CODE)" for an engine code and returns kExitFailed.
int fail(int code, const std::string& context = std::string());
// Prints a usage error and returns kExitUsage.
int usageError(const std::string& message);
// Parses a non-negative integer option value.
bool parseInt(const std::string& s, int& out);
std::string lowerExtension(const std::string& path);

}  // namespace faxconv
