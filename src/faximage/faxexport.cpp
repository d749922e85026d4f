// TIFF Class F export through libtiff, and a small PDF writer of our own (zlib for Flate).
#include "faximage/faxexport.h"

#include "errors/errors.h"
#include "faximage/faxunpacker.h"
#include "faximage/ovffile.h"
#include "faximage/pendingfile.h"
#include "faximage/tiffmem.h"

#include <tiffio.h>
#include <zlib.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace telvane::faximage {

int forEachFaxPage(const std::string& ovfPath, int page,
                   const std::function<int(const FaxPageImage&, int index, int count)>& each) {
    TOvxFaxUnpacker unpacker;
    unpacker.setInFileName(ovfPath);
    OvfReader reader;
    int rc = reader.open(ovfPath);
    if (rc != errors::ecOK) return rc;
    const int count = reader.pageCount();
    if (page < 0 || page > count || count == 0) return errors::ecFaxBadFormat;
    const int first = page ? page : 1, last = page ? page : count;
    for (int p = first; p <= last; ++p) {
        FaxPageImage img;
        rc = unpacker.unpackPageToRaster(reader, p, img.raster, img.fine);
        if (rc == errors::ecOK) rc = each(img, p - first, last - first + 1);
        if (rc != errors::ecOK) return rc;
    }
    return errors::ecOK;
}

int loadFaxPages(const std::string& ovfPath, std::vector<FaxPageImage>& pages, int page) {
    pages.clear();
    return forEachFaxPage(ovfPath, page, [&](const FaxPageImage& img, int, int) {
        pages.push_back(img);
        return errors::ecOK;
    });
}

namespace {

int writeTiffPage(TIFF* tif, const FaxPageImage& page, int index, int count) {
    const Raster& r = page.raster;
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(r.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(r.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, 0u);
    TIFFSetField(tif, TIFFTAG_FAXMODE, FAXMODE_CLASSF);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, std::uint32_t(r.height ? r.height : 1));
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 204.0f);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, page.fine ? 196.0f : 98.0f);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_PAGENUMBER, std::uint16_t(index), std::uint16_t(count));
    TIFFSetField(tif, TIFFTAG_SOFTWARE, "Telvane");
    std::vector<std::uint8_t> row(r.stride);
    for (int y = 0; y < r.height; ++y) {
        std::copy(r.row(y), r.row(y) + r.stride, row.begin());
        if (TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0) < 0) return errors::ecDeviceWrite;
    }
    return TIFFWriteDirectory(tif) ? errors::ecOK : errors::ecDeviceWrite;
}

}  // namespace

int writeTiffClassF(const std::string& path, const std::vector<FaxPageImage>& pages) {
    silenceLibtiff();
    if (pages.empty()) return errors::ecBadArgument;
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif) return errors::ecFileAccessDenied;
    int rc = errors::ecOK;
    for (std::size_t i = 0; i < pages.size() && rc == errors::ecOK; ++i)
        rc = writeTiffPage(tif, pages[i], int(i), int(pages.size()));
    TIFFClose(tif);
    if (rc != errors::ecOK) ::unlink(path.c_str());
    return rc;
}

namespace {

// Two numbers with four decimals, rounded down so that renderers rounding page sizes up at
// the page's own resolution land on whole pels.
std::string fmt(const char* f, double a, double b) {
    char buf[96];
    std::snprintf(buf, sizeof buf, f, std::floor(a * 10000) / 10000, std::floor(b * 10000) / 10000);
    return buf;
}

}  // namespace

