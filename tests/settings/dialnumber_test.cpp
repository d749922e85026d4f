// The dial-number rule without Qt, as telvane-fax uses it: what a number may hold and what the
// modem is given, for ASCII and for UTF-8 input.
#include <gtest/gtest.h>

#include "settings/dialnumber.h"

namespace telvane::settings {
namespace {

TEST(DialNumber, WellFormedNumbersAndTheirDialStrings) {
    for (const char* ok : {"", "555-0100", "+1 (555) 010-0100", "9,w555.0100", "*70,P#", "1!2@3\t4"})
        EXPECT_TRUE(isFaxNumberWellFormed(ok)) << ok;
    // Letters a modem does not know, other signs, and full-width digits (UTF-8 bytes).
    for (const char* bad : {"call me maybe!", "555/0100", "555;", "\xef\xbc\x90\xef\xbc\x95"})
        EXPECT_FALSE(isFaxNumberWellFormed(bad)) << bad;
    EXPECT_EQ(dialableNumber("+1 (555) 010-0100"), "15550100100");
    EXPECT_EQ(dialableNumber(" 9, w 555.0100 "), "9,W5550100");
    EXPECT_EQ(dialableNumber("*70,p#t1"), "*70,P#T1");
    EXPECT_EQ(dialableNumber("5\xef\xbc\x95"
                             "5"),
              "55");
}

}  // namespace
}  // namespace telvane::settings
