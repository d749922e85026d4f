// RTF document model: the Qt-free form of a rich-text document as the RTF reader produces it and the
// RTF writer consumes it. Paragraphs hold runs of UTF-8 text with character attributes; insert points
// are a marker run carrying a numeric tag followed by the runs of their placeholder text.
// All lengths are twips (1/1440 inch); font sizes are half-points as in RTF.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace telvane::rtf {

struct Font {
    std::string name;
    std::string family = "nil";  // RTF family word: nil, roman, swiss, modern, script, decor, tech
    int charset = 0;
    bool operator==(const Font&) const = default;
};

struct Color {
    uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const Color&) const = default;
};

struct CharFormat {
    int font = 0;         // index into Document::fonts
    int halfPoints = 24;  // 12 pt
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool hidden = false;
    int color = 0;  // index into Document::colors; 0 is the automatic colour
    bool operator==(const CharFormat&) const = default;
};

enum class Align { Left, Right, Center, Justify };

struct ParaFormat {
    Align align = Align::Left;
    int firstIndent = 0;  // first line relative to the left indent (RTF \fi)
    int leftIndent = 0;
    int rightIndent = 0;
    int spaceBefore = 0;
    int spaceAfter = 0;
    int lineHeight = 0;  // 0 automatic, > 0 at least, < 0 exactly (RTF \sl)
    bool pageBreakBefore = false;
    bool operator==(const ParaFormat&) const = default;
};

// Text is UTF-8; '\n' inside a run is a line break within the paragraph, '\t' a tab.
struct Run {
    std::string text;
    CharFormat format;
    int insertPoint = 0;  // > 0: the tag of the insert point this run belongs to
    bool marker = false;  // the insert point's marker (text holds the marker character)
    bool operator==(const Run&) const = default;
};

struct Paragraph {
    ParaFormat format;
    std::vector<Run> runs;
    CharFormat mark;  // attributes of the paragraph mark (the height of an empty paragraph)
    bool operator==(const Paragraph&) const = default;
};

struct PageLayout {
    int width = 12240;
    int height = 15840;
    int marginLeft = 1800, marginTop = 1440, marginRight = 1800, marginBottom = 1440;
    bool operator==(const PageLayout&) const = default;
};

struct Document {
    std::vector<Font> fonts;    // index 0 is the default font
    std::vector<Color> colors;  // index 0 is the automatic colour (its value is unused)
    std::vector<Paragraph> paragraphs;
    PageLayout page;
    bool hasPageLayout = false;  // the source carried \paperw etc.

    // The plain text: paragraphs joined by '\n', hidden runs left out.
    std::string plainText() const;
};

// The tag of an insert point is carried by a field instruction of this form: "MERGEFIELD TelvaneInsertPoint<tag>".
inline constexpr const char* kInsertPointFieldName = "TelvaneInsertPoint";
inline constexpr const char* kInsertPointMarker = "*";

}  // namespace telvane::rtf
