// The pages of one outgoing fax as the senders of every class see them: the cover and main fax
// files, the page plan (a text cover page or a page of a fax file), and the header line and text
// cover drawn into coded lines with the bitmap font or the enhanced fonts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "faximage/mhcoder.h"
#include "faximage/ovffile.h"
#include "faximage/faxinput.h"
#include "transport/fax/faxframework.h"

namespace telvane::transport {

class TOvxCustomSendFax;

// Left margin of the header line and a text cover, in pels.
inline constexpr int kHeaderMargin = 16;

// Appends one coded line padded with zero bytes to `minBytes`, DLE doubled.
void appendPaddedLine(const uint8_t* line, size_t len, size_t minBytes, std::vector<uint8_t>& out);

// One page to send: a text cover page or a page of a fax file.
struct TPagePlan {
    bool TextCover = false;
    int File = 0;  // 0 cover fax file, 1 main fax file
    int Page = 0;
};

class TFaxPages {
public:
    explicit TFaxPages(TOvxCustomSendFax& send) : send_(send) {}

    // Opens the cover (a fax file, or a text file drawn as a cover page) and the main fax file and
    // plans their pages; 0 or an error code.
    int load(const std::string& file, const std::string& cover, const std::string& faxFileExt);
    // Checks that every planned page lies within its file (a damaged file is refused before the
    // call) and prepares the text renderers; 0 or an error code.
    int verify(const std::string& file, const std::string& cover);
    // Whether page `index` of the plan is fine / 2048 pels wide (a text cover is neither).
    bool pageFine(size_t index) const;
    bool pageWide(size_t index) const;
    // Whether a station that takes fine resolution (`fine`) and 2048-pel lines (`wide`) as
    // stated can take every planned page.
    bool fitFor(bool fine, bool wide) const;
    // Makes the renderers this fax needs and checks that they can be used at every resolution of
    // its pages, so that a font that cannot be used fails the fax before the call is made.
    int prepareText();
    // Draws `text` with `renderer` and appends its coded lines, each padded to `minBytes`.
    int renderText(telvane::faximage::FaxTextRenderer& renderer, const std::string& text, bool fine, int minBytes,
                   std::vector<uint8_t>& out);
    // The values of the header and cover tokens for page `pageIndex`.
    THeaderValues pageValues(size_t pageIndex) const;

    mutable telvane::faximage::OvfReader reader[2];  // 0 cover fax file, 1 main fax file
    bool coverIsFax = false;
    std::vector<TPagePlan> plan;
    std::vector<std::string> coverLines;
    // Header line and text cover renderers (the bitmap font, or the enhanced fonts).
    std::unique_ptr<telvane::faximage::FaxTextRenderer> headerText, coverText;
    std::unique_ptr<telvane::faximage::FaxLineCoder> coder;

private:
    TOvxCustomSendFax& send_;
};

}  // namespace telvane::transport
