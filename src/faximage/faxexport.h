// Export of fax files to the formats the rest of the fax world exchanges: multi-page TIFF
// Class F (CCITT Group 3 one-dimensional, 204 x 98 or 204 x 196 dpi as each page says) and PDF
// (one page per fax page, a Flate-compressed 1-bit image sized so that standard and fine pages
// keep their true aspect). Failures delete the partial output.
#pragma once

#include "faximage/raster.h"

#include <functional>
#include <string>
#include <vector>

namespace telvane::faximage {

// A page as transmitted: full line width, one row per coded line.
struct FaxPageImage {
    Raster raster;
    bool fine = false;
};

// Decodes the pages of an OVF file (every page, or only `page` when not 0) one at a time and
// hands each to `each` (with its index from 0 and the number of pages handed in all); the
// page image is freed before the next is decoded. Stops at the first non-zero result.
int forEachFaxPage(const std::string& ovfPath, int page,
                   const std::function<int(const FaxPageImage&, int index, int count)>& each);
// Decodes every page of an OVF file (or only `page` when not 0).
int loadFaxPages(const std::string& ovfPath, std::vector<FaxPageImage>& pages, int page = 0);

int writeTiffClassF(const std::string& path, const std::vector<FaxPageImage>& pages);
int writePdf(const std::string& path, const std::vector<FaxPageImage>& pages);

int exportFaxToTiff(const std::string& ovfPath, const std::string& tiffPath, int page = 0);
int exportFaxToPdf(const std::string& ovfPath, const std::string& pdfPath, int page = 0);
// Raw PBM (P4) images of the pages as transmitted, one after another in one file.
int exportFaxToPbm(const std::string& ovfPath, const std::string& pbmPath, int page = 0);
// The exports decode and write one page at a time (memory of one page image), write into a
// hidden temporary beside the output and rename it into place only when complete.

}  // namespace telvane::faximage
