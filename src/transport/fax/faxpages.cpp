// The pages of one outgoing fax (see faxpages.h).
#include "transport/fax/faxpages.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <ctime>

#include "faximage/raster.h"
#include "transport/fax/hdlc.h"
#include "transport/fax/faxsession.h"

namespace telvane::transport {

namespace {

bool endsWithExt(const std::string& name, const std::string& ext) {
    std::string n = name, e = "." + ext;
    for (char& c : n) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (char& c : e) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return n.find(e) != std::string::npos;
}

}  // namespace

void appendPaddedLine(const uint8_t* line, size_t len, size_t minBytes, std::vector<uint8_t>& out) {
    hdlc::escapeDle(line, len, out);
    if (len < minBytes) out.insert(out.end(), minBytes - len, 0);
}

bool TFaxPages::pageFine(size_t index) const {
    const TPagePlan& p = plan[index];
    telvane::faximage::OvfPageHeader ph;
    return !p.TextCover && reader[p.File].seekPage(p.Page, ph) == 0 && ph.fine();
}

bool TFaxPages::pageWide(size_t index) const {
    const TPagePlan& p = plan[index];
    telvane::faximage::OvfPageHeader ph;
    return !p.TextCover && reader[p.File].seekPage(p.Page, ph) == 0 && ph.wide();
}

bool TFaxPages::fitFor(bool fine, bool wide) const {
    for (size_t i = 0; i < plan.size(); ++i) {
        if ((pageFine(i) && !fine) || (pageWide(i) && !wide)) return false;
    }
    return true;
}

int TFaxPages::prepareText() {
    using namespace telvane::faximage;
    headerText.reset();
    coverText.reset();
    if (!coder) coder = std::make_unique<FaxLineCoder>();
    auto make = [this](const TOvxFont& font, std::unique_ptr<FaxTextRenderer>& out) {
        bool haveFactory = false;
        if (send_.EnhTextEnabled) {
            out = TOvxCustomSendFax::makeEnhancedRenderer(font, haveFactory);
            if (haveFactory && !out) return errors::ecFontFileNotFound;
        }
        if (!out) out = std::make_unique<BitmapFontRenderer>(false);
        for (size_t i = 0; i < plan.size(); ++i)
            if (int rc = out->prepare(pageFine(i), 1728, kHeaderMargin)) return rc;
        return 0;
    };
    if (!send_.HeaderLine.empty())
        if (int rc = make(send_.EnhHeaderFont, headerText)) return rc;
    const bool textCover = std::any_of(plan.begin(), plan.end(), [](const TPagePlan& p) { return p.TextCover; });
    if (textCover)
        if (int rc = make(send_.EnhFont, coverText)) return rc;
    return 0;
}

int TFaxPages::renderText(telvane::faximage::FaxTextRenderer& renderer, const std::string& text, bool fine,
                          int minBytes, std::vector<uint8_t>& out, int* rowCount) {
    using namespace telvane::faximage;
    if (int rc = renderer.prepare(fine, 1728, kHeaderMargin)) return rc;
    coder->setup(1728, kHeaderMargin, false);
    Raster rows;
    renderer.renderLine(text, rows);
    std::vector<uint8_t> line(1728 / 8);
    for (int y = 0; y < rows.height; ++y) {
        std::fill(line.begin(), line.end(), 0);
        const size_t copy = std::min(rows.stride, line.size());
        std::copy(rows.row(y), rows.row(y) + copy, line.begin());
        const size_t n = coder->codeLine(line.data());
        appendPaddedLine(coder->data(), n, static_cast<size_t>(minBytes), out);
    }
    if (rowCount) *rowCount = rows.height;
    return 0;
}

THeaderValues TFaxPages::pageValues(size_t pageIndex) const {
    THeaderValues v;
    const std::time_t now = std::time(nullptr);
    v.Date = shortDate(now);
    v.Time = longTime(now);
    v.StationID = send_.StationID();
    v.Recipient = send_.HeaderRecipient;
    v.Title = send_.HeaderTitle;
    v.Sender = send_.HeaderSender;
    v.TotalPages = static_cast<int>(plan.size());
    v.Page = static_cast<int>(pageIndex) + 1;
    return v;
}

int TFaxPages::load(const std::string& file, const std::string& cover, const std::string& faxFileExt) {
    plan.clear();
    coverLines.clear();
    reader[0].close();
    reader[1].close();
    coverIsFax = false;
    if (file.empty() && cover.empty()) {
        return errors::ecNoFilename;
    }
    if (!cover.empty()) {
        coverIsFax = endsWithExt(cover, faxFileExt);
        if (coverIsFax) {
            if (int rc = reader[0].open(cover)) {
                return rc;
            }
            for (int p = 1; p <= reader[0].pageCount(); ++p) plan.push_back({false, 0, p});
        } else {
            std::ifstream in(cover, std::ios::binary);
            if (!in) {
                return -2;
            }
            std::string line;
            while (std::getline(in, line)) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                coverLines.push_back(line);
            }
            plan.push_back({true, 0, 0});
        }
    }
    if (!file.empty()) {
        if (int rc = reader[1].open(file)) {
            return rc;
        }
        for (int p = 1; p <= reader[1].pageCount(); ++p) plan.push_back({false, 1, p});
    }
    if (plan.empty()) {
        return errors::ecFaxBadFormat;
    }
    return 0;
}

int TFaxPages::verify(const std::string& file, const std::string& cover) {
    // Every page must lie within its file: a damaged file is refused before the call.
    std::error_code ec;
    const uintmax_t sizes[2] = {coverIsFax ? std::filesystem::file_size(cover, ec) : 0,
                                file.empty() ? 0 : std::filesystem::file_size(file, ec)};
    for (const TPagePlan& p : plan) {
        telvane::faximage::OvfPageHeader ph;
        if (!p.TextCover &&
            (reader[p.File].seekPage(p.Page, ph) != 0 ||
             reader[p.File].pageOffset() + telvane::faximage::kOvfPageHeaderSize + ph.imageLength > sizes[p.File])) {
            return errors::ecFaxBadFormat;
        }
    }
    return prepareText();
}

}  // namespace telvane::transport
