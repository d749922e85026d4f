// RTF writer (see rtfwriter.h). Every run is written as its own group with its full attributes, so
// the output does not depend on state carried between runs.
#include "compose/rtf/rtfwriter.h"

#include "compose/rtf/textcodec.h"

namespace telvane::rtf {
namespace {

class Emitter {
public:
    void word(const char* w) {
        out_ += '\\';
        out_ += w;
        delimit_ = true;
    }
    void word(const char* w, long long value) {
        out_ += '\\';
        out_ += w;
        out_ += std::to_string(value);
        delimit_ = true;
    }
    void open() {
        out_ += '{';
        delimit_ = false;
    }
    void close() {
        out_ += '}';
        delimit_ = false;
    }
    void newline() {
        out_ += "\r\n";
        delimit_ = false;
    }

    void text(const std::string& utf8) {
        size_t pos = 0;
        while (pos < utf8.size()) {
            const char32_t cp = nextUtf8(utf8, pos);
            character(cp);
        }
    }

    // Text inside a destination such as the font table: no line breaks or tabs.
    void raw(const std::string& s) {
        space();
        out_ += s;
    }

    std::string take() { return std::move(out_); }

private:
    void space() {
        if (delimit_) out_ += ' ';
        delimit_ = false;
    }

    void character(char32_t cp) {
        if (cp == '\n') {
            word("line");
            return;
        }
        if (cp == '\t') {
            word("tab");
            return;
        }
        if (cp < 0x20 || cp == 0x7F) return;  // control characters carry no text
        if (cp == '\\' || cp == '{' || cp == '}') {
            out_ += '\\';
            out_ += static_cast<char>(cp);
            delimit_ = false;
            return;
        }
        if (cp < 0x7F) {
            space();
            out_ += static_cast<char>(cp);
            return;
        }
        const int byte = unicodeToCp1252(cp);
        if (byte >= 0) {
            static constexpr char kHex[] = "0123456789abcdef";
            out_ += "\\'";
            out_ += kHex[(byte >> 4) & 0xF];
            out_ += kHex[byte & 0xF];
            delimit_ = false;
            return;
        }
        if (cp > 0xFFFF) {
            const char32_t v = cp - 0x10000;
            unicode(0xD800 + (v >> 10));
            unicode(0xDC00 + (v & 0x3FF));
            return;
        }
        unicode(cp);
    }

    // \uN takes a signed 16-bit number; '?' is the fallback for readers without Unicode.
    void unicode(char32_t unit) {
        const int value = unit > 0x7FFF ? static_cast<int>(unit) - 65536 : static_cast<int>(unit);
        out_ += "\\u" + std::to_string(value) + "?";
        delimit_ = false;
    }

    std::string out_;
    bool delimit_ = false;
};

void writeCharFormat(Emitter& e, const CharFormat& c) {
    e.word("f", c.font);
    e.word("fs", c.halfPoints);
    if (c.bold) e.word("b");
    if (c.italic) e.word("i");
    if (c.underline) e.word("ul");
    if (c.color > 0) e.word("cf", c.color);
    if (c.hidden) e.word("v");
}

void writeParaFormat(Emitter& e, const ParaFormat& p) {
    e.word("pard");
    switch (p.align) {
    case Align::Left: e.word("ql"); break;
    case Align::Right: e.word("qr"); break;
    case Align::Center: e.word("qc"); break;
    case Align::Justify: e.word("qj"); break;
    }
    if (p.firstIndent != 0) e.word("fi", p.firstIndent);
    if (p.leftIndent != 0) e.word("li", p.leftIndent);
    if (p.rightIndent != 0) e.word("ri", p.rightIndent);
    if (p.spaceBefore != 0) e.word("sb", p.spaceBefore);
    if (p.spaceAfter != 0) e.word("sa", p.spaceAfter);
    if (p.lineHeight != 0) {
        e.word("sl", p.lineHeight);
        e.word("slmult", 0);
    }
    if (p.pageBreakBefore) e.word("pagebb");
}

void writeRun(Emitter& e, const Run& r) {
    e.open();
    e.word("plain");
    writeCharFormat(e, r.format);
    e.text(r.text);
    e.close();
}

// Writes the runs of one paragraph; a marker and the placeholder runs after it become one field.
void writeRuns(Emitter& e, const std::vector<Run>& runs) {
    for (size_t i = 0; i < runs.size(); ++i) {
        const Run& r = runs[i];
        if (!r.marker || r.insertPoint <= 0) {
            if (!r.text.empty()) writeRun(e, r);
            continue;
        }
        e.open();
        e.word("field");
        e.open();
        e.word("*");
        e.word("fldinst");
        e.raw(std::string("MERGEFIELD ") + kInsertPointFieldName + std::to_string(r.insertPoint) + " ");
        e.close();
        e.open();
        e.word("fldrslt");
        Run marker = r;
        marker.text = kInsertPointMarker;
        writeRun(e, marker);
        while (i + 1 < runs.size() && !runs[i + 1].marker && runs[i + 1].insertPoint == r.insertPoint) {
            ++i;
            if (!runs[i].text.empty()) writeRun(e, runs[i]);
        }
        e.close();
        e.close();
    }
}

// A font name as the font table can hold it: no delimiters, no control characters, trimmed.
std::string escapedFontName(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (c == ';' || c == '{' || c == '}' || c == '\\' || (c >= 0 && c < 0x20)) continue;
        out += c;
    }
    const size_t first = out.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::string writeRtf(const Document& doc) {
    Emitter e;
    e.open();
    e.word("rtf", 1);
    e.word("ansi");
    e.word("ansicpg", 1252);
    e.word("deff", 0);
    e.word("uc", 1);
    e.newline();

    e.open();
    e.word("fonttbl");
    std::vector<Font> fonts = doc.fonts;
    if (fonts.empty()) fonts.push_back(Font{"Arial", "swiss", 0});
    for (size_t i = 0; i < fonts.size(); ++i) {
        e.open();
        e.word("f", static_cast<long long>(i));
        e.word(("f" + (fonts[i].family.empty() ? std::string("nil") : fonts[i].family)).c_str());
        e.word("fcharset", fonts[i].charset);
        Emitter name;
        name.text(escapedFontName(fonts[i].name));
        e.raw(name.take() + ";");
        e.close();
    }
    e.close();
    e.newline();

    e.open();
    e.word("colortbl");
    e.raw(";");
    for (size_t i = 1; i < doc.colors.size(); ++i) {
        e.word("red", doc.colors[i].red);
        e.word("green", doc.colors[i].green);
        e.word("blue", doc.colors[i].blue);
        e.raw(";");
    }
    e.close();
    e.newline();

    if (doc.hasPageLayout) {
        e.word("paperw", doc.page.width);
        e.word("paperh", doc.page.height);
        e.word("margl", doc.page.marginLeft);
        e.word("margr", doc.page.marginRight);
        e.word("margt", doc.page.marginTop);
        e.word("margb", doc.page.marginBottom);
        e.newline();
    }

    for (const Paragraph& p : doc.paragraphs) {
        writeParaFormat(e, p.format);
        writeRuns(e, p.runs);
        // The attributes in force at \par are those of the paragraph mark.
        e.word("plain");
        writeCharFormat(e, p.mark);
        e.word("par");
        e.newline();
    }
    e.close();
    e.newline();
    return e.take();
}

}  // namespace telvane::rtf
