// The generated resources: font size and glyph content, the STR0 table layout.
#include "resources/ovxresources.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace telvane;

namespace {

std::uint32_t le32(const std::uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24); }

int inkOf(std::size_t offset, std::size_t bytes) {
    auto f = faxFontResource();
    int n = 0;
    for (std::size_t i = 0; i < bytes; ++i) n += __builtin_popcount(f[offset + i]);
    return n;
}

}  // namespace

TEST(FontResource, HasBothFontsWithInkWhereLettersAre) {
    ASSERT_EQ(faxFontResource().size(), 16384u);
    EXPECT_EQ(inkOf(' ' * 16, 16), 0);
    EXPECT_EQ(inkOf(kFaxFontLargeOffset + ' ' * 48, 48), 0);
    for (unsigned char c : std::string("AZaz09@\xE9\xC4")) {
        EXPECT_GT(inkOf(std::size_t(c) * 16, 16), 5) << int(c);
        EXPECT_GT(inkOf(kFaxFontLargeOffset + std::size_t(c) * 48, 48), 15) << int(c);
    }
    // Small glyphs are 12 pels wide: the low 4 bits of each row's second byte stay clear;
    // large glyphs are 20 wide: the low 4 bits of the third byte.
    auto f = faxFontResource();
    for (int c = 0; c < 256; ++c) {
        for (int row = 0; row < 8; ++row) ASSERT_EQ(f[std::size_t(c) * 16 + std::size_t(row) * 2 + 1] & 0x0F, 0) << c;
        for (int row = 0; row < 16; ++row)
            ASSERT_EQ(f[kFaxFontLargeOffset + std::size_t(c) * 48 + std::size_t(row) * 3 + 2] & 0x0F, 0) << c;
    }
}

TEST(StringTable, LayoutIsSortedStr0) {
    auto t = errorStringResource();
    ASSERT_GE(t.size(), 8u);
    EXPECT_EQ(std::memcmp(t.data(), "STR0", 4), 0);
    std::uint32_t count = le32(t.data() + 4);
    ASSERT_GT(count, 60u);
    std::uint32_t prev = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* e = t.data() + 8 + 12 * i;
        if (i) {
            EXPECT_GT(le32(e), prev);
        }
        prev = le32(e);
        EXPECT_LE(le32(e + 4) + 2 * le32(e + 8), t.size());
    }
}
