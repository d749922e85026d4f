// Paragraph spacing, line pitch and page breaks on the fax page against LibreOffice's layout of
// the same RTF: LibreOffice's PDF is rasterised by Ghostscript at the fax's 204 x 196 pels per inch
// and the rows between text lines are compared with ours, within two rows; the paragraphs on the
// first page must be the same ones.
#include "compose/render/faxrenderer.h"

#include "renderutil.h"
#include "support/pbm.h"
#include "support/peers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace telvane::render;
using rendertest::TempDir;
using telvane::faximage::Raster;

// Tops of the text lines of a page (the first row of each band of ink), above the mark pel our
// pages carry near the bottom corner.
std::vector<int> lineTops(const Raster& page) {
    std::vector<int> tops;
    for (const auto& band : rendertest::inkBands(page, 0, page.height - 2 * kMarkOffset)) tops.push_back(band.first);
    return tops;
}

std::vector<int> pitches(const std::vector<int>& tops) {
    std::vector<int> out;
    for (std::size_t i = 1; i < tops.size(); ++i) out.push_back(tops[i] - tops[i - 1]);
    return out;
}

class Spacing : public ::testing::Test {
protected:
    void SetUp() override {
        rendertest::ensureApp();
        TELVANE_REQUIRE_PEER(
            rendertest::haveTool(QStringLiteral("soffice")) && rendertest::haveTool(QStringLiteral("gs")),
            "LibreOffice and Ghostscript (scripts/deps/tests)");
    }

    // Letter page, half-inch margins (as the editors' page), Arial 12 pt; `paragraph` is the RTF
    // paragraph formatting of every paragraph.
    static std::string letter(const std::string& paragraph, int count, const std::string& text = "Hg Hg Hg") {
        std::string rtf =
            "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}}"
            "\\paperw12240\\paperh15840\\margl720\\margr720\\margt720\\margb720\n";
        for (int i = 0; i < count; ++i) rtf += "\\pard" + paragraph + "\\plain\\f0\\fs24 " + text + "\\par\n";
        return rtf + "}";
    }

    // Pages of our fax for the RTF.
    std::vector<Raster> ours(const std::string& rtf) {
        FaxRenderer r;
        const FaxFileResult res = r.CreateFaxFile(data_.dir(), partsFromRtf({}, QByteArray::fromStdString(rtf)));
        EXPECT_FALSE(res.failed()) << res.errorText.toStdString();
        return rendertest::decodePages(res.fileName);
    }

    // Pages of LibreOffice's PDF of each RTF (one soffice run for all), at 204 x 196 pels per inch.
    std::vector<std::vector<Raster>> libreOffice(const std::vector<std::string>& rtfs) {
        std::string names;
        for (std::size_t i = 0; i < rtfs.size(); ++i) {
            work_.write("doc" + std::to_string(i) + ".rtf", rtfs[i]);
            names += " doc" + std::to_string(i) + ".rtf";
        }
        std::string out;
        EXPECT_EQ(telvane::test::runCapture("cd '" + work_.pathNoSlash() + "' && HOME='" + work_.pathNoSlash() +
                                                "' soffice --headless --convert-to pdf" + names,
                                            &out),
                  0)
            << out;
        std::vector<std::vector<Raster>> documents;
        for (std::size_t i = 0; i < rtfs.size(); ++i) {
            const std::string name = "doc" + std::to_string(i);
            EXPECT_EQ(telvane::test::runCapture("cd '" + work_.pathNoSlash() +
                                                    "' && gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pbmraw -r204x196 "
                                                    "-sOutputFile=" +
                                                    name + "-%d.pbm " + name + ".pdf",
                                                &out),
                      0)
                << out;
            std::vector<Raster> pages;
            telvane::test::PbmImage pbm;
            for (int n = 1; telvane::test::readPbm(work_.file(name + "-" + std::to_string(n) + ".pbm"), pbm); ++n) {
                Raster r(pbm.width, pbm.height);
                std::copy(pbm.bits.begin(), pbm.bits.end(), r.bits.begin());
                pages.push_back(std::move(r));
            }
            documents.push_back(std::move(pages));
        }
        return documents;
    }

    TempDir data_;
    TempDir work_;
};

TEST_F(Spacing, SpaceBeforeAfterLinePitchAndPageBreaksMatchLibreOffice) {
    // Paragraph formatting -> what it is.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "single lines"},        {"\\sa160", "8 pt after"},     {"\\sa320", "16 pt after"},
        {"\\sb320", "16 pt before"}, {"\\sl480", "24 pt at least"}, {"\\sl-360", "18 pt exactly"}};
    std::vector<std::string> rtfs;
    for (const auto& c : cases) rtfs.push_back(letter(c.first, 6));
    // Forty paragraphs with 16 pt after run over two pages.
    rtfs.push_back(letter("\\sa320", 40));
    const std::vector<std::vector<Raster>> theirs = libreOffice(rtfs);
    ASSERT_EQ(theirs.size(), rtfs.size());

    for (std::size_t k = 0; k < cases.size(); ++k) {
        const std::string& what = cases[k].second;
        const std::vector<Raster> a = ours(rtfs[k]);
        ASSERT_FALSE(a.empty()) << what;
        ASSERT_FALSE(theirs[k].empty()) << what;
        const std::vector<int> got = pitches(lineTops(a[0])), want = pitches(lineTops(theirs[k][0]));
        ASSERT_EQ(got.size(), 5u) << what;
        ASSERT_EQ(want.size(), 5u) << what;
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_NEAR(got[i], want[i], 2) << what << ", line " << i + 2 << " (rows from the line before)";
    }

    const std::vector<Raster> a = ours(rtfs.back());
    const std::vector<Raster>& b = theirs.back();
    ASSERT_EQ(a.size(), 2u);
    ASSERT_EQ(b.size(), 2u);
    EXPECT_EQ(lineTops(a[0]).size(), lineTops(b[0]).size()) << "paragraphs on the first page";
    EXPECT_EQ(lineTops(a[1]).size(), lineTops(b[1]).size()) << "paragraphs on the second page";
}

}  // namespace
