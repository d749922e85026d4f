// libFuzzer target: a whole fax file through the OVF reader and the page decoder, read from an
// in-memory file: every page to a raster through one reader (as the exports do) until the first
// page that fails, and the first and last pages as the viewer shows them.
#include "faximage/faxexport.h"
#include "faximage/faxunpacker.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int fd = memfd_create("ovf", 0);
    if (fd < 0) return 0;
    if (::write(fd, data, size) != static_cast<ssize_t>(size)) {
        ::close(fd);
        return 0;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    telvane::faximage::forEachFaxPage(path, 0, [](const telvane::faximage::FaxPageImage&, int, int) { return 0; });
    telvane::faximage::TOvxFaxUnpacker u;
    u.setInFileName(path);
    const int pages = u.getPageCount();
    telvane::faximage::Raster r;
    if (pages >= 1) u.unpackPageToBitmap(1, r);
    if (pages > 1) u.unpackPageToBitmap(pages, r);
    ::close(fd);
    return 0;
}
