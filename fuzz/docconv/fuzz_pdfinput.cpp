// libFuzzer target: PDF and PostScript documents through to-fax as telvane-faxconv runs them, under
// small conversion limits (pages, lines, seconds; Ghostscript's memory and file size as a child).
// The first byte holds the options: bit 0 PostScript instead of PDF, bit 1 fine, bit 2 wide; the
// rest is the document. A conversion must end with either a fax file or a worded failure, and
// never both: a failure leaves no output file.
#include "docconv/docconv.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

using namespace telvane::docconv;

namespace {

// A private directory for the input and output files, made once per run.
const std::string& workDir() {
    static const std::string dir = [] {
        char pattern[] = "/tmp/fuzz-pdfinput-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (!made) std::abort();
        return std::string(made);
    }();
    return dir;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

// Fontconfig's configuration, loaded once for Poppler's fonts, lives until the process ends.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    ToFaxRequest r;
    const bool postScript = data[0] & 1;
    r.fine = data[0] & 2;
    r.wide = data[0] & 4;
    r.input = workDir() + (postScript ? "/input.ps" : "/input.pdf");
    r.output = workDir() + "/output.ovf";
    r.limits.pages = 4;
    r.limits.lines = 4000;
    r.limits.seconds = 10;
    r.limits.memoryMb = 512;
    r.limits.fileMb = 16;
    {
        std::ofstream in(r.input, std::ios::binary | std::ios::trunc);
        in.write(reinterpret_cast<const char*>(data + 1), std::streamsize(size - 1));
        if (!in) return 0;
    }
    std::remove(r.output.c_str());
    const InputType* type = inputTypeFor(r.input, {});
    if (!type || type->name != (postScript ? "ps" : "pdf")) __builtin_trap();
    const ToFaxResult result = convertToFax(*type, r);
    if (!result.message.empty() && exists(r.output)) __builtin_trap();  // a failure left its output behind
    if (result.ok() && !exists(r.output)) __builtin_trap();             // success without a fax file
    return 0;
}
