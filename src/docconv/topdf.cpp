// The to-fax input types "pdf" and "ps": every page of a PDF document rendered by
// Poppler at fax resolution, the page width scaled to the fax line (1728 pels, 2048 with
// --wide) and the height in proportion (A4 and Letter both fill the line); PostScript is
// turned into PDF by Ghostscript first. Poppler's Splash device draws each page straight to one
// bit a pel (grey through its halftone screen), so a page costs a fax page's bits, not a colour
// bitmap's; one device draws every page, so a font's glyphs are rasterised once, not once a page,
// and plain black glyphs are filled a byte at a time. Pages draw on a thread of their own while
// the page before is coded. Every conversion keeps to its limits (docconv.h): the page count is
// checked at open, each page's size before it is drawn, the time of each drawing and of
// Ghostscript's run as they go; Ghostscript runs as a child with its own memory and file limits
// and dies with this process.
#include "docconv/docconv.h"

#include "faximage/childprocess.h"
#include "faximage/faxconverter.h"
#include "faximage/signalcleanup.h"

#include <Error.h>
#include <ErrorCodes.h>
#include <GlobalParams.h>
#include <PDFDoc.h>
#include <Page.h>
#include <SplashOutputDev.h>
#include <goo/GooString.h>
#include <goo/gmem.h>
#include <splash/Splash.h>
#include <splash/SplashBitmap.h>
#include <splash/SplashClip.h>
#include <splash/SplashFont.h>
#include <splash/SplashGlyphBitmap.h>
#include <splash/SplashMath.h>
#include <splash/SplashPattern.h>

#include <unistd.h>

#include <array>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace telvane::docconv {

using namespace telvane::faximage;

namespace {

// The smallest page side scaled to the fax line: half an inch. A smaller page (a tiny crop box)
// would be magnified beyond anything readable and Poppler cannot draw it.
constexpr double kMinPageSidePt = 36.0;

// Where Poppler's complaints go on this thread: the last one is kept to name in a failure.
thread_local std::string* t_popplerError = nullptr;

void notePopplerError(ErrorCategory, Goffset, const char* message) {
    if (t_popplerError) *t_popplerError = message;
}

// Poppler's global state, made once for the process before any document is opened.
void startPoppler() {
    static std::once_flag once;
    std::call_once(once, [] {
        globalParams = std::make_unique<GlobalParams>();
        setErrorCallback(&notePopplerError);
    });
}

std::unique_ptr<PDFDoc> openPdf(const std::string& path) {
    startPoppler();
    return std::make_unique<PDFDoc>(std::make_unique<GooString>(path));
}

// Poppler's one-bit drawing device, with a faster way to fill the commonest glyph: opaque black
// text, filled only, on the page itself and wholly inside the clip's rectangle. Poppler fills
// a glyph a pel at a time through its general pixel pipe, though such a glyph only clears bits
// (a set bit is white), which this does a byte at a time with the same glyph bitmap at the same
// place. Anything else (colour, grey, patterns, transparency, transfer functions, clip paths,
// stroked or clipping text, and the first glyph after any change that may change the font) is
// left to Poppler's own drawing.
class FaxPageDevice : public SplashOutputDev {
public:
    FaxPageDevice() : SplashOutputDev(splashModeMono1, 4, false, white().data()) {
        // Poppler's own settings for a one-bit page: no anti-aliasing or hinting, which one bit
        // a pel cannot show.
        setFontAntialias(false);
        setFreeTypeHinting(false, false);
        setVectorAntialias(false);
    }

    void drawChar(GfxState* state, double x, double y, double dx, double dy, double originX, double originY,
                  CharCode code, int nBytes, const Unicode* u, int uLen) override {
        if (fontReady_ && fillsOpaqueBlack(state) && fillGlyph(x - originX, y - originY, int(code))) return;
        SplashOutputDev::drawChar(state, x, y, dx, dy, originX, originY, code, nBytes, u, uLen);
        // Poppler sets up the font for any text that is not invisible.
        if (state->getRender() != 3) fontReady_ = true;
    }

    // Pages begun, each on a fresh bitmap: a drawing that began none left the last page's.
    int pagesStarted() const { return pagesStarted_; }

