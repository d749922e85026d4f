// libtiff client procedures over a read-only memory buffer.
#include "faximage/tiffmem.h"

#include <cstring>

namespace telvane::faximage {

namespace {

tmsize_t memRead(thandle_t h, void* buf, tmsize_t size) {
    auto* s = static_cast<TiffMemoryStream*>(h);
    if (size <= 0 || s->pos >= s->size) return 0;
    std::size_t n = std::size_t(size) < s->size - s->pos ? std::size_t(size) : s->size - s->pos;
    std::memcpy(buf, s->data + s->pos, n);
    s->pos += n;
    return tmsize_t(n);
}
tmsize_t memWrite(thandle_t, void*, tmsize_t) { return 0; }
toff_t memSeek(thandle_t h, toff_t off, int whence) {
    auto* s = static_cast<TiffMemoryStream*>(h);
    std::uint64_t base = whence == SEEK_CUR ? s->pos : whence == SEEK_END ? s->size : 0;
    std::uint64_t to = base + off;
    if (to > s->size) to = s->size;
    s->pos = std::size_t(to);
    return to;
}
int memClose(thandle_t) { return 0; }
toff_t memSize(thandle_t h) { return static_cast<TiffMemoryStream*>(h)->size; }
int memMap(thandle_t, void**, toff_t*) { return 0; }
void memUnmap(thandle_t, void*, toff_t) {}

}  // namespace

void silenceLibtiff() {
    static const bool done = [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
        return true;
    }();
    (void)done;
}

namespace {
int countProblem(TIFF*, void* userData, const char*, const char*, va_list) {
    ++static_cast<TiffMemoryStream*>(userData)->problems;
    return 1;  // handled: nothing is printed
}
}  // namespace

TIFF* openTiffInMemory(TiffMemoryStream& stream, const std::uint8_t* data, std::size_t size) {
    silenceLibtiff();
    stream = TiffMemoryStream{data, size, 0, 0};
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options, countProblem, &stream);
    TIFFOpenOptionsSetWarningHandlerExtR(options, countProblem, &stream);
    TIFF* tif = TIFFClientOpenExt("memory", "rm", &stream, memRead, memWrite, memSeek, memClose, memSize, memMap,
                                  memUnmap, options);
    TIFFOpenOptionsFree(options);
    return tif;
}

}  // namespace telvane::faximage
