// Document conversion to fax files: the input types (images, text, TIFF, PDF through Poppler,
// PostScript through Ghostscript then PDF), the limits every conversion keeps to, and the one call
// that runs a conversion and words its failure. telvane-faxconv and the fuzz targets use it; input
// types that need Qt are added by the program that has Qt (addInputType).
// Guarantees: plain C++; a failed conversion leaves no output file behind for PDF and PostScript
// input and says what went wrong, naming the limit that stopped it with how to raise it.
#pragma once

#include <string>
#include <vector>

namespace telvane::faximage {
class TOvxFaxConverter;
}

namespace telvane::docconv {

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
// This process's own share of the limits: its address space and the size of any file it writes
// (a larger write fails as a full disk instead of ending the process); a terminating signal
// removes what a conversion leaves half done.
void applyOwnLimits(const ConversionLimits& limits);

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

// Every input type: the built-in ones (bmp, text, tiff, pcx, dcx, pdf, ps), then the added ones.
const std::vector<InputType>& inputTypes();
void addInputType(const InputType& type);
struct InputTypeRegistrar {
    explicit InputTypeRegistrar(const InputType& t) { addInputType(t); }
};
// The input type named `type`, else (with `type` empty) the one of the input's extension; nullptr if none.
const InputType* inputTypeFor(const std::string& input, const std::string& type);

// How a conversion ended: code 0 or a negative engine code; `message` words any failure other than
// an engine code's own text (running out of memory or file size names its limit).
struct ToFaxResult {
    int code = 0;
    std::string message;
    bool ok() const { return code == 0 && message.empty(); }
};
ToFaxResult convertToFax(const InputType& type, const ToFaxRequest& request);

// PDF and PostScript input (also reached through inputTypes()).
int convertPdf(const ToFaxRequest& request, std::string& message);
int convertPostScript(const ToFaxRequest& request, std::string& message);

// Sets the converter's input and output files and the page options every input type shares
// (resolution, width, station ID, margins, lines per page, tab stop) from the request.
void applyPageOptions(telvane::faximage::TOvxFaxConverter& converter, const ToFaxRequest& request);

// Fax file `in` to the image file `out` of the kind its extension names (isFromFaxOutput): page
// `page` (0 = every page where the format holds several, else the first); 0 or a negative engine code.
bool isFromFaxOutput(const std::string& path);
int convertFromFax(const std::string& in, const std::string& out, int page);

// The lower-case extension of a path's file name, without the dot; empty when it has none.
std::string lowerExtension(const std::string& path);

}  // namespace telvane::docconv