    // Whatever may change the font or the state it is drawn in.
    void startPage(int pageNum, GfxState* state, XRef* xref) override {
        SplashOutputDev::startPage(pageNum, state, xref);
        fontReady_ = false;
        ++pagesStarted_;
    }
    void saveState(GfxState* state) override {
        SplashOutputDev::saveState(state);
        fontReady_ = false;
    }
    void restoreState(GfxState* state) override {
        SplashOutputDev::restoreState(state);
        fontReady_ = false;
    }
    void updateAll(GfxState* state) override {
        SplashOutputDev::updateAll(state);
        fontReady_ = false;
    }
    void updateCTM(GfxState* state, double m11, double m12, double m21, double m22, double m31, double m32) override {
        SplashOutputDev::updateCTM(state, m11, m12, m21, m22, m31, m32);
        fontReady_ = false;
    }
    void updateFont(GfxState* state) override {
        SplashOutputDev::updateFont(state);
        fontReady_ = false;
    }
    void updateTextMat(GfxState* state) override {
        SplashOutputDev::updateTextMat(state);
        fontReady_ = false;
    }
    bool beginType3Char(GfxState* state, double x, double y, double dx, double dy, CharCode code, const Unicode* u,
                        int uLen) override {
        fontReady_ = false;
        return SplashOutputDev::beginType3Char(state, x, y, dx, dy, code, u, uLen);
    }
    void endType3Char(GfxState* state) override {
        SplashOutputDev::endType3Char(state);
        fontReady_ = false;
    }

private:
    static std::array<unsigned char, sizeof(SplashColor)> white() {
        std::array<unsigned char, sizeof(SplashColor)> c;
        c.fill(0xFF);
        return c;
    }

    // Whether the glyph would be drawn as plain black pels straight onto the page's bits.
    bool fillsOpaqueBlack(GfxState* state) {
        Splash* splash = getSplash();
        if (!splash || !getCurrentFont() || state->getRender() != 0 || state->getBlendMode() != gfxBlendNormal ||
            state->getFillOpacity() != 1 || state->getFillColorSpace()->isNonMarking())
            return false;
        Function** transfer = state->getTransfer();
        for (int i = 0; i < 4; ++i)
            if (transfer[i]) return false;
        // A transparency group draws into a bitmap of its own, which has an alpha channel.
        SplashBitmap* bitmap = splash->getBitmap();
        if (splash->getSoftMask() || splash->getInNonIsolatedGroup() || splash->getFillAlpha() != 1 || !bitmap ||
            bitmap->getMode() != splashModeMono1 || bitmap->getAlphaPtr())
            return false;
        SplashPattern* pattern = splash->getFillPattern();
        SplashColor colour;
        return pattern && pattern->isStatic() && pattern->getColor(0, 0, colour) && colour[0] == 0;
    }

    // Fills the glyph of `code` at (x, y) in user space as Poppler places it; false (nothing
    // drawn) when its glyph needs Poppler's own filling. Poppler does not export SplashFont's type
    // information, which the undefined-behaviour sanitizer's check of a virtual call needs.
    __attribute__((no_sanitize("vptr"))) bool fillGlyph(double x, double y, int code) {
        Splash* splash = getSplash();
        const SplashCoord* m = splash->getMatrix();
        const SplashCoord xt = x * m[0] + y * m[2] + m[4];
        const SplashCoord yt = x * m[1] + y * m[3] + m[5];
        const int x0 = splashFloor(xt);
        const int y0 = splashFloor(yt);
        const int xFrac = splashFloor((xt - x0) * splashFontFraction);
        const int yFrac = splashFloor((yt - y0) * splashFontFraction);
        SplashGlyphBitmap glyph{};
        SplashClipResult clipRes = splashClipPartial;
        // A glyph the font does not have draws nothing, as in Poppler's own filling.
        if (!getCurrentFont()->getGlyph(code, xFrac, yFrac, &glyph, x0, y0, splash->getClip(), &clipRes)) return true;
        SplashBitmap* bitmap = splash->getBitmap();
        const int left = x0 - glyph.x;
        const int top = y0 - glyph.y;
        const bool ours = clipRes == splashClipAllInside && !glyph.aa && left >= 0 && top >= 0 &&
                          left + glyph.w <= bitmap->getWidth() && top + glyph.h <= bitmap->getHeight();
        if (ours) clearGlyphBits(*bitmap, glyph, left, top);
        if (glyph.freeData) gfree(glyph.data);
        return ours;
    }

