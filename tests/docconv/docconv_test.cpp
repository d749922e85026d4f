// Document conversion as a library: several PDF conversions in one process, good and broken ones
// mixed (a broken document's parse errors come after an earlier conversion's cleanup), each ending
// with a fax file of its pages or a worded failure and no file.
#include "docconv/docconv.h"

#include "faximage/ovffile.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace telvane::docconv;
using telvane::test::TempDir;

// A one-page PDF of two black boxes; `xref` false leaves out the cross-reference table and the
// trailer's size, which Poppler reports as errors and reconstructs.
std::string boxesPdf(double heightPt, bool xref) {
    std::string body = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    const std::string content = "0 0 0 rg 72 72 200 300 re f 300 400 100 50 re f";
    const std::string objects[] = {
        "<</Type/Catalog/Pages 2 0 R>>", "<</Type/Pages/Kids[3 0 R]/Count 1>>",
        "<</Type/Page/Parent 2 0 R/MediaBox[0 0 612 " + std::to_string(heightPt) + "]/Contents 4 0 R>>",
        "<</Length " + std::to_string(content.size()) + ">>stream\n" + content + "\nendstream"};
    for (std::size_t i = 0; i < 4; ++i) {
        offsets.push_back(body.size());
        body += std::to_string(i + 1) + " 0 obj" + objects[i] + "endobj\n";
    }
    const std::size_t xrefAt = body.size();
    if (xref) {
        body += "xref\n0 5\n0000000000 65535 f \n";
        for (std::size_t o : offsets) {
            char line[32];
            std::snprintf(line, sizeof line, "%010zu 00000 n \n", o);
            body += line;
        }
    }
    body += xref ? "trailer<</Size 5/Root 1 0 R>>\n" : "trailer<</Root 1 0 R>>\n";
    if (xref) body += "startxref\n" + std::to_string(xrefAt) + "\n";
    return body + "%%EOF\n";
}

TEST(PdfConversion, OneAfterAnotherInOneProcess) {
    TempDir dir;
    struct Case {
        std::string name;
        double heightPt;
        bool xref;
        bool converts;
    };
    const Case cases[] = {
        {"good", 792, true, true},
        {"no-xref", 792, false, true},      // parse errors after the first conversion's cleanup
        {"too-long", 90000, false, false},  // beyond the line limit: a failure that names it
        {"again", 792, true, true},
    };
    for (const Case& c : cases) {
        dir.write(c.name + ".pdf", boxesPdf(c.heightPt, c.xref));
        ToFaxRequest r;
        r.input = dir.file(c.name + ".pdf");
        r.output = dir.file(c.name + ".ovf");
        const InputType* type = inputTypeFor(r.input, {});
        ASSERT_NE(type, nullptr);
        const ToFaxResult result = convertToFax(*type, r);
        EXPECT_EQ(result.ok(), c.converts) << c.name << ": " << result.message;
        telvane::faximage::OvfReader reader;
        const bool written = reader.open(r.output) == 0;
        EXPECT_EQ(written, c.converts) << c.name;
        if (written) {
            EXPECT_EQ(reader.header().pageCount, 1) << c.name;
        }
        if (!c.converts) {
            EXPECT_NE(result.message.find("limit lines="), std::string::npos) << result.message;
        }
    }
}

}  // namespace
