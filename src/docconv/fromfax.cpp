// Fax files to images: PBM as transmitted, BMP/PCX as the decoder shows a page, DCX of every
// page, TIFF Class F and PDF (the PBM, TIFF and PDF writers hold one page image at a time).
#include "docconv/docconv.h"

#include "faximage/faxexport.h"
#include "faximage/faxunpacker.h"

namespace telvane::docconv {

using namespace telvane::faximage;

bool isFromFaxOutput(const std::string& path) {
    const std::string ext = lowerExtension(path);
    for (const char* e : {"pbm", "tif", "tiff", "pdf", "bmp", "pcx", "dcx"})
        if (ext == e) return true;
    return false;
}

int convertFromFax(const std::string& in, const std::string& out, int page) {
    const std::string ext = lowerExtension(out);
    if (ext == "pbm") return exportFaxToPbm(in, out, page);
    if (ext == "pdf") return exportFaxToPdf(in, out, page);
    if (ext == "tif" || ext == "tiff") return exportFaxToTiff(in, out, page);
    TOvxFaxUnpacker u;
    u.setInFileName(in);
    u.OutFileName = out;
    if (ext == "bmp") return u.unpackPageToBmp(page ? page : 1);
    if (ext == "pcx") return u.unpackPageToPcx(page ? page : 1);
    return u.unpackFileToDcx();
}

}  // namespace telvane::docconv
