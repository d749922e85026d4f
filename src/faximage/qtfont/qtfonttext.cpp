// Qt rendering of text lines for the page encoder.
#include "faximage/qtfont/qtfonttext.h"

#include "errors/errors.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QString>

namespace telvane::faximage {

int QtFontTextRenderer::prepare(bool fine, int pageWidth, int leftMargin) {
    fine_ = fine;
    scaled_ = font_;
    if (fine) {
        if (font_.pixelSize() > 0)
            scaled_.setPixelSize(font_.pixelSize() * 2);
        else
            scaled_.setPointSizeF(font_.pointSizeF() * 2);
    }
    QFontMetrics fm(scaled_);
    rows_ = fm.height();
    ascent_ = fm.ascent();
    maxWidth_ = pageWidth - leftMargin > 0 ? pageWidth - leftMargin : 0;
    if (rows_ <= 0) return errors::ecFontFileNotFound;
    if (std::int64_t(pageWidth / 8) * rows_ > 65536) return errors::ecEnhFontTooBig;
    return errors::ecOK;
}

void QtFontTextRenderer::renderLine(std::string_view text, Raster& out) {
    const int scale = fine_ ? 1 : 2;
    const int drawWidth = maxWidth_ / scale;
    out = Raster(maxWidth_, rows_);
    if (drawWidth <= 0 || rows_ <= 0) return;
    QImage img(drawWidth, rows_, QImage::Format_Grayscale8);
    img.fill(255);
    {
        QPainter p(&img);
        p.setFont(scaled_);
        p.setPen(Qt::black);
        p.drawText(0, ascent_, QString::fromLatin1(text.data(), qsizetype(text.size())));
    }
    for (int y = 0; y < rows_; ++y) {
        const uchar* src = img.constScanLine(y);
        std::uint8_t* dst = out.row(y);
        for (int x = 0; x < drawWidth; ++x) {
            if (src[x] >= 128) continue;
            for (int k = 0; k < scale; ++k) {
                int ox = x * scale + k;
                dst[ox >> 3] |= std::uint8_t(0x80 >> (ox & 7));
            }
        }
    }
}

}  // namespace telvane::faximage
