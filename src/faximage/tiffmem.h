// libtiff over a byte buffer in memory (read-only), with libtiff's messages silenced so that
// bad files show up as our error codes rather than text on stderr.
#pragma once

#include <tiffio.h>

#include <cstddef>
#include <cstdint>

namespace telvane::faximage {

struct TiffMemoryStream {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;
    // Errors and warnings libtiff reported (damaged or truncated coded data); the reader
    // clears it before the calls it checks.
    int problems = 0;
};

// Opens `data` for reading; the stream must outlive the returned handle. nullptr on failure.
TIFF* openTiffInMemory(TiffMemoryStream& stream, const std::uint8_t* data, std::size_t size);
// Turns libtiff's error and warning output off (once per process).
void silenceLibtiff();

}  // namespace telvane::faximage
