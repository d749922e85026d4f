// libFuzzer target: a whole fax file through the OVF reader and the page decoder (every page
// to a bitmap), read from an in-memory file.
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
    telvane::faximage::TOvxFaxUnpacker u;
    u.SetInFileName("/proc/self/fd/" + std::to_string(fd));
    int pages = u.GetPageCount();
    // Every page: the reader and decoder bound their own work (page images, page index).
    for (int p = 1; p <= pages; ++p) {
        telvane::faximage::Raster r;
        u.UnpackPageToBitmap(p, r);
    }
    ::close(fd);
    return 0;
}
