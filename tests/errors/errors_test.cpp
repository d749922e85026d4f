// The program's errors: texts of the codes from the string table (every code defined in
// errors/errors.h has one, and no code is defined under two names), the fall-back to the system's
// message, progress texts, the errno mapping and the exception.
#include "errors/errors.h"

#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <regex>

using namespace telvane;
using namespace telvane::errors;

namespace {

// Every "inline constexpr int ecName = value;" of the header.
std::map<std::string, int> definedCodes() {
    const std::string header = test::readFile(TELVANE_SOURCE_DIR "/src/errors/errors.h");
    const std::regex code(R"(inline constexpr int (ec\w+) = (-?\d+);)");
    std::map<std::string, int> codes;
    for (auto it = std::sregex_iterator(header.begin(), header.end(), code); it != std::sregex_iterator(); ++it)
        codes[(*it)[1]] = std::stoi((*it)[2]);
    return codes;
}

}  // namespace

TEST(ErrorCodes, EachCodeOnceAndWithItsText) {
    const std::map<std::string, int> codes = definedCodes();
    ASSERT_GT(codes.size(), 50u);
    std::map<int, std::string> names;
    for (const auto& [name, value] : codes) {
        const auto [other, fresh] = names.emplace(value, name);
        EXPECT_TRUE(fresh) << name << " and " << other->second << " are both " << value;
        if (value != 0) {
            EXPECT_FALSE(ovxErrorText(value).empty()) << name << " (" << value << ") has no text";
        }
    }
    EXPECT_EQ(codes.at("ecOK"), 0);
    EXPECT_EQ(codes.at("ecFaxBadFormat"), ecFaxBadFormat);
}

TEST(StringTable, TextsOfTheEngineCodes) {
    EXPECT_EQ(ovxErrorText(-8001), "File is not an OVF file");
    EXPECT_EQ(ovxErrorText(-2), "File not found");
    EXPECT_EQ(ovxErrorText(-160), "Device write error");
    EXPECT_EQ(ovxErrorText(-8054), "BMP size exceeds Windows' maxheight of 32767");
    EXPECT_EQ(ovxErrorText(-2001), "ie_BadId - Specified comport doesn't exist");
    EXPECT_EQ(ovxErrorText(-8074), "Remote fax did not answer");
    EXPECT_EQ(ovxErrorText(-6011), "File was rejected");
    EXPECT_EQ(ovxStatusText(4801), "Initializing modem for fax processing");
    EXPECT_EQ(ovxStatusText(4843), "Finished");
    EXPECT_EQ(ovxStatusText(4809), "No answer, waiting until redial...");
    EXPECT_EQ(ovxErrorText(-8075), "The modem ended the call (see its hang-up reason)");
    EXPECT_EQ(ovxStatusText(4800), "");
    EXPECT_EQ(ovxStatusText(-8001), "");
    for (int code = 4801; code <= 4843; ++code) {
        bool listed = code <= 4809 || (code >= 4820 && code <= 4828) || code >= 4840;
        EXPECT_EQ(!ovxStatusText(code).empty(), listed) << code;
    }
}

TEST(StringTable, MissingCodesFallBackToTheSystemMessage) {
    EXPECT_EQ(ovxErrorText(-EINVAL), std::string(std::strerror(EINVAL)));
    EXPECT_EQ(ovxErrorText(-987654), "");
    EXPECT_EQ(ovxErrorText(0x7FFFFFFF), "");
}

TEST(IoErrors, ErrnoMapsToRunTimeCodes) {
    EXPECT_EQ(ovxIoError(ENOENT, false), -2);
    EXPECT_EQ(ovxIoError(ENOTDIR, false), -3);
    EXPECT_EQ(ovxIoError(EACCES, true), -5);
    EXPECT_EQ(ovxIoError(ENOSPC, true), -101);
    EXPECT_EQ(ovxIoError(EIO, true), -160);
    EXPECT_EQ(ovxIoError(EIO, false), -161);
    EXPECT_EQ(ovxIoError(EXDEV, false), -EXDEV);
}

TEST(Exception, CarriesCodeAndText) {
    EOvxException e(-8003);
    EXPECT_EQ(e.ErrorCode(), -8003);
    EXPECT_STREQ(e.what(), "User aborted fax conversion");
}
