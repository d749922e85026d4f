// Plain-text input (idText with the bitmap font, idTextEx with a system font renderer).
// Lines end at LF (a CR before it is dropped); a form feed ends the page and the rest of its
// line starts the next one; tabs expand to the next multiple of TabStop; after LinesPerPage
// lines (when not 0) a new page starts. A form feed at the very end of the file, or right where
// a page has just broken at LinesPerPage, does not add an empty page.
#include "errors/errors.h"
#include "faximage/faxinput.h"

#include <algorithm>

namespace telvane::faximage {

namespace {

// Characters kept of one text line: more than fit on the widest fax line in any font.
constexpr std::size_t kMaxTextLineChars = 4096;

class TextSource : public FaxLineSource {
public:
    TextSource(std::string path, FaxTextRenderer* renderer, int linesPerPage, int tabStop)
        : path_(std::move(path)),
          renderer_(renderer),
          linesPerPage_(linesPerPage < 0 ? 0 : linesPerPage),
          tabStop_(tabStop < 1 ? 1 : tabStop) {}

    int open() override {
        if (!renderer_) return errors::ecFontFileNotFound;
        width_ = renderer_->maxWidth();
        return readWholeFile(path_, text_);
    }
    int imageWidth() const override { return width_; }
    int beginPage() override {
        startedByLimit_ = endedByLimit_;
        endedByLimit_ = false;
        linesOnPage_ = 0;
        pageDone_ = false;
        rowsLeft_ = 0;
        return errors::ecOK;
    }
    int readLine(std::uint8_t* line, bool& endOfPage, bool& morePages) override;
    std::uint64_t bytesRead() const override { return pos_; }
    std::uint64_t bytesTotal() const override { return text_.size(); }

private:
    // Reads the next text line; false when the page or the file ends first.
    bool nextTextLine(std::string& out);

    std::string path_;
    FaxTextRenderer* renderer_;
    int linesPerPage_;
    int tabStop_;
    std::vector<std::uint8_t> text_;
    std::size_t pos_ = 0;
    int width_ = 0;
    int linesOnPage_ = 0;
    bool pageDone_ = false;
    bool formFeedPending_ = false;
    bool endedByLimit_ = false;    // the last page ended at LinesPerPage
    bool startedByLimit_ = false;  // this page follows such a page
    Raster rows_;
    int rowsLeft_ = 0;
};

bool TextSource::nextTextLine(std::string& out) {
    out.clear();
    if (linesPerPage_ && linesOnPage_ >= linesPerPage_) {
        endedByLimit_ = true;
        return false;
    }
    if (pos_ >= text_.size()) return false;
    if (formFeedPending_) {
        formFeedPending_ = false;
        return false;
    }
    std::size_t column = 0;
    while (pos_ < text_.size()) {
        char c = char(text_[pos_++]);
        if (c == '\n') break;
        if (c == '\f') {
            // The text before the form feed is this page's last line; the rest of the line starts
            // the next page (a form feed right after a line end only ends the page).
            formFeedPending_ = true;
            if (pos_ < text_.size() && text_[pos_] == '\r') ++pos_;
            if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
            if (out.empty() && column == 0) {
                formFeedPending_ = false;
                if (linesOnPage_ == 0 && startedByLimit_) {
                    // The page already broke at LinesPerPage: the form feed adds no empty page.
                    startedByLimit_ = false;
                    continue;
                }
                return false;
            }
            break;
        }
        if (c == '\r') continue;
        // No fax line holds more characters than kMaxTextLineChars: the rest of a longer
        // line (however far tabs reach) is dropped, so memory stays bounded.
        if (c == '\t') {
            std::size_t to = (column / std::size_t(tabStop_) + 1) * std::size_t(tabStop_);
            if (out.size() < kMaxTextLineChars) out.append(std::min(to - column, kMaxTextLineChars - out.size()), ' ');
            column = to;
            continue;
        }
        if (out.size() < kMaxTextLineChars) out += c;
        ++column;
    }
    ++linesOnPage_;
    return true;
}

int TextSource::readLine(std::uint8_t* line, bool& endOfPage, bool& morePages) {
    if (rowsLeft_ == 0) {
        std::string text;
        if (pageDone_ || !nextTextLine(text)) {
            pageDone_ = true;
            endOfPage = true;
            morePages = pos_ < text_.size();
            return errors::ecOK;
        }
        renderer_->renderLine(text, rows_);
        if (rows_.height == 0) rows_ = Raster(1, 1);
        rowsLeft_ = rows_.height;
    }
    endOfPage = false;
    morePages = false;
    std::size_t bytes = (std::size_t(width_) + 7) / 8;
    std::fill(line, line + bytes, 0);
    const Raster& r = rows_;
    const std::uint8_t* src = r.row(r.height - rowsLeft_);
    std::size_t copy = r.stride < bytes ? r.stride : bytes;
    std::copy(src, src + copy, line);
    --rowsLeft_;
    return errors::ecOK;
}

}  // namespace

std::unique_ptr<FaxLineSource> makeTextSource(const std::string& path, FaxTextRenderer* renderer, int linesPerPage,
                                              int tabStop) {
    return std::make_unique<TextSource>(path, renderer, linesPerPage, tabStop);
}

}  // namespace telvane::faximage