    // The glyph's set bits cleared in the bitmap with its top left pel at (left, top).
    static void clearGlyphBits(SplashBitmap& bitmap, const SplashGlyphBitmap& glyph, int left, int top) {
        const int glyphStride = (glyph.w + 7) / 8;
        const int shift = left & 7;
        // The last glyph byte's bits past the glyph's width are not the glyph's.
        const unsigned lastMask = 0xFFu << ((8 - glyph.w % 8) % 8) & 0xFFu;
        for (int yy = 0; yy < glyph.h; ++yy) {
            const unsigned char* src = glyph.data + std::size_t(yy) * std::size_t(glyphStride);
            unsigned char* dst =
                bitmap.getDataPtr() + std::size_t(top + yy) * std::size_t(bitmap.getRowSize()) + std::size_t(left >> 3);
            for (int i = 0; i < glyphStride; ++i) {
                const unsigned bits = (i + 1 == glyphStride ? src[i] & lastMask : src[i]) << (8 - shift);
                dst[i] = static_cast<unsigned char>(dst[i] & ~(bits >> 8));
                // The spill into the next byte, which exists only when some bits spill.
                if (bits & 0xFFu) dst[i + 1] = static_cast<unsigned char>(dst[i + 1] & ~bits);
            }
        }
    }

    bool fontReady_ = false;  // Poppler's current font is the one the next glyph is drawn in
    int pagesStarted_ = 0;
};

// Feeds the pages of a PDF document as lines of packed bits. A thread of its own draws the pages
// in order, at most one page ahead of the page being read, so that drawing and the coding of
// the lines before share the machine's processors; memory stays at three pages at most. The
// thread is the only user of the document while it runs.
class PdfPages {
public:
    PdfPages(PDFDoc& doc, const ToFaxRequest& r, int lineWidth, double rowsPerInchFactor)
        : doc_(doc),
          request_(r),
          width_(lineWidth),
          rowFactor_(rowsPerInchFactor),
          maxLines_(r.limits.lines),
          pageCount_(doc.getNumPages()) {
        drawer_ = std::thread([this] { drawPages(); });
    }
    ~PdfPages() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        drawer_.join();
        ::alarm(0);
    }
    PdfPages(const PdfPages&) = delete;
    PdfPages& operator=(const PdfPages&) = delete;

    // One line into `data`, or the end of a page (with `more` when another page follows).
    bool readLine(std::uint8_t* data, int& len, bool& endOfPage, bool& more, std::string& error) {
        if (!reading_) {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return !drawn_.empty(); });
            current_ = std::move(drawn_.front());
            drawn_.pop_front();
            lock.unlock();
            changed_.notify_all();
            if (current_.outOfMemory) throw std::bad_alloc();
            if (!current_.error.empty()) {
                error = current_.error;
                return false;
            }
            reading_ = true;
        }
        if (row_ < current_.height) {
            const std::size_t stride = std::size_t(width_ + 7) / 8;
            std::memcpy(data, current_.rows.data() + stride * std::size_t(row_), stride);
            len = int(stride);
            ++row_;
            return true;
        }
        endOfPage = true;
        more = page_ + 1 < pageCount_;
        ++page_;
        row_ = 0;
        reading_ = false;
        return true;
    }

