// The input types of the fax image core (bmp, text, tiff, pcx, dcx), the list of every input type,
// a conversion run with its failure worded, and this process's own limits.
#include "docconv/docconv.h"

#include "errors/errors.h"
#include "faximage/faxconverter.h"
#include "faximage/signalcleanup.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdint>
#include <memory>
#include <new>
#include <sys/resource.h>
#include <utility>

namespace telvane::docconv {

namespace {

using namespace telvane::faximage;

int convertWith(TFaxInputDocumentType type, const ToFaxRequest& r, std::shared_ptr<FaxTextRenderer> font) {
    TOvxFaxConverter c;
    c.InputDocumentType = type;
    applyPageOptions(c, r);
    c.FontType = r.smallFont ? ffSmall : ffStandard;
    c.EnhFont = std::move(font);
    c.setOptions((r.doubleWidth ? coDoubleWidth : 0) | (r.center ? coCenterImage : 0) |
                 (r.halfHeight ? coHalfHeight : 0));
    return c.convert();
}

int convertBmp(const ToFaxRequest& r, std::string&) { return convertWith(idBmp, r, nullptr); }
int convertText(const ToFaxRequest& r, std::string&) { return convertWith(idText, r, nullptr); }
int convertTiff(const ToFaxRequest& r, std::string&) { return convertWith(idTiff, r, nullptr); }
int convertPcx(const ToFaxRequest& r, std::string&) { return convertWith(idPcx, r, nullptr); }
int convertDcx(const ToFaxRequest& r, std::string&) { return convertWith(idDcx, r, nullptr); }

// Sanitizer runtimes reserve terabytes of address space up front: an address-space limit would
// stop every allocation, so those builds run without it.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kAddressSpaceLimited = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
constexpr bool kAddressSpaceLimited = false;
#else
constexpr bool kAddressSpaceLimited = true;
#endif
#else
constexpr bool kAddressSpaceLimited = true;
#endif

std::vector<InputType>& registry() {
    static std::vector<InputType> types = {
        {"bmp", {"bmp"}, "BMP image, one page", convertBmp},
        {"text", {"txt", "text"}, "plain text in the built-in bitmap font", convertText},
        {"tiff", {"tif", "tiff"}, "TIFF (uncompressed, PackBits, CCITT G3/G4), every page", convertTiff},
        {"pcx", {"pcx"}, "PCX image, one page", convertPcx},
        {"dcx", {"dcx"}, "DCX multi-page PCX", convertDcx},
        {"pdf", {"pdf"}, "PDF document, every page, scaled to the fax width (Poppler)", convertPdf},
        {"ps", {"ps", "eps"}, "PostScript, through Ghostscript, then as PDF", convertPostScript},
    };
    return types;
}

}  // namespace

const std::vector<InputType>& inputTypes() { return registry(); }
void addInputType(const InputType& type) { registry().push_back(type); }

const InputType* inputTypeFor(const std::string& input, const std::string& type) {
    const std::string ext = lowerExtension(input);
    for (const InputType& t : inputTypes()) {
        if (!type.empty() ? t.name == type
                          : std::find(t.extensions.begin(), t.extensions.end(), ext) != t.extensions.end())
            return &t;
    }
    return nullptr;
}

void applyOwnLimits(const ConversionLimits& limits) {
    faximage::cleanUpOnSignals();
    std::signal(SIGXFSZ, SIG_IGN);
    const auto set = [](int resource, std::uint64_t bytes) {
        const struct rlimit r { rlim_t(bytes), rlim_t(bytes) };
        ::setrlimit(resource, &r);
    };
    set(RLIMIT_FSIZE, std::uint64_t(limits.fileMb) << 20);
    if (kAddressSpaceLimited) set(RLIMIT_AS, std::uint64_t(limits.memoryMb) << 20);
}

ToFaxResult convertToFax(const InputType& type, const ToFaxRequest& r) {
    ToFaxResult result;
    const std::string outOfMemory =
        r.input + ": the conversion ran out of memory" + limitHint("memory", r.limits.memoryMb);
    try {
        result.code = type.convert(r, result.message);
    } catch (const std::bad_alloc&) {
        result.message = outOfMemory;
    }
    if (!result.message.empty()) return result;
    if (result.code == telvane::errors::ecOutOfMemory) result.message = outOfMemory;
    if (result.code == telvane::errors::ecDiskFull)
        result.message =
            r.output + ": the disk is full or the fax file grew beyond its limit" + limitHint("file", r.limits.fileMb);
    return result;
}

std::string lowerExtension(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

void applyPageOptions(TOvxFaxConverter& c, const ToFaxRequest& r) {
    c.setDocumentFile(r.input);
    c.OutFileName = r.output;
    c.Resolution = r.fine ? frHigh : frNormal;
    c.Width = r.wide ? fwWide : fwNormal;
    c.StationID = r.stationId;
    c.TopMargin = r.topMargin;
    c.LeftMargin = r.leftMargin;
    c.LinesPerPage = r.linesPerPage;
    c.TabStop = r.tabStop;
}

}  // namespace telvane::docconv
