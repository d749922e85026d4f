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

// The request field an option of the table sets; nullptr for any other option.
template <typename T, std::size_t n>
T* optionField(const std::pair<const char*, T*> (&options)[n], const std::string& name) {
    for (const auto& [option, field] : options)
        if (name == option) return field;
    return nullptr;
}

int runToFax(const std::vector<std::string>& args) {
    ToFaxRequest r;
    const std::pair<const char*, std::string*> textOptions[] = {
        {"--type", &r.type}, {"--station-id", &r.stationId}, {"--cover", &r.cover}, {"--font", &r.font}};
    const std::pair<const char*, int*> numberOptions[] = {
        {"--top-margin", &r.topMargin}, {"--left-margin", &r.leftMargin}, {"--lines-per-page", &r.linesPerPage}};
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        auto number = [&](int& out) {
            std::string v;
            return value(v) && parseInt(v, out);
        };
        if (a == "--fine")
            r.fine = true;
        else if (a == "--wide")
            r.wide = true;
        else if (a == "--small-font")
            r.smallFont = true;
        else if (a == "--no-center")
            r.center = false;
        else if (a == "--no-double")
            r.doubleWidth = false;
        else if (a == "--half-height")
            r.halfHeight = true;
        else if (std::string* text = optionField(textOptions, a)) {
            if (!value(*text)) return usageError(a + " needs a value");
        } else if (int* count = optionField(numberOptions, a)) {
            if (!number(*count)) return usageError(a + " needs a number");
        } else if (a == "--tab-stop") {
            if (!number(r.tabStop) || r.tabStop < 1 || r.tabStop > 255)
                return usageError("--tab-stop needs a number from 1 to 255");
        } else if (a.size() > 1 && a[0] == '-') {
            return usageError("unknown option '" + a + "'");
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 2) return usageError("to-fax needs INPUT and OUTPUT.OVF");
    r.input = positional[0];
    r.output = positional[1];
    const InputType* type = nullptr;
    std::string ext = lowerExtension(r.input);
    for (const InputType& t : inputTypes()) {
        if (!r.type.empty() ? t.name == r.type
                            : std::find(t.extensions.begin(), t.extensions.end(), ext) != t.extensions.end()) {
            type = &t;
            break;
        }
    }
    if (!type)
        return usageError(r.type.empty() ? "cannot tell the input type of '" + r.input + "': use --type"
                                         : "unknown input type '" + r.type + "'");
    std::string message;
    if (!readLimits(r.limits, message)) return usageError(message);
    applyOwnLimits(r.limits);
    int rc = 0;
    try {
        rc = type->convert(r, message);
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
