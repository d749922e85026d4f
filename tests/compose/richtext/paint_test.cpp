// Page painting of TRichText at the fax page geometry: pagination with page breaks, every line
// painted exactly once, crisp glyphs, and fonts at their true size at 200 pixels per inch.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <vector>

#include "compose/richtext/trichtext.h"
#include "support/qtapp.h"

using telvane::richtext::TRichText;

namespace {

constexpr int kWidth = 1664;
constexpr int kHeight = 2156;
constexpr int kOffset = 49;
constexpr int kRightLimit = kWidth - kOffset;    // 1615
constexpr int kBottomLimit = kHeight - kOffset;  // 2107

struct Band {
    int top;
    int bottom;  // exclusive
};

struct PageImage {
    QImage image;
    int next = 0;
};

PageImage paint(TRichText& rt, int startLine, QImage blank) {
    PageImage page;
    page.image = std::move(blank);
    page.image.fill(Qt::white);
    QPainter p(&page.image);
    page.next = rt.paintPage(p, kOffset, kOffset, kRightLimit, kBottomLimit, startLine);
    return page;
}

bool isInk(const QImage& img, int x, int y) { return qGray(img.pixel(x, y)) < 128; }

// Horizontal bands of rows that hold ink.
std::vector<Band> inkBands(const QImage& img) {
    std::vector<Band> bands;
    int start = -1;
    for (int y = 0; y < img.height(); ++y) {
        bool ink = false;
        for (int x = 0; x < img.width() && !ink; ++x) ink = isInk(img, x, y);
        if (ink && start < 0) start = y;
        if (!ink && start >= 0) {
            bands.push_back({start, y});
            start = -1;
        }
    }
    if (start >= 0) bands.push_back({start, img.height()});
    return bands;
}

bool onlyBlackAndWhite(const QImage& img) {
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const int g = qGray(img.pixel(x, y));
            if (g != 0 && g != 255) return false;
        }
    }
    return true;
}

QRect inkBox(const QImage& img) {
    QRect box;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            if (isInk(img, x, y)) box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

// 80 lines, a page break, 10 more lines; Arial 10 pt; letters and digits without descenders.
void buildThreePages(TRichText& rt) {
    rt.setPageLayout({12240, 15840, 720, 720, 720, 720});
    rt.setInputAttributes({QStringLiteral("Arial"), 10, 0});
    for (int i = 1; i <= 90; ++i) {
        if (i == 81) {
            rt.insertPageBreak();
        } else if (i > 1) {
            rt.insertPlainText(QStringLiteral("\n"));
        }
        rt.insertPlainText(QStringLiteral("LINE %1 HELLO").arg(i));
    }
}

QImage faxBitmap(double dpi = 0) {
    QImage img(kWidth, kHeight, QImage::Format_RGB32);
    if (dpi > 0) {
        img.setDotsPerMeterX(qRound(dpi / 0.0254));
        img.setDotsPerMeterY(qRound(dpi / 0.0254));
    }
    return img;
}

}  // namespace

TEST(paintPage, ThreePagesEachStartingWhereThePreviousEnded) {
    TRichText rt;
    buildThreePages(rt);
    // As rendering does it: zoom 200 / 96 dpi * 100 = 208 on a bitmap of screen resolution.
    rt.setZooming(208);

    std::vector<PageImage> pages;
    int line = 0;
    std::string starts;
    do {
        pages.push_back(paint(rt, line, faxBitmap()));
        line = pages.back().next;
        starts += " " + std::to_string(line);
        ASSERT_LT(pages.size(), 10u) << "pagination does not end:" << starts;
    } while (line > 0);

    ASSERT_EQ(pages.size(), 3u);
    const int firstEnd = pages[0].next;
    EXPECT_GT(firstEnd, 40);
    EXPECT_LT(firstEnd, 80);
    EXPECT_EQ(pages[1].next, 80) << "the page break must end page 2";
    EXPECT_EQ(pages[2].next, 0);

    // Every line is painted once: each page shows exactly the lines it claims.
    EXPECT_EQ(inkBands(pages[0].image).size(), static_cast<size_t>(firstEnd));
    EXPECT_EQ(inkBands(pages[1].image).size(), static_cast<size_t>(80 - firstEnd));
    EXPECT_EQ(inkBands(pages[2].image).size(), 10u);

    for (const PageImage& page : pages) {
        EXPECT_TRUE(onlyBlackAndWhite(page.image)) << "text must be painted without anti-aliasing";
        const QRect box = inkBox(page.image);
        EXPECT_GE(box.left(), kOffset);
        EXPECT_GE(box.top(), kOffset);
        EXPECT_LT(box.right(), kRightLimit);
        EXPECT_LT(box.bottom(), kBottomLimit);
    }
    // Every page starts its text at the top offset.
    for (const PageImage& page : pages) EXPECT_LT(inkBands(page.image).front().top, kOffset + 15);
}