int writePdf(const std::string& path, const std::vector<FaxPageImage>& pages) {
    if (pages.empty()) return errors::ecBadArgument;
    std::vector<std::uint8_t> out;
    std::vector<std::size_t> offsets;  // of objects 1..n
    auto add = [&](const std::string& s) { out.insert(out.end(), s.begin(), s.end()); };
    auto beginObj = [&](std::size_t num) {
        if (offsets.size() < num) offsets.resize(num);
        offsets[num - 1] = out.size();
        add(std::to_string(num) + " 0 obj\n");
    };
    add("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    const std::size_t n = pages.size();
    // Objects: 1 catalog, 2 pages, then per page: page, content, image.
    beginObj(1);
    add("<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
    beginObj(2);
    std::string kids;
    for (std::size_t i = 0; i < n; ++i) kids += std::to_string(3 + 3 * i) + " 0 R ";
    add("<< /Type /Pages /Count " + std::to_string(n) + " /Kids [ " + kids + "] >>\nendobj\n");
    for (std::size_t i = 0; i < n; ++i) {
        const Raster& r = pages[i].raster;
        const double w = r.width * 72.0 / 204.0;
        const double h = (r.height ? r.height : 1) * 72.0 / (pages[i].fine ? 196.0 : 98.0);
        const std::size_t pageObj = 3 + 3 * i, contentObj = pageObj + 1, imageObj = pageObj + 2;
        beginObj(pageObj);
        add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + fmt("%.4f %.4f", w, h) +
            "] /Resources << /XObject << /Im0 " + std::to_string(imageObj) + " 0 R >> >> /Contents " +
            std::to_string(contentObj) + " 0 R >>\nendobj\n");
        std::string content = "q " + fmt("%.4f 0 0 %.4f", w, h) + " 0 0 cm /Im0 Do Q\n";
        beginObj(contentObj);
        add("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream\nendobj\n");
        uLongf packedSize = compressBound(uLong(r.bits.size()));
        std::vector<std::uint8_t> packed(packedSize);
        if (compress2(packed.data(), &packedSize, r.bits.data(), uLong(r.bits.size()), 9) != Z_OK)
            return errors::ecOutOfMemory;
        packed.resize(packedSize);
        beginObj(imageObj);
        add("<< /Type /XObject /Subtype /Image /Width " + std::to_string(r.width) + " /Height " +
            std::to_string(r.height ? r.height : 1) +
            " /ColorSpace /DeviceGray /BitsPerComponent 1 /Decode [1 0] /Filter /FlateDecode /Length " +
            std::to_string(packed.size()) + " >>\nstream\n");
        out.insert(out.end(), packed.begin(), packed.end());
        add("\nendstream\nendobj\n");
    }
    std::size_t xref = out.size();
    add("xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n");
    for (std::size_t off : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
        add(line);
    }
    add("trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
        std::to_string(xref) + "\n%%EOF\n");
    return writeFileBytes(path, out);
}

int exportFaxToTiff(const std::string& ovfPath, const std::string& tiffPath, int page) {
    silenceLibtiff();
    PendingFile out(tiffPath);
    if (!out.ok()) return errors::ovxIoError(errno, true);
    TIFF* tif = TIFFFdOpen(out.fd(), out.tmp().c_str(), "w");
    if (!tif) return errors::ecFileAccessDenied;
    int rc = forEachFaxPage(ovfPath, page, [&](const FaxPageImage& img, int index, int count) {
        return writeTiffPage(tif, img, index, count);
    });
    TIFFClose(tif);  // closes the descriptor too
    out.release();
    return rc != errors::ecOK ? rc : out.commit();
}

int exportFaxToPdf(const std::string& ovfPath, const std::string& pdfPath, int page) {
    PendingFile out(pdfPath);
    if (!out.ok()) return errors::ovxIoError(errno, true);
    std::vector<std::size_t> offsets;  // of objects 1..n
    auto beginObj = [&](std::size_t num) {
        if (offsets.size() < num) offsets.resize(num);
        offsets[num - 1] = out.written();
        return out.write(std::to_string(num) + " 0 obj\n");
    };
    int rc = forEachFaxPage(ovfPath, page, [&](const FaxPageImage& img, int index, int count) {
        int rc = errors::ecOK;
        const std::size_t i = std::size_t(index);
        if (index == 0) {
            // Objects: 1 catalog, 2 pages, then per page: page, content, image.
            std::string kids;
            for (int k = 0; k < count; ++k) kids += std::to_string(3 + 3 * k) + " 0 R ";
            rc = out.write(std::string("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n"));
            if (rc == errors::ecOK) rc = beginObj(1);
            if (rc == errors::ecOK) rc = out.write(std::string("<< /Type /Catalog /Pages 2 0 R >>\nendobj\n"));
            if (rc == errors::ecOK) rc = beginObj(2);
            if (rc == errors::ecOK)
                rc = out.write("<< /Type /Pages /Count " + std::to_string(count) + " /Kids [ " + kids +
                               "] >>\nendobj\n");
        }
        const Raster& r = img.raster;
        const double w = r.width * 72.0 / 204.0;
        const double h = (r.height ? r.height : 1) * 72.0 / (img.fine ? 196.0 : 98.0);
        const std::size_t pageObj = 3 + 3 * i, contentObj = pageObj + 1, imageObj = pageObj + 2;
        if (rc == errors::ecOK) rc = beginObj(pageObj);
        if (rc == errors::ecOK)
            rc = out.write("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + fmt("%.4f %.4f", w, h) +
                           "] /Resources << /XObject << /Im0 " + std::to_string(imageObj) + " 0 R >> >> /Contents " +
                           std::to_string(contentObj) + " 0 R >>\nendobj\n");
        const std::string content = "q " + fmt("%.4f 0 0 %.4f", w, h) + " 0 0 cm /Im0 Do Q\n";
        if (rc == errors::ecOK) rc = beginObj(contentObj);
        if (rc == errors::ecOK)
            rc = out.write("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
                           "endstream\nendobj\n");
        uLongf packedSize = compressBound(uLong(r.bits.size()));
        std::vector<std::uint8_t> packed(packedSize);
        if (rc == errors::ecOK && compress2(packed.data(), &packedSize, r.bits.data(), uLong(r.bits.size()), 9) != Z_OK)
            rc = errors::ecOutOfMemory;
        if (rc == errors::ecOK) rc = beginObj(imageObj);
        if (rc == errors::ecOK)
            rc = out.write("<< /Type /XObject /Subtype /Image /Width " + std::to_string(r.width) + " /Height " +
                           std::to_string(r.height ? r.height : 1) +
                           " /ColorSpace /DeviceGray /BitsPerComponent 1 /Decode [1 0] /Filter /FlateDecode /Length " +
                           std::to_string(packedSize) + " >>\nstream\n");
        if (rc == errors::ecOK) rc = out.write(packed.data(), packedSize);
        if (rc == errors::ecOK) rc = out.write(std::string("\nendstream\nendobj\n"));
        return rc;
    });
    if (rc != errors::ecOK) return rc;
    const std::size_t xref = out.written();
    std::string tail = "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t off : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
        tail += line;
    }
    tail += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
            std::to_string(xref) + "\n%%EOF\n";
    rc = out.write(tail);
    return rc != errors::ecOK ? rc : out.commit();
}

int exportFaxToPbm(const std::string& ovfPath, const std::string& pbmPath, int page) {
    PendingFile out(pbmPath);
    if (!out.ok()) return errors::ovxIoError(errno, true);
    int rc = forEachFaxPage(ovfPath, page, [&](const FaxPageImage& img, int, int) {
        const Raster& r = img.raster;
        int rc = out.write("P4\n" + std::to_string(r.width) + " " + std::to_string(r.height) + "\n");
        return rc != errors::ecOK ? rc : out.write(r.bits.data(), r.bits.size());
    });
    return rc != errors::ecOK ? rc : out.commit();
}

}  // namespace telvane::faximage
