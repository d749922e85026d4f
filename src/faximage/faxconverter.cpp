// The page encoder's conversion loop and its input dispatch.
#include "faximage/faxconverter.h"

#include "errors/errors.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

namespace telvane::faximage {

namespace {

std::string replaceExtension(const std::string& name, const std::string& ext) {
    std::size_t slash = name.find_last_of('/');
    std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) return name.substr(0, dot) + ext;
    return name + ext;
}

// Lines supplied by the idUser events; the first line of a page is read ahead so that the
// page's image width is known before coding starts.
class UserSource : public FaxLineSource {
public:
    UserSource(TOvxFaxConverter& f, std::string name) : f_(f), name_(std::move(name)) {}
    int open() override {
        if (!f_.OnReadUserLine) return errors::ecBadArgument;
        if (f_.OnOpenUserFile) f_.OnOpenUserFile(f_, name_);
        return errors::ecOK;
    }
    int beginPage() override {
        fetch();
        return errors::ecOK;
    }
    int imageWidth() const override { return len_ * 8; }
    int readLine(std::uint8_t* line, bool& endOfPage, bool& morePages) override {
        if (!haveLine_) fetch();
        haveLine_ = false;
        endOfPage = endOfPage_;
        morePages = morePages_;
        if (!endOfPage_) std::memcpy(line, buf_, std::size_t(len_));
        return errors::ecOK;
    }
    void close() override {
        if (f_.OnCloseUserFile) f_.OnCloseUserFile(f_);
    }

private:
    void fetch() {
        int len = 0;
        endOfPage_ = false;
        morePages_ = false;
        f_.OnReadUserLine(f_, buf_, len, endOfPage_, morePages_);
        if (!endOfPage_) len_ = len < 0 ? 0 : (len > 4096 ? 4096 : len);
        haveLine_ = true;
    }

    TOvxFaxConverter& f_;
    std::string name_;
    std::uint8_t buf_[4096] = {};
    int len_ = 0;
    bool endOfPage_ = false, morePages_ = false, haveLine_ = false;
};

}  // namespace

void TOvxFaxConverter::setDocumentFile(const std::string& name) {
    documentFile_ = name;
    OutFileName = replaceExtension(name, ".OVF");
}

std::unique_ptr<FaxLineSource> TOvxFaxConverter::makeSource(int& rc) {
    rc = errors::ecOK;
    switch (InputDocumentType) {
    case idBmp: return makeBmpSource(documentFile_);
    case idBitmap:
        if (!Bitmap) rc = errors::ecBadArgument;
        return makeRasterSource(Bitmap);
    case idText:
        bitmapFont_ = std::make_unique<BitmapFontRenderer>(FontType == ffSmall);
        rc = bitmapFont_->prepare(Resolution == frHigh, Width == fwWide ? 2048 : 1728, LeftMargin);
        return makeTextSource(documentFile_, bitmapFont_.get(), LinesPerPage, TabStop);
    case idTextEx:
        if (!EnhFont) {
            rc = errors::ecFontFileNotFound;
            return nullptr;
        }
        rc = EnhFont->prepare(Resolution == frHigh, Width == fwWide ? 2048 : 1728, LeftMargin);
        return makeTextSource(documentFile_, EnhFont.get(), LinesPerPage, TabStop);
    case idTiff: return makeTiffSource(documentFile_);
    case idPcx: return makePcxSource(documentFile_);
    case idDcx: return makeDcxSource(documentFile_);
    case idUser: {
        std::string name = documentFile_;
        std::size_t slash = name.find_last_of('/');
        std::size_t dot = name.find_last_of('.');
        bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
        if (!hasExt && !DefUserExtension.empty()) name += (DefUserExtension[0] == '.' ? "" : ".") + DefUserExtension;
        return std::make_unique<UserSource>(*this, name);
    }
    case idNone:
    default: rc = errors::ecBadArgument; return nullptr;
    }
}

bool TOvxFaxConverter::status(bool starting, bool ending, FaxLineSource& source) {
    if (!OnStatus) return true;
    bool abort = false;
    OnStatus(*this, starting, ending, pages_, lines_, source.bytesRead(), source.bytesTotal(), abort);
    return !abort;
}

int TOvxFaxConverter::emitCoded(const std::uint8_t* data, std::size_t len, bool endOfPage, bool morePages) {
    if (OnOutputLine) {
        OnOutputLine(*this, data, int(len), endOfPage, morePages);
        return errors::ecOK;
    }
    return writer_.appendRecord(data, len);
}

