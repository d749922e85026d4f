// telvane-faxconv from-fax and info: fax files to images (PBM as transmitted, BMP/PCX as the
// decoder shows a page, DCX of every page, TIFF Class F, PDF) and a description of a fax file.
#include "faxconv.h"

#include "faximage/mhdecoder.h"
#include "faximage/ovffile.h"

#include <cstdio>
#include <fstream>
#include <iostream>

namespace faxconv {

namespace {

using namespace telvane::faximage;

int runFromFax(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    int page = 0;
    telvane::cmdline::Parser p;
    p.number("--page", page, 1, kMaxOptionNumber, "a page number from 1").operands(positional).loneDashIsOperand();
    if (const std::optional<int> status = usageOf(p.parse(args))) return *status;
    if (positional.size() != 2) return usageError("from-fax needs INPUT.OVF and OUTPUT");
    const std::string& in = positional[0];
    const std::string& out = positional[1];
    if (!isFromFaxOutput(out)) return usageError("OUTPUT must end in .pbm, .bmp, .pcx, .dcx, .tif or .pdf");
    const int rc = convertFromFax(in, out, page);
    return rc == 0 ? kExitOk : fail(rc, in);
}

class CountingSink : public FaxLineSink {
public:
    void faxLine(const std::uint8_t*, std::size_t) override {}
};

int runInfo(const std::vector<std::string>& args) {
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-') return usageError("info needs FILE.OVF");
    OvfReader reader;
    int rc = reader.open(args[0]);
    if (rc != 0) return fail(rc, args[0]);
    const OvfFileHeader& h = reader.header();
    std::uint32_t c = h.created;
    char created[64] = "unknown";
    if (c != 0)
        std::snprintf(created, sizeof created, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (c >> 25), (c >> 21) & 15,
                      (c >> 16) & 31, (c >> 11) & 31, (c >> 5) & 63, (c & 31) * 2);
    std::cout << "File:              " << args[0] << "\n"
              << "Created:           " << created << "\n"
              << "Sender ID:         \"" << escapeControlBytes(h.senderId) << "\"\n"
              << "Pages:             " << h.pageCount << "\n"
              << "First page offset: " << h.firstPageOffset << "\n";
    for (int p = 1; p <= h.pageCount; ++p) {
        OvfPageHeader ph;
        rc = reader.seekPage(p, ph);
        if (rc != 0) return fail(rc, "page " + std::to_string(p));
        CountingSink sink;
        FaxLineDecoder decoder(&sink);
        rc = reader.readPageData([&](const std::uint8_t* d, std::size_t n) { return !decoder.feed(d, n); });
        if (rc != 0) return fail(rc, "page " + std::to_string(p));
        if (!decoder.pageEnded()) decoder.finish();
        std::cout << "Page " << p << ": offset " << reader.pageOffset() << ", length " << ph.imageLength << ", flags 0x"
                  << std::hex << ph.imageFlags << std::dec << " (" << (ph.fine() ? "fine" : "standard") << ", "
                  << ph.lineWidth() << " pels, " << (ph.lineRecords() ? "line records" : "raw data") << "), "
                  << decoder.linesDelivered() << " lines" << (decoder.pageEnded() ? "" : ", no page end code")
                  << (decoder.codeErrors() ? ", " + std::to_string(decoder.codeErrors()) + " code errors" : "") << "\n";
    }
    return kExitOk;
}

const FaxconvCommandRegistrar fromFax({"from-fax", "from-fax INPUT.OVF OUTPUT.(pbm|bmp|pcx|dcx|tif|pdf) [--page N]",
                                       runFromFax});
const FaxconvCommandRegistrar info({"info", "info FILE.OVF", runInfo});

}  // namespace

}  // namespace faxconv