private:
    struct Page {
        std::vector<std::uint8_t> rows;
        int height = 0;
        std::string error;
        bool outOfMemory = false;
    };

    void drawPages() {
        t_popplerError = &renderError_;
        device_.startDoc(&doc_);
        for (int p = 0; p < pageCount_; ++p) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [this] { return stop_ || drawn_.empty(); });
                if (stop_) return;
            }
            Page page;
            try {
                renderPage(p, page);
            } catch (const std::bad_alloc&) {
                page = Page{};
                page.outOfMemory = true;
            }
            const bool failed = page.outOfMemory || !page.error.empty();
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                drawn_.push_back(std::move(page));
            }
            changed_.notify_all();
            if (failed) break;
        }
        t_popplerError = nullptr;
    }

    // The drawing resolution that puts the page's width on the fax line, and the rows it makes.
    struct Scale {
        double xdpi = 0;
        double ydpi = 0;
        double rows = 0;
    };

    // Draws page `index` into `out`, or sets out.error.
    void renderPage(int index, Page& out) {
        std::string& error = out.error;
        const std::string name = "page " + std::to_string(index + 1);
        const ::Page* page = doc_.getPage(index + 1);
        if (!page) {
            error = "cannot read " + name;
            return;
        }
        Scale scale;
        if (!fitToLine(*page, name, scale, error)) return;
        const SplashBitmap* img = draw(index, name, scale);
        // A page Poppler could not draw comes back missing or of another size (often one line).
        if (!img || img->getMode() != splashModeMono1 || std::abs(img->getWidth() - width_) > 2 ||
            std::abs(img->getHeight() - scale.rows) > 2) {
            error = "cannot render " + name + (renderError_.empty() ? "" : " (" + renderError_ + ")");
            return;
        }
        takeRows(*img, out);
    }

    // The page's scale to the fax line; false (and why) for a page too small or too long.
    bool fitToLine(const ::Page& page, const std::string& name, Scale& scale, std::string& error) const {
        // Poppler draws the crop box, so that is what is scaled to the fax line.
        const int rotation = (page.getRotate() % 360 + 360) % 360;
        const bool turned = rotation == 90 || rotation == 270;
        const double widthPt = turned ? page.getCropHeight() : page.getCropWidth();
        const double heightPt = turned ? page.getCropWidth() : page.getCropHeight();
        if (!(widthPt >= kMinPageSidePt && heightPt >= kMinPageSidePt)) {
            error = name + " is too small to fax (" + points(widthPt) + " x " + points(heightPt) +
                    " points; a page must be at least half an inch, 36 points, each way)";
            return false;
        }
        scale.xdpi = width_ * 72.0 / widthPt;
        scale.ydpi = scale.xdpi * rowFactor_;
        scale.rows = heightPt * scale.ydpi / 72.0;
        if (scale.rows > maxLines_) {
            error = name + " is too long for a fax page (" + inches(widthPt) + " x " + inches(heightPt) +
                    " inches would be " + std::to_string(std::llround(scale.rows)) +
                    " lines at the fax width; at most " + std::to_string(maxLines_) + " lines)" +
                    limitHint("lines", maxLines_);
            return false;
        }
        return true;
    }

    // Poppler's drawing of page `index`, within the time limit; the bitmap is the device's until
    // the next page is drawn.
    const SplashBitmap* draw(int index, const std::string& name, const Scale& scale) {
        renderError_.clear();
        const int seconds = request_.limits.seconds;
        failOnSignal(SIGALRM, "telvane-faxconv: " + request_.input + ": " + name + " took longer than " +
                                  std::to_string(seconds) + " seconds to draw" + limitHint("seconds", seconds));
        ::alarm(unsigned(seconds));
        // The crop box, upright, not for printing: what a viewer shows.
        const int started = device_.pagesStarted();
        doc_.displayPage(&device_, index + 1, scale.xdpi, scale.ydpi, 0, false, true, false);
        ::alarm(0);
        return device_.pagesStarted() > started ? device_.getBitmap() : nullptr;
    }

    // The drawn page as the fax's rows.
    void takeRows(const SplashBitmap& img, Page& out) const {
        const int height = img.getHeight();
        const std::size_t stride = std::size_t(width_ + 7) / 8;
        const std::size_t copied = std::min(stride, std::size_t(img.getWidth() + 7) / 8);
        // Poppler's one-bit pixels are set for white; a fax pel is set for black. Pels past the
        // drawn width (at most two) stay white.
        const int cols = std::min(img.getWidth(), width_);
        const std::uint8_t lastMask = std::uint8_t(0xFF00 >> (cols % 8 ? cols % 8 : 8));
        out.rows.assign(stride * std::size_t(height), 0);
        out.height = height;
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* src = img.getDataPtr() + std::size_t(y) * std::size_t(img.getRowSize());
            std::uint8_t* dst = out.rows.data() + stride * std::size_t(y);
            for (std::size_t i = 0; i < copied; ++i) dst[i] = std::uint8_t(~src[i]);
            dst[std::size_t(cols - 1) / 8] &= lastMask;
        }
    }

    static std::string points(double v) { return fixed(v, 1); }
    static std::string inches(double pt) { return fixed(pt / 72.0, 1); }
    static std::string fixed(double v, int decimals) {
        char text[64];
        std::snprintf(text, sizeof text, "%.*f", decimals, v);
        return text;
    }

    PDFDoc& doc_;
    const ToFaxRequest& request_;
    FaxPageDevice device_;  // the drawing thread's
    int width_;
    double rowFactor_;
    int maxLines_;
    const int pageCount_;
    std::string renderError_;  // the drawing thread's: Poppler's last complaint
    // The page being read, by the converter's thread.
    Page current_;
    bool reading_ = false;
    int page_ = 0;
    int row_ = 0;
    // Pages drawn and not yet read, handed over under mutex_.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Page> drawn_;
    bool stop_ = false;
    std::thread drawer_;
};

