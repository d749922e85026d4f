// telvane-faxconv to-fax: its options, the input type of the document, and the conversion under
// the limits of TELVANE_FAXCONV_LIMITS with any failure reported.
#include "faxconv.h"

#include <iostream>
#include <optional>

namespace faxconv {

namespace {

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

int runToFax(const std::vector<std::string>& args) {
    ToFaxRequest r;
    if (const std::optional<int> status = parseToFax(args, r)) return *status;
    const InputType* type = inputTypeFor(r.input, r.type);
    if (!type)
        return usageError(r.type.empty() ? "cannot tell the input type of '" + r.input + "': use --type"
                                         : "unknown input type '" + r.type + "'");
    std::string error;
    if (!readLimits(r.limits, error)) return usageError(error);
    applyOwnLimits(r.limits);
    const ToFaxResult result = convertToFax(*type, r);
    if (!result.message.empty()) {
        std::cerr << "telvane-faxconv: " << result.message << "\n";
        return kExitFailed;
    }
    return result.code == 0 ? kExitOk : fail(result.code, r.input);
}

const FaxconvCommandRegistrar toFax(
    {"to-fax",
     "to-fax INPUT OUTPUT.OVF [--type TYPE] [--fine] [--wide] [--station-id ID] [--cover COVER.rtf]\n"
     "         [--top-margin N] [--left-margin N] [--lines-per-page N] [--tab-stop N]\n"
     "         [--small-font] [--font FAMILY[:POINTS]] [--no-center] [--no-double] [--half-height]",
     runToFax});

}  // namespace

}  // namespace faxconv