int TOvxFaxConverter::convert() {
    pages_ = 0;
    lines_ = 0;
    int rc;
    std::unique_ptr<FaxLineSource> source = makeSource(rc);
    if (rc != errors::ecOK || !source) return rc != errors::ecOK ? rc : errors::ecBadArgument;
    std::string outName = OutFileName.empty() ? replaceExtension(documentFile_, ".OVF") : OutFileName;
    if (!OnOutputLine) {
        writer_.clock = Clock;
        rc = writer_.createReplacing(outName, StationID);
        if (rc != errors::ecOK) return rc;
    }
    try {
        rc = run(*source, outName);
    } catch (const errors::EOvxException& e) {
        rc = e.ErrorCode() < 0 ? e.ErrorCode() : errors::ecBadArgument;
    } catch (const std::bad_alloc&) {
        rc = errors::ecOutOfMemory;
    }
    source->close();
    if (!OnOutputLine) {
        if (rc == errors::ecOK) {
            writer_.setSenderId(StationID.substr(0, kOvfSenderIdMax));
            rc = writer_.close();  // puts the file in place, or removes it on failure
        } else {
            writer_.abandon();
        }
    }
    return rc;
}

void TOvxFaxConverter::convertFile() {
    int rc = convert();
    if (rc != errors::ecOK) throw errors::EOvxException(rc);
}

int TOvxFaxConverter::run(FaxLineSource& source, const std::string&) {
    if (!status(true, false, source)) return errors::ecConvertAbort;
    int rc = source.open();
    if (rc != errors::ecOK) return rc;
    const bool fine = Resolution == frHigh;
    const int pageWidth = Width == fwWide ? 2048 : 1728;
    const int rowBytes = pageWidth / 8;
    const int lineMargin = LeftMargin < 0 ? 0 : (LeftMargin > pageWidth ? pageWidth : LeftMargin);
    std::uint16_t flags = FAX_LINE_RECORDS | (fine ? FAX_FINE : 0) | (Width == fwWide ? FAX_WIDE : 0);

    std::memset(raster_, 0, sizeof raster_);
    coder_.setup(pageWidth, lineMargin, false);
    std::uint8_t blank[16];
    std::size_t blankLen = coder_.codeLine(raster_);
    std::memcpy(blank, coder_.data(), blankLen);

    bool morePages = true;
    while (morePages) {
        rc = source.beginPage();
        if (rc != errors::ecOK) return rc;
        ++pages_;
        long lineNo = 0;
        const int imageWidth = source.imageWidth() < 0 ? 0 : source.imageWidth();
        // The margin shifts the image right, and the coder scans page width less the margin: an
        // image wider than what is left (a full-width fax page, a PDF page drawn across the line)
        // gets only the margin it leaves, so that none of its right-hand pels is cut off.
        const int margin = std::min(lineMargin, std::max(0, pageWidth - imageWidth));
        const bool doubling = (options_ & coDoubleWidth) && !fine && 2 * imageWidth + 2 * margin <= pageWidth;
        const bool halving = (options_ & coHalfHeight) && !fine && !doubling;
        int offset = 0;
        if (options_ & coCenterImage) {
            offset = doubling ? (pageWidth - (imageWidth + margin) * 2) / 32 : (pageWidth - imageWidth - margin) / 16;
            if (offset < 0) offset = 0;
        }
        coder_.setup(pageWidth, margin, doubling);
        const std::size_t imageBytes = (std::size_t(imageWidth) + 7) / 8;
        const std::size_t copyBytes =
            imageBytes + std::size_t(offset) <= sizeof raster_ ? imageBytes : sizeof raster_ - std::size_t(offset);

        if (!OnOutputLine) {
            rc = writer_.beginPage(flags);
            if (rc != errors::ecOK) return rc;
        }
        for (int i = 0; i < TopMargin; ++i) {
            rc = emitCoded(blank, blankLen, false, false);
            if (rc != errors::ecOK) return rc;
        }
        while (true) {
            bool endOfPage = false;
            std::memset(line_, 0, imageBytes);
            rc = source.readLine(line_, endOfPage, morePages);
            if (rc != errors::ecOK) return rc;
            if (endOfPage) break;
            if (++lineNo > kMaxPageLines) return errors::ecPageTooLong;
            if (halving && lineNo % 2 == 0) continue;
            std::memset(raster_, 0, std::size_t(rowBytes));
            std::memcpy(raster_ + offset, line_, copyBytes);
            std::size_t len = coder_.codeLine(raster_);
            rc = emitCoded(coder_.data(), len, false, false);
            if (rc != errors::ecOK) return rc;
            ++lines_;
            if ((options_ & coYield) && (options_ & coYieldOften) && lines_ % 16 == 0 && OnYield && !OnYield())
                return errors::ecGotQuitMsg;
        }
        rc = emitCoded(kPageEndBlock, sizeof kPageEndBlock, true, morePages);
        if (rc == errors::ecOK && !OnOutputLine) rc = writer_.endPage();
        if (rc != errors::ecOK) return rc;
        if ((options_ & coYield) && OnYield && !OnYield()) return errors::ecGotQuitMsg;
        if (!status(false, false, source)) return errors::ecConvertAbort;
    }
    if (!status(false, true, source)) return errors::ecConvertAbort;
    return errors::ecOK;
}

}  // namespace telvane::faximage
