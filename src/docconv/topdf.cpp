// The to-fax input types "pdf" and "ps": every page of a PDF document rendered by
// Poppler at fax resolution, the page width scaled to the fax line (1728 pels, 2048 with
// --wide) and the height in proportion (A4 and Letter both fill the line); PostScript is
// turned into PDF by Ghostscript first. Poppler draws each page straight to one bit a pel (grey
// through its halftone screen), so a page costs a fax page's bits, not a colour bitmap's, and
// draws on a thread of its own while the page before is coded. Every
// conversion keeps to its limits (docconv.h): the page count is checked at open, each page's size
// before it is drawn, the time of each drawing and of Ghostscript's run as they go; Ghostscript
// runs as a child with its own memory and file limits and dies with this process.
#include "docconv/docconv.h"

#include "faximage/childprocess.h"
#include "faximage/faxconverter.h"
#include "faximage/signalcleanup.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-image.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>

#include <unistd.h>

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

// Feeds the pages of a PDF document as lines of packed bits. A thread of its own draws the pages
// in order, at most one page ahead of the page being read, so that drawing and the coding of
// the lines before share the machine's processors; memory stays at three pages at most. The
// thread is the only user of the document while it runs.
class PdfPages {
public:
    PdfPages(poppler::document& doc, const ToFaxRequest& r, int lineWidth, double rowsPerInchFactor)
        : doc_(doc),
          request_(r),
          width_(lineWidth),
          rowFactor_(rowsPerInchFactor),
          maxLines_(r.limits.lines),
          pageCount_(doc.pages()) {
        // Drawn straight to one bit a pel, as the fax has it: no colour page to blend, copy and
        // threshold, and a page image a thirty-second of the size.
        renderer_.set_image_format(poppler::image::format_mono);
        poppler::set_debug_error_function(&PdfPages::noteError, this);
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
        // Poppler calls whatever is set, so a later document's errors need a function to go to.
        poppler::set_debug_error_function(&PdfPages::ignoreError, nullptr);
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
            if (failed) return;
        }
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
        std::unique_ptr<poppler::page> page(doc_.create_page(index));
        if (!page) {
            error = "cannot read " + name;
            return;
        }
        Scale scale;
        if (!fitToLine(*page, name, scale, error)) return;
        const poppler::image img = draw(*page, name, scale);
        // A page Poppler could not draw comes back invalid or of another size (often one line).
        if (!img.is_valid() || img.format() != poppler::image::format_mono || std::abs(img.width() - width_) > 2 ||
            std::abs(img.height() - scale.rows) > 2) {
            error = "cannot render " + name + (renderError_.empty() ? "" : " (" + renderError_ + ")");
            return;
        }
        takeRows(img, out);
    }

    // The page's scale to the fax line; false (and why) for a page too small or too long.
    bool fitToLine(const poppler::page& page, const std::string& name, Scale& scale, std::string& error) const {
        // Poppler draws the crop box, so that is what is scaled to the fax line.
        const poppler::rectf box = page.page_rect(poppler::crop_box);
        const bool turned =
            page.orientation() == poppler::page::landscape || page.orientation() == poppler::page::seascape;
        const double widthPt = turned ? box.height() : box.width();
        const double heightPt = turned ? box.width() : box.height();
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

    // Poppler's drawing of the page, within the time limit.
    poppler::image draw(const poppler::page& page, const std::string& name, const Scale& scale) {
        renderError_.clear();
        const int seconds = request_.limits.seconds;
        failOnSignal(SIGALRM, "telvane-faxconv: " + request_.input + ": " + name + " took longer than " +
                                  std::to_string(seconds) + " seconds to draw" + limitHint("seconds", seconds));
        ::alarm(unsigned(seconds));
        poppler::image img = renderer_.render_page(&page, scale.xdpi, scale.ydpi);
        ::alarm(0);
        return img;
    }

    // The drawn page as the fax's rows.
    void takeRows(const poppler::image& img, Page& out) const {
        const int height = img.height();
        const std::size_t stride = std::size_t(width_ + 7) / 8;
        const std::size_t copied = std::min(stride, std::size_t(img.width() + 7) / 8);
        // Poppler's one-bit pixels are set for white; a fax pel is set for black. Pels past the
        // drawn width (at most two) stay white.
        const int cols = std::min(img.width(), width_);
        const std::uint8_t lastMask = std::uint8_t(0xFF00 >> (cols % 8 ? cols % 8 : 8));
        out.rows.assign(stride * std::size_t(height), 0);
        out.height = height;
        for (int y = 0; y < height; ++y) {
            const auto* src =
                reinterpret_cast<const std::uint8_t*>(img.const_data()) + std::size_t(y) * img.bytes_per_row();
            std::uint8_t* dst = out.rows.data() + stride * std::size_t(y);
            for (std::size_t i = 0; i < copied; ++i) dst[i] = std::uint8_t(~src[i]);
            dst[std::size_t(cols - 1) / 8] &= lastMask;
        }
    }

    static void ignoreError(const std::string&, void*) {}

    // Poppler's last complaint, named in the error when a page cannot be drawn.
    static void noteError(const std::string& message, void* self) {
        static_cast<PdfPages*>(self)->renderError_ = message;
    }

    static std::string points(double v) { return fixed(v, 1); }
    static std::string inches(double pt) { return fixed(pt / 72.0, 1); }
    static std::string fixed(double v, int decimals) {
        char text[64];
        std::snprintf(text, sizeof text, "%.*f", decimals, v);
        return text;
    }

    poppler::document& doc_;
    const ToFaxRequest& request_;
    poppler::page_renderer renderer_;
    int width_;
    double rowFactor_;
    int maxLines_;
    const int pageCount_;
    std::string renderError_;  // the drawing thread's
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
    std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(pdf));
    if (!doc) {
        message = "cannot read '" + r.input + "' as a PDF document";
        return 0;
    }
    if (doc->is_locked()) {
        message = "'" + r.input + "' is protected by a password";
        return 0;
    }
    if (doc->pages() < 1) {
        message = "'" + r.input + "' has no pages";
        return 0;
    }
    if (doc->pages() > r.limits.pages) {
        message = "'" + r.input + "' has " + std::to_string(doc->pages()) + " pages, more than a fax can have" +
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
