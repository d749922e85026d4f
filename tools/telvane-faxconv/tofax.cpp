// telvane-faxconv to-fax: option parsing and the input types of the fax image core
// (bmp, text, tiff, pcx, dcx).
#include "faxconv.h"

#include "errors/errors.h"
#include "faximage/faxconverter.h"
#include "faximage/signalcleanup.h"

#include <csignal>
#include <cstdint>
#include <iostream>
#include <new>
#include <optional>
#include <sys/resource.h>
#include <utility>

namespace faxconv {

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

const FaxconvInputRegistrar bmpType({"bmp", {"bmp"}, "BMP image, one page", convertBmp});
const FaxconvInputRegistrar textType({"text", {"txt", "text"}, "plain text in the built-in bitmap font", convertText});
const FaxconvInputRegistrar tiffType(
    {"tiff", {"tif", "tiff"}, "TIFF (uncompressed, PackBits, CCITT G3/G4), every page", convertTiff});
const FaxconvInputRegistrar pcxType({"pcx", {"pcx"}, "PCX image, one page", convertPcx});
const FaxconvInputRegistrar dcxType({"dcx", {"dcx"}, "DCX multi-page PCX", convertDcx});

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

// This process's own limits for the conversion: its address space and the size of any file it
// writes (a larger write fails as a full disk instead of ending the process), and a terminating
// signal removes what it leaves half done.
void applyOwnLimits(const ConversionLimits& limits) {
    cleanUpOnSignals();
    std::signal(SIGXFSZ, SIG_IGN);
    const auto set = [](int resource, std::uint64_t bytes) {
        const struct rlimit r { rlim_t(bytes), rlim_t(bytes) };
        ::setrlimit(resource, &r);
    };
    set(RLIMIT_FSIZE, std::uint64_t(limits.fileMb) << 20);
    if (kAddressSpaceLimited) set(RLIMIT_AS, std::uint64_t(limits.memoryMb) << 20);
}

// The request from the arguments of to-fax; an exit status when they cannot be used.
std::optional<int> parseToFax(const std::vector<std::string>& args, ToFaxRequest& r) {
    std::vector<std::string> positional;
    telvane::cmdline::Parser p;
    p.flag("--fine", r.fine)
        .flag("--wide", r.wide)
        .flag("--small-font", r.smallFont)
        .flag("--no-center", r.center, false)
        .flag("--no-double", r.doubleWidth, false)
        .flag("--half-height", r.halfHeight)
        .text("--type", r.type)
        .text("--station-id", r.stationId)
        .text("--cover", r.cover)
        .text("--font", r.font)
        .number("--top-margin", r.topMargin, 0, kMaxOptionNumber)
        .number("--left-margin", r.leftMargin, 0, kMaxOptionNumber)
        .number("--lines-per-page", r.linesPerPage, 0, kMaxOptionNumber)
        .number("--tab-stop", r.tabStop, 1, 255, "a number from 1 to 255")
        .operands(positional)
        .loneDashIsOperand();
    if (const std::optional<int> status = usageOf(p.parse(args))) return status;
    if (positional.size() != 2) return usageError("to-fax needs INPUT and OUTPUT.OVF");
    r.input = positional[0];
    r.output = positional[1];
    return std::nullopt;
}

// The input type named by --type, else the one of the input's extension.
const InputType* inputTypeOf(const ToFaxRequest& r) {
    const std::string ext = lowerExtension(r.input);
    for (const InputType& t : inputTypes()) {
        if (!r.type.empty() ? t.name == r.type
                            : std::find(t.extensions.begin(), t.extensions.end(), ext) != t.extensions.end())
            return &t;
    }
    return nullptr;
}

// Runs the conversion under its limits; its exit status, the failure reported.
int convertUnderLimits(const InputType& type, ToFaxRequest& r) {
    std::string message;
    if (!readLimits(r.limits, message)) return usageError(message);
    applyOwnLimits(r.limits);
    int rc = 0;
    try {
        rc = type.convert(r, message);
    } catch (const std::bad_alloc&) {
        message = r.input + ": the conversion ran out of memory" + limitHint("memory", r.limits.memoryMb);
    }
    if (!message.empty()) {
        std::cerr << "telvane-faxconv: " << message << "\n";
        return kExitFailed;
    }
    if (rc == telvane::ecOutOfMemory) {
        std::cerr << "telvane-faxconv: " << r.input << ": the conversion ran out of memory"
                  << limitHint("memory", r.limits.memoryMb) << "\n";
        return kExitFailed;
    }
    if (rc == telvane::ecDiskFull) {
        std::cerr << "telvane-faxconv: " << r.output << ": the disk is full or the fax file grew beyond its limit"
                  << limitHint("file", r.limits.fileMb) << "\n";
        return kExitFailed;
    }
    return rc == 0 ? kExitOk : fail(rc, r.input);
}

int runToFax(const std::vector<std::string>& args) {
    ToFaxRequest r;
    if (const std::optional<int> status = parseToFax(args, r)) return *status;
    const InputType* type = inputTypeOf(r);
    if (!type)
        return usageError(r.type.empty() ? "cannot tell the input type of '" + r.input + "': use --type"
                                         : "unknown input type '" + r.type + "'");
    return convertUnderLimits(*type, r);
}

const FaxconvCommandRegistrar toFax(
    {"to-fax",
     "to-fax INPUT OUTPUT.OVF [--type TYPE] [--fine] [--wide] [--station-id ID] [--cover COVER.rtf]\n"
     "         [--top-margin N] [--left-margin N] [--lines-per-page N] [--tab-stop N]\n"
     "         [--small-font] [--font FAMILY[:POINTS]] [--no-center] [--no-double] [--half-height]",
     runToFax});

}  // namespace

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

}  // namespace faxconv
