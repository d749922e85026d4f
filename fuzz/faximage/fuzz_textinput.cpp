// libFuzzer target: plain text through the page encoder as telvane-faxconv to-fax reads it (form
// feeds, tabs, lines per page, both bitmap fonts, both resolutions and widths). The first byte
// holds the options, the second the tab stop; the rest is the text file.
#include "faximage/faxconverter.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

using namespace telvane::faximage;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int fd = memfd_create("fuzz-text", 0);
    if (fd < 0) return 0;
    if (::write(fd, data + 2, size - 2) != static_cast<ssize_t>(size - 2)) {
        ::close(fd);
        return 0;
    }
    TOvxFaxConverter c;
    c.InputDocumentType = idText;
    c.setDocumentFile("/proc/self/fd/" + std::to_string(fd));
    c.FontType = (data[0] & 1) ? ffSmall : ffStandard;
    c.Resolution = (data[0] & 2) ? frHigh : frNormal;
    c.Width = (data[0] & 4) ? fwWide : fwNormal;
    c.LinesPerPage = (data[0] >> 3) & 7;  // 0 = one page unless a form feed comes
    c.TabStop = data[1] ? data[1] : 999999999;
    long lines = 0;
    c.OnOutputLine = [&](TOvxFaxConverter&, const std::uint8_t*, int len, bool, bool) {
        if (len < 0 || len > 4096) __builtin_trap();
        ++lines;
    };
    c.convert();
    ::close(fd);
    return 0;
}