int convertPdfFile(const std::string& pdf, const ToFaxRequest& r, std::string& message) {
    const std::unique_ptr<PDFDoc> doc = openPdf(pdf);
    if (!doc->isOk() && doc->getErrorCode() == errEncrypted) {
        message = "'" + r.input + "' is protected by a password";
        return 0;
    }
    if (!doc->isOk()) {
        message = "cannot read '" + r.input + "' as a PDF document";
        return 0;
    }
    const int pageCount = doc->getNumPages();
    if (pageCount < 1) {
        message = "'" + r.input + "' has no pages";
        return 0;
    }
    if (pageCount > r.limits.pages) {
        message = "'" + r.input + "' has " + std::to_string(pageCount) + " pages, more than a fax can have" +
                  limitHint("pages", r.limits.pages);
        return 0;
    }
    const int lineWidth = r.wide ? 2048 : 1728;
    // Fax pels are 204 per inch across and 196 (fine) or 98 (normal) rows per inch down.
    PdfPages pages(*doc, r, lineWidth, (r.fine ? 196.0 : 98.0) / 204.0);
    TOvxFaxConverter c;
    c.InputDocumentType = idUser;
    applyPageOptions(c, r);
    c.setOptions(0);
    std::string error;
    c.OnReadUserLine = [&](TOvxFaxConverter&, std::uint8_t* data, int& len, bool& endOfPage, bool& more) {
        if (!error.empty() || !pages.readLine(data, len, endOfPage, more, error)) {
            endOfPage = true;
            more = false;
        }
    };
    const int rc = c.convert();
    if (!error.empty()) {
        std::remove(r.output.c_str());
        message = r.input + ": " + error;
        return 0;
    }
    return rc;
}

}  // namespace

int convertPdf(const ToFaxRequest& r, std::string& message) { return convertPdfFile(r.input, r, message); }

// Runs Ghostscript on the input into a PDF in a private temporary directory (its own temporary
// files go there too, so nothing is left wherever it ends), then converts that PDF.
int convertPostScript(const ToFaxRequest& r, std::string& message) {
    const std::string work = makeWorkDir("telvane-faxconv");
    if (work.empty()) {
        message = "cannot create a temporary directory";
        return 0;
    }
    const int workSlot = removeOnSignal(work, true);
    const std::string pdf = work + "/document.pdf";
    // Ghostscript reads an argument starting with '-' as an option.
    const std::string input = r.input.empty() || r.input[0] != '-' ? r.input : "./" + r.input;
    ChildLimits limits;
    limits.seconds = r.limits.seconds;
    limits.memoryBytes = std::uint64_t(r.limits.memoryMb) << 20;
    limits.fileBytes = std::uint64_t(r.limits.fileMb) << 20;
    limits.tmpDir = work;
    const ChildResult gs = runChild({"gs", "-q", "-P-", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-sDEVICE=pdfwrite",
                                     "-dCompatibilityLevel=1.4", "-sOutputFile=" + pdf, input},
                                    limits);
    int rc = 0;
    if (!gs.started)
        message = "PostScript needs Ghostscript (package ghostscript)";
    else if (gs.timedOut)
        message = "Ghostscript took longer than " + std::to_string(r.limits.seconds) + " seconds on '" + r.input + "'" +
                  limitHint("seconds", r.limits.seconds);
    else if (gs.killedBy(SIGXFSZ))
        message = "Ghostscript's PDF of '" + r.input + "' grew beyond " + std::to_string(r.limits.fileMb) + " MB" +
                  limitHint("file", r.limits.fileMb);
    else if (!gs.exitedWith(0))
        message = "Ghostscript could not convert '" + r.input + "'";
    else
        rc = convertPdfFile(pdf, r, message);
    std::error_code ec;
    std::filesystem::remove_all(work, ec);
    forgetOnSignal(workSlot);
    return rc;
}

}  // namespace telvane::docconv
