// The system-font text renderer behind idTextEx (offscreen Qt).
#include "faximage/faxconverter.h"
#include "errors/errors.h"
#include "faximage/faxunpacker.h"
#include "faximage/qtfont/qtfonttext.h"
#include "faximage/testutil.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

using namespace telvane;
using namespace telvane::faximage;
using namespace faxtest;

namespace {

class QtFontTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "faximage_gui";
        static char* argv[] = {name, nullptr};
        if (!QGuiApplication::instance()) new QGuiApplication(argc, argv);
    }
    static QFont font(double points) {
        QFont f("Liberation Sans");
        f.setPointSizeF(points);
        return f;
    }
};

long ink(const Raster& r) {
    long n = 0;
    for (std::uint8_t b : r.bits) n += __builtin_popcount(b);
    return n;
}

}  // namespace

TEST_F(QtFontTest, StandardResolutionDoublesPelsAndFineDoublesTheFont) {
    QtFontTextRenderer standard(font(12)), fine(font(12));
    ASSERT_EQ(standard.prepare(false, 1728, 50), 0);
    ASSERT_EQ(fine.prepare(true, 1728, 50), 0);
    EXPECT_EQ(standard.maxWidth(), 1678);
    EXPECT_GT(fine.rowCount(), standard.rowCount() * 3 / 2);
    Raster a, b;
    standard.renderLine("Hello, fax", a);
    fine.renderLine("Hello, fax", b);
    EXPECT_EQ(a.height, standard.rowCount());
    EXPECT_GT(ink(a), 50);
    EXPECT_GT(ink(b), 50);
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x + 1 < a.width; x += 2) ASSERT_EQ(a.pixel(x, y), a.pixel(x + 1, y)) << x << "," << y;
}

TEST_F(QtFontTest, TooLargeFontIsRefused) {
    QtFontTextRenderer huge(font(300));
    EXPECT_EQ(huge.prepare(true, 1728, 50), errors::ecEnhFontTooBig);
}

TEST_F(QtFontTest, ConverterDrawsTextWithTheSystemFont) {
    TempDir dir;
    writeFile(dir.file("t.txt"), Bytes{'F', 'a', 'x', '\n', 'T', 'w', 'o'});
    TOvxFaxConverter c;
    c.InputDocumentType = idTextEx;
    c.setDocumentFile(dir.file("t.txt"));
    EXPECT_EQ(c.convert(), errors::ecFontFileNotFound);  // no font given
    auto renderer = std::make_shared<QtFontTextRenderer>(font(10));
    c.EnhFont = renderer;
    ASSERT_EQ(c.convert(), 0);
    TOvxFaxUnpacker u;
    u.setInFileName(dir.file("t.OVF"));
    Raster page;
    bool fine = true;
    ASSERT_EQ(u.unpackPageToRaster(1, page, fine), 0);
    EXPECT_FALSE(fine);
    EXPECT_EQ(page.height, 2 * renderer->rowCount());
    EXPECT_GT(ink(page), 100);
}
