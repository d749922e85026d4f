// Header lines drawn with the enhanced (system) font through the Qt bridge's renderer factory:
// the coded rows decode to real text that differs from the bitmap font, follow the font height
// and the page resolution, and a font too large for a page ends the fax before the call.
#include <gtest/gtest.h>

#include <QGuiApplication>

#include <algorithm>
#include <filesystem>
#include <unistd.h>

#include "transport/fax/fakemodem.h"
#include "faximage/mhdecoder.h"
#include "transport/fax/faxsession.h"
#include "transport/qtbridge/qtfaxbridge.h"

using namespace telvane;
using namespace telvane::transport;
using faxtest::FakeModem;

namespace {

QGuiApplication& application() {
    static int argc = 1;
    static char name[] = "enhtext_test";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
    return app;
}

struct Lines final : telvane::faximage::FaxLineSink {
    std::vector<std::vector<uint8_t>> rows;
    void faxLine(const uint8_t* line, size_t bytes) override { rows.emplace_back(line, line + bytes); }
};

bool white(const std::vector<uint8_t>& row) {
    return std::all_of(row.begin(), row.end(), [](uint8_t b) { return b == 0; });
}

struct Result {
    std::vector<int> Finishes;
    size_t Dials = 0;
    std::vector<std::vector<uint8_t>> HeaderRows;  // decoded rows after the blank lines
};

// Sends one page of 4 blank lines with a header line and returns the header's decoded rows (the
// page's blank lines are its top margin: the header takes their place).
Result sendWithHeader(bool enhanced, const TOvxFont& font, bool fine = false) {
    const std::string dir = std::filesystem::temp_directory_path() / ("enhtext-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string file = dir + "/doc.ovf";
    faxtest::makeFaxFile(file, {static_cast<uint16_t>(fine ? 0x01 : 0)}, 4);
    FakeModem modem;
    TOvxSendFax fax;
    fax.SetFaxFile(file);
    fax.PhoneNumber = "1";
    fax.DesiredBPS = 14400;
    fax.HeaderLine = "Telvane header line 0123456789";
    fax.EnhTextEnabled = enhanced;
    fax.EnhHeaderFont = font;
    fax.useLinkForTesting(&modem);
    Result r;
    fax.OnFaxFinish = [&](TOvxAbstractFax&, int code) { r.Finishes.push_back(code); };
    modem.Frames.push_back(FakeModem::dis(true, 6));
    modem.Frames.push_back(FakeModem::frame(t30::fcfCFR));
    modem.Frames.push_back(FakeModem::frame(t30::fcfMCF));
    fax.StartSend();
    faxtest::drive(fax, modem);
    std::filesystem::remove_all(dir);
    r.Dials = modem.countCommand("ATD");
    if (modem.TxData.size() != 2) return r;
    Lines lines;
    telvane::faximage::FaxLineDecoder decoder(&lines);
    decoder.feed(modem.TxData[1].data(), modem.TxData[1].size());
    decoder.finish();
    if (lines.rows.size() < 9) return r;
    r.HeaderRows.assign(lines.rows.begin() + 8, lines.rows.end());
    return r;
}

class EnhancedText : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        installQtEnhancedText();
    }
    void TearDown() override { TOvxCustomSendFax::setEnhancedTextFactory({}); }
};

}  // namespace

TEST_F(EnhancedText, HeaderDecodesToTextUnlikeTheBitmapFont) {
    const Result bitmap = sendWithHeader(false, TOvxFont{"MS Sans Serif", -13});
    const Result enhanced = sendWithHeader(true, TOvxFont{"MS Sans Serif", -13});
    ASSERT_EQ(bitmap.Finishes, std::vector<int>{0});
    ASSERT_EQ(enhanced.Finishes, std::vector<int>{0});
    ASSERT_EQ(bitmap.HeaderRows.size(), 16u);
    ASSERT_FALSE(enhanced.HeaderRows.empty());
    EXPECT_FALSE(std::all_of(enhanced.HeaderRows.begin(), enhanced.HeaderRows.end(), white));
    EXPECT_NE(enhanced.HeaderRows, bitmap.HeaderRows);
    for (const auto& row : enhanced.HeaderRows) EXPECT_EQ(row.size(), 216u);
}

TEST_F(EnhancedText, RowsFollowTheHeightAndTheResolution) {
    const Result chars = sendWithHeader(true, TOvxFont{"Arial", -20});
    const Result cell = sendWithHeader(true, TOvxFont{"Arial", 20});
    const Result fine = sendWithHeader(true, TOvxFont{"Arial", -20}, true);
    const Result unnamed = sendWithHeader(true, TOvxFont{"", -20});
    for (const Result* r : {&chars, &cell, &fine, &unnamed}) ASSERT_EQ(r->Finishes, std::vector<int>{0});
    // A negative height is the characters' height: the cell (with its leading) is taller.
    EXPECT_GT(chars.HeaderRows.size(), 20u);
    // A positive height is the cell height.
    EXPECT_GE(cell.HeaderRows.size(), 18u);
    EXPECT_LE(cell.HeaderRows.size(), 22u);
    // Fine resolution doubles the font size.
    EXPECT_GE(fine.HeaderRows.size(), 2 * chars.HeaderRows.size() - 2);
    EXPECT_FALSE(std::all_of(unnamed.HeaderRows.begin(), unnamed.HeaderRows.end(), white));
}

TEST_F(EnhancedText, AbsurdHeightIsTooLargeBeforeTheCall) {
    const Result r = sendWithHeader(true, TOvxFont{"Arial", -5000});
    EXPECT_EQ(r.Finishes, std::vector<int>{errors::ecEnhFontTooBig});
    EXPECT_EQ(r.Dials, 0u);
}

TEST_F(EnhancedText, CreatingTheEventBridgeInstallsTheFactory) {
    TOvxCustomSendFax::setEnhancedTextFactory({});
    bool haveFactory = true;
    EXPECT_EQ(TOvxCustomSendFax::makeEnhancedRenderer(TOvxFont{"Arial", -13}, haveFactory), nullptr);
    EXPECT_FALSE(haveFactory);
    TOvxQtEventSink sink;
    EXPECT_NE(TOvxCustomSendFax::makeEnhancedRenderer(TOvxFont{"Arial", -13}, haveFactory), nullptr);
    EXPECT_TRUE(haveFactory);
}