TEST(paintPage, TenPointArialHasItsTrueSizeAt200Dpi) {
    TRichText rt;
    buildThreePages(rt);
    rt.setZooming(208);
    const PageImage page = paint(rt, 0, faxBitmap());
    const std::vector<Band> bands = inkBands(page.image);
    ASSERT_GE(bands.size(), 2u);
    // Capitals and digits of Arial (Liberation Sans) are 0.716 em high: 10 pt at 200 dpi is an em of
    // 27.8 pixels, so about 19.9 pixels; at screen resolution it would be under 10.
    const int capHeight = bands[0].bottom - bands[0].top;
    EXPECT_GE(capHeight, 18);
    EXPECT_LE(capHeight, 21);
    // Line pitch of Arial is 1.15 em: about 32 pixels.
    const int pitch = bands[1].top - bands[0].top;
    EXPECT_GE(pitch, 30);
    EXPECT_LE(pitch, 34);

    // The same page painted on a bitmap that itself has 200 dpi at zoom 100 is identical.
    TRichText same;
    buildThreePages(same);
    const PageImage direct = paint(same, 0, faxBitmap(200));
    EXPECT_EQ(direct.next, page.next);
    EXPECT_EQ(inkBands(direct.image).size(), bands.size());
}

TEST(paintPage, ShortAndEmptyDocuments) {
    TRichText empty;
    EXPECT_EQ(paint(empty, 0, faxBitmap(200)).next, 0);

    TRichText one;
    one.insertPlainText(QStringLiteral("only line"));
    const PageImage page = paint(one, 0, faxBitmap(200));
    EXPECT_EQ(page.next, 0);
    EXPECT_EQ(inkBands(page.image).size(), 1u);
    // A start line past the end paints nothing.
    const PageImage past = paint(one, 5, faxBitmap(200));
    EXPECT_EQ(past.next, 0);
    EXPECT_TRUE(inkBands(past.image).empty());
}

TEST(paintPage, LongParagraphWrapsAtThePageWidthAndSplitsAcrossPages) {
    TRichText rt;
    rt.setPageLayout({12240, 15840, 720, 720, 720, 720});
    rt.setInputAttributes({QStringLiteral("Arial"), 10, 0});
    QString text;
    for (int i = 0; i < 1500; ++i) text += QStringLiteral("WORD ");
    rt.insertPlainText(text);  // one paragraph, far more than one page
    const PageImage first = paint(rt, 0, faxBitmap(200));
    ASSERT_GT(first.next, 0);
    const QRect box = inkBox(first.image);
    // Text width of the page layout: 7.5 inches = 1500 pixels from the left offset.
    EXPECT_LE(box.right(), kOffset + 1500);
    EXPECT_GT(box.right(), kOffset + 1400);
    const PageImage second = paint(rt, first.next, faxBitmap(200));
    EXPECT_EQ(inkBands(first.image).size(), static_cast<size_t>(first.next));
    const size_t secondLines = inkBands(second.image).size();
    EXPECT_GT(secondLines, 0u);
    EXPECT_EQ(second.next == 0 ? first.next + static_cast<int>(secondLines) : second.next,
              first.next + static_cast<int>(secondLines));
}
