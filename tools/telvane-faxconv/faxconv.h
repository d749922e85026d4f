// telvane-faxconv: converts documents and images to fax files and back.
// Commands and to-fax input types are registered by the source files that implement them, so
// a new input type (for example rendered rich text) is added in its own source file with a
// static FaxconvInputRegistrar.
#pragma once

#include "cmdline/arguments.h"

#include <optional>
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

// The limits every to-fax conversion runs under, each one a user can name and change through
// TELVANE_FAXCONV_LIMITS, a comma-separated list of NAME=VALUE (for example "pages=100,seconds=30").
struct ConversionLimits {
    int pages = 65535;    // pages: a fax file counts its pages in 16 bits
    int lines = 16384;    // lines: the longest fax page, in lines (83 inches fine, 167 normal)
    int seconds = 120;    // seconds: Ghostscript's whole run, and the drawing of each page
    int memoryMb = 2048;  // memory: address space of the converter and of Ghostscript, in MB
    int fileMb = 1024;    // file: the size of any file a conversion writes, in MB
};
constexpr const char* kLimitsVariable = "TELVANE_FAXCONV_LIMITS";
// The limits from the environment; false with `error` set when the variable is malformed.
bool readLimits(ConversionLimits& limits, std::string& error);
// " (limit NAME=VALUE; raise it in TELVANE_FAXCONV_LIMITS)", the end of a message naming a limit.
std::string limitHint(const std::string& name, long value);

struct ToFaxRequest {
    ConversionLimits limits;
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
// The largest number an option takes.
constexpr int kMaxOptionNumber = 999'999'999;
// Parses a non-negative integer option value.
bool parseInt(const std::string& s, int& out);
// The usage error of a command's parse that failed (reported, kExitUsage); nullopt when it did not.
std::optional<int> usageOf(const telvane::cmdline::ParseResult& result);
std::string lowerExtension(const std::string& path);

}  // namespace faxconv
