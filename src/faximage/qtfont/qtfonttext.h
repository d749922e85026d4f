// The system-font text renderer of idTextEx (and of the send sessions' enhanced header line):
// draws a line of text with a QFont, white background, thresholded to 1 bit; at standard
// resolution each pel is doubled horizontally, at fine resolution the font size is doubled.
// Needs a QGuiApplication. A font whose line bitmap would exceed 65536 bytes is -8055.
#pragma once

#include "faximage/faxinput.h"

#include <QFont>

namespace telvane::faximage {

class QtFontTextRenderer : public FaxTextRenderer {
public:
    explicit QtFontTextRenderer(const QFont& font) : font_(font) {}
    int prepare(bool fine, int pageWidth, int leftMargin) override;
    int rowCount() const override { return rows_; }
    std::size_t maxChars() const override { return 0; }
    int maxWidth() const override { return maxWidth_; }
    void renderLine(std::string_view text, Raster& out) override;

private:
    QFont font_;
    QFont scaled_;
    bool fine_ = false;
    int rows_ = 0;
    int ascent_ = 0;
    int maxWidth_ = 0;
};

}  // namespace telvane::faximage
