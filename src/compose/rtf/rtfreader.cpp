// RTF reader (see rtfreader.h). A flat loop over the tokens with an explicit stack of group states.
#include "compose/rtf/rtfreader.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "compose/rtf/rtftokenizer.h"
#include "compose/rtf/textcodec.h"

namespace telvane::rtf {
namespace {

constexpr size_t kMaxDepth = 2000;
constexpr size_t kMaxFonts = 4096;
constexpr size_t kMaxColors = 4096;
constexpr size_t kMaxFontName = 256;
constexpr size_t kMaxInstruction = 1024;

enum class Dest { Body, Skip, FontTable, ColorTable, FieldInstruction };

struct Field {
    std::string instruction;
    int tag = 0;
    bool markerDone = false;
};

struct State {
    Dest dest = Dest::Body;
    CharFormat chars;
    ParaFormat para;
    int unicodeSkip = 1;     // \ucN
    int insertPoint = 0;     // inside the result of an insert-point field
    int field = -1;          // index into the field stack of the innermost field
    bool ownsField = false;  // this group opened that field
    bool ignorableNext = false;
};

bool wordIs(std::string_view w, const char* name) { return w == name; }

// The character a symbol control word stands for; 0 for any other word.
char32_t symbolOf(std::string_view w) {
    struct Symbol {
        const char* word;
        char32_t character;
    };
    static constexpr Symbol kSymbols[] = {
        {"line", '\n'},     {"tab", '\t'},         {"cell", '\t'},        {"nestcell", '\t'}, {"lquote", 0x2018},
        {"rquote", 0x2019}, {"ldblquote", 0x201C}, {"rdblquote", 0x201D}, {"bullet", 0x2022}, {"endash", 0x2013},
        {"emdash", 0x2014}, {"emspace", ' '},      {"enspace", ' '},      {"qmspace", ' '},
    };
    for (const Symbol& s : kSymbols)
        if (wordIs(w, s.word)) return s.character;
    return 0;
}

// Destinations whose content never shows as document text.
bool isSkippedDestination(std::string_view w) {
    static const char* const kSkipped[] = {"pict",
                                           "stylesheet",
                                           "info",
                                           "header",
                                           "headerl",
                                           "headerr",
                                           "headerf",
                                           "footer",
                                           "footerl",
                                           "footerr",
                                           "footerf",
                                           "footnote",
                                           "annotation",
                                           "object",
                                           "themedata",
                                           "colorschememapping",
                                           "latentstyles",
                                           "datastore",
                                           "xmlnstbl",
                                           "listtable",
                                           "listoverridetable",
                                           "rsidtbl",
                                           "generator",
                                           "pn",
                                           "nonshppict",
                                           "shp",
                                           "shpinst",
                                           "sp",
                                           "bkmkstart",
                                           "bkmkend",
                                           "fldtype",
                                           "datafield",
                                           "revtbl",
                                           "filetbl",
                                           "template",
                                           "pgdsctbl",
                                           "userprops",
                                           "docvar",
                                           "atnid",
                                           "atnauthor",
                                           "atrfstart",
                                           "atrfend",
                                           "xe",
                                           "tc",
                                           "txe",
                                           "shppict",
                                           "objdata",
                                           "blipuid",
                                           "pntxta",
                                           "pntxtb",
                                           "ftnsep",
                                           "ftnsepc",
                                           "ftncn",
                                           "aftnsep",
                                           "aftnsepc",
                                           "aftncn",
                                           "upr",
                                           "private",
                                           "wgrffmtfilter",
                                           "mmathPr",
                                           "listpicture",
                                           "panose",
                                           "falt",
                                           "fname",
                                           "formfield"};
    for (const char* s : kSkipped) {
        if (w == s) return true;
    }
    return false;
}

class Reader {
public:
    explicit Reader(std::string_view data) : tokens_(data) {}

    Document run() {
        State initial;
        initial.chars.font = -2;
        stack_.push_back(initial);
        for (Token t = tokens_.next(); t.kind != Token::End; t = tokens_.next()) {
            switch (t.kind) {
            case Token::GroupStart: openGroup(); break;
            case Token::GroupEnd: closeGroup(); break;
            case Token::ControlWord: controlWord(t); break;
            case Token::ControlSymbol: controlSymbol(t.symbol); break;
            case Token::HexByte: hexByte(t.byte); break;
            case Token::Text: text(t.word); break;
            case Token::End: break;
            }
        }
        while (stack_.size() > 1) closeGroup();
        if (!current_.runs.empty()) {
            finishParagraph();
        }
        resolveFonts();
        mergeRuns();
        return std::move(doc_);
    }

private:
    State& state() { return stack_.back(); }

    void openGroup() {
        pendingSkip_ = 0;
        if (stack_.size() >= kMaxDepth) {
            ++overflow_;
            return;
        }
        State s = state();
        s.ownsField = false;
        s.ignorableNext = false;
        stack_.push_back(s);
    }

    void closeGroup() {
        pendingSkip_ = 0;
        if (overflow_ > 0) {
            --overflow_;
            return;
        }
        if (stack_.size() <= 1) return;  // a stray closing brace
        const State closing = state();
        if (closing.dest == Dest::FontTable && fontEntry_ >= 0) finishFontName();
        if (closing.ownsField && closing.field >= 0 && closing.field < static_cast<int>(fields_.size())) {
            Field& f = fields_[closing.field];
            if (f.tag > 0 && !f.markerDone) emitMarker(f, closing.chars);
            fields_.resize(closing.field);
        }
        stack_.pop_back();
        if (closing.dest == Dest::FieldInstruction && state().dest != Dest::FieldInstruction) {
            // Leaving the instruction: its tag is known from here on.
            if (closing.field >= 0 && closing.field < static_cast<int>(fields_.size())) {
                Field& f = fields_[closing.field];
                f.tag = insertPointTagOf(f.instruction);
            }
        }
    }

    void controlSymbol(char c) {
        if (c == '*') {
            state().ignorableNext = true;
            return;
        }
        if (consumeSkip()) return;
        switch (c) {
        case '\\':
        case '{':
        case '}': appendChar(static_cast<unsigned char>(c)); break;
        case '~': appendChar(0xA0); break;
        case '_': appendChar(0x2011); break;
        case '-': break;  // optional hyphen
        case ':': break;  // index subentry
        case '|': break;  // formula character
        default: break;
        }
    }

    void hexByte(uint8_t b) {
        if (consumeSkip()) return;
        if (isControl(b)) return;
        appendChar(cp1252ToUnicode(b));
    }

    // Control characters carry no text; a literal tab is a tab.
    static bool isControl(char32_t cp) { return (cp < 0x20 && cp != '\t') || cp == 0x7F; }

    void text(std::string_view s) {
        size_t i = 0;
        while (i < s.size() && pendingSkip_ > 0) {
            ++i;
            --pendingSkip_;
        }
        for (; i < s.size(); ++i) {
            const auto b = static_cast<uint8_t>(s[i]);
            if (!isControl(b)) appendChar(cp1252ToUnicode(b));
        }
    }

    bool consumeSkip() {
        if (pendingSkip_ > 0) {
            --pendingSkip_;
            return true;
        }
        return false;
    }

    void controlWord(const Token& t) {
        State& s = state();
        const std::string_view w = t.word;
        const bool ignorable = s.ignorableNext;
        s.ignorableNext = false;

        if (handleDestination(w, ignorable)) return;
        if (s.dest == Dest::Skip) {
            if (wordIs(w, "bin") && t.hasParam) tokens_.skipBytes(t.param);
            return;
        }
        if (wordIs(w, "bin")) {
            if (t.hasParam) tokens_.skipBytes(t.param);
            return;
        }
        if (wordIs(w, "u") && t.hasParam) {
            unicodeChar(t.param);
            return;
        }
        if (s.dest == Dest::FontTable) {
            fontTableWord(w, t);
            return;
        }
        if (s.dest == Dest::ColorTable) {
            colorTableWord(w, t);
            return;
        }
        if (pendingSkip_ > 0) {
            --pendingSkip_;
            return;
        }
        if (characterWord(w, t) || paragraphWord(w, t) || documentWord(w, t)) return;
        specialCharacter(w);
    }

    // Destinations (and \field) change where the group's content goes. Returns true when handled.
    bool handleDestination(std::string_view w, bool ignorable) {
        State& s = state();
        if (wordIs(w, "fonttbl")) {
            s.dest = Dest::FontTable;
            fontEntry_ = -1;
            return true;
        }
        if (wordIs(w, "colortbl")) {
            s.dest = Dest::ColorTable;
            return true;
        }
        if (s.dest == Dest::Skip) {
            // \ud inside \upr holds the Unicode form of the text.
            if (wordIs(w, "ud")) {
                s.dest = Dest::Body;
                return true;
            }
            return false;
        }
        if (wordIs(w, "field")) {
            fields_.push_back(Field{});
            s.field = static_cast<int>(fields_.size()) - 1;
            s.ownsField = true;
            return true;
        }
        if (wordIs(w, "fldinst")) {
            s.dest = s.field >= 0 ? Dest::FieldInstruction : Dest::Skip;
            return true;
        }
        if (wordIs(w, "fldrslt")) {
            if (s.field >= 0 && s.field < static_cast<int>(fields_.size())) {
                Field& f = fields_[s.field];
                if (f.tag == 0) f.tag = insertPointTagOf(f.instruction);
                s.insertPoint = f.tag;
            }
            s.dest = Dest::Body;
            return true;
        }
        if (wordIs(w, "upr")) {
            s.dest = Dest::Skip;
            return true;
        }
        if (isSkippedDestination(w) || (ignorable && s.dest != Dest::FieldInstruction)) {
            s.dest = Dest::Skip;
            return true;
        }
        return false;
    }

    bool characterWord(std::string_view w, const Token& t) {
        CharFormat& c = state().chars;
        const bool on = !t.hasParam || t.param != 0;
        if (wordIs(w, "plain")) {
            c = CharFormat{};
            c.font = -2;  // the default font, resolved once the font table is known
        } else if (wordIs(w, "b")) {
            c.bold = on;
        } else if (wordIs(w, "i")) {
            c.italic = on;
        } else if (wordIs(w, "ul") || wordIs(w, "uld") || wordIs(w, "uldb") || wordIs(w, "ulw") ||
                   wordIs(w, "uldash") || wordIs(w, "ulth") || wordIs(w, "ulwave")) {
            c.underline = on;
        } else if (wordIs(w, "ulnone")) {
            c.underline = false;
        } else if (wordIs(w, "v")) {
            c.hidden = on;
        } else if (wordIs(w, "f")) {
            c.font = t.hasParam ? fontIndexFor(t.param) : c.font;
        } else if (wordIs(w, "fs")) {
            if (t.hasParam && t.param > 0) c.halfPoints = std::min(t.param, 3276);
        } else if (wordIs(w, "cf")) {
            c.color = t.hasParam && t.param >= 0 ? std::min(t.param, static_cast<int32_t>(kMaxColors)) : 0;
        } else if (wordIs(w, "uc")) {
            state().unicodeSkip = t.hasParam ? std::clamp(t.param, 0, 16) : 1;
        } else {
            return false;
        }
        return true;
    }

    bool paragraphWord(std::string_view w, const Token& t) {
        ParaFormat& p = state().para;
        const int v = t.hasParam ? t.param : 0;
        if (wordIs(w, "pard")) {
            p = ParaFormat{};
        } else if (wordIs(w, "ql")) {
            p.align = Align::Left;
        } else if (wordIs(w, "qr")) {
            p.align = Align::Right;
        } else if (wordIs(w, "qc")) {
            p.align = Align::Center;
        } else if (wordIs(w, "qj")) {
            p.align = Align::Justify;
        } else if (wordIs(w, "fi")) {
            p.firstIndent = v;
        } else if (wordIs(w, "li") || wordIs(w, "lin")) {
            p.leftIndent = v;
        } else if (wordIs(w, "ri") || wordIs(w, "rin")) {
            p.rightIndent = v;
        } else if (wordIs(w, "sb")) {
            p.spaceBefore = v;
        } else if (wordIs(w, "sa")) {
            p.spaceAfter = v;
        } else if (wordIs(w, "sl")) {
            p.lineHeight = v;
        } else if (wordIs(w, "slmult")) {
            // Proportional spacing ("multiple of single") has no fixed height; keep automatic.
            if (v != 0) p.lineHeight = 0;
        } else if (wordIs(w, "pagebb")) {
            p.pageBreakBefore = !t.hasParam || v != 0;
        } else {
            return false;
        }
        return true;
    }

    bool documentWord(std::string_view w, const Token& t) {
        const int v = t.hasParam ? t.param : 0;
        PageLayout& pg = doc_.page;
        if (wordIs(w, "deff")) {
            defaultFontNumber_ = v;
        } else if (wordIs(w, "paperw") || wordIs(w, "pgwsxn")) {
            if (v > 0) pg.width = v, doc_.hasPageLayout = true;
        } else if (wordIs(w, "paperh") || wordIs(w, "pghsxn")) {
            if (v > 0) pg.height = v, doc_.hasPageLayout = true;
        } else if (wordIs(w, "margl") || wordIs(w, "marglsxn")) {
            pg.marginLeft = v, doc_.hasPageLayout = true;
        } else if (wordIs(w, "margr") || wordIs(w, "margrsxn")) {
            pg.marginRight = v, doc_.hasPageLayout = true;
        } else if (wordIs(w, "margt") || wordIs(w, "margtsxn")) {
            pg.marginTop = v, doc_.hasPageLayout = true;
        } else if (wordIs(w, "margb") || wordIs(w, "margbsxn")) {
            pg.marginBottom = v, doc_.hasPageLayout = true;
        } else if (wordIs(w, "sbknone")) {
            sectionBreakIsPage_ = false;
        } else if (wordIs(w, "sbkpage") || wordIs(w, "sectd")) {
            sectionBreakIsPage_ = true;
        } else {
            return false;
        }
        return true;
    }

    void specialCharacter(std::string_view w) {
        if (wordIs(w, "par") || wordIs(w, "row") || wordIs(w, "nestrow")) {
            finishParagraph();
        } else if (wordIs(w, "sect")) {
            finishParagraph();
            if (sectionBreakIsPage_) pageBreakPending_ = true;
        } else if (wordIs(w, "page")) {
            if (!current_.runs.empty()) finishParagraph();
            pageBreakPending_ = true;
        } else if (const char32_t symbol = symbolOf(w)) {
            appendChar(symbol);
        }
    }

    void unicodeChar(int32_t value) {
        char32_t cp = static_cast<char32_t>(value < 0 ? value + 65536 : value) & 0xFFFF;
        pendingSkip_ = state().unicodeSkip;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            highSurrogate_ = cp;
            return;
        }
        if (cp >= 0xDC00 && cp <= 0xDFFF) {
            if (highSurrogate_ == 0) return;
            cp = 0x10000 + ((highSurrogate_ - 0xD800) << 10) + (cp - 0xDC00);
        }
        highSurrogate_ = 0;
        if (!isControl(cp)) appendCodePoint(cp);
    }

    void appendChar(char32_t cp) {
        highSurrogate_ = 0;
        appendCodePoint(cp);
    }

    void appendCodePoint(char32_t cp) {
        State& s = state();
        switch (s.dest) {
        case Dest::Skip: return;
        case Dest::FontTable: fontNameChar(cp); return;
        case Dest::ColorTable:
            if (cp == ';') finishColor();
            return;
        case Dest::FieldInstruction:
            if (s.field >= 0 && s.field < static_cast<int>(fields_.size()) &&
                fields_[s.field].instruction.size() < kMaxInstruction) {
                appendUtf8(fields_[s.field].instruction, cp);
            }
            return;
        case Dest::Body: break;
        }
        if (s.insertPoint > 0 && s.field >= 0 && s.field < static_cast<int>(fields_.size())) {
            Field& f = fields_[s.field];
            if (!f.markerDone) {
                emitMarker(f, s.chars);
                if (cp == static_cast<unsigned char>(kInsertPointMarker[0])) return;
            }
        }
        if (s.chars.hidden) return;
        std::string utf8;
        appendUtf8(utf8, cp);
        appendRun(utf8, s.chars, s.insertPoint, false);
    }

    void emitMarker(Field& f, const CharFormat& format) {
        f.markerDone = true;
        appendRun(kInsertPointMarker, format, f.tag, true);
    }

    void appendRun(std::string_view text, const CharFormat& format, int insertPoint, bool marker) {
        if (!marker && !current_.runs.empty()) {
            Run& last = current_.runs.back();
            if (!last.marker && last.format == format && last.insertPoint == insertPoint) {
                last.text += text;
                return;
            }
        }
        current_.runs.push_back(Run{std::string(text), format, insertPoint, marker});
    }

    void finishParagraph() {
        current_.format = state().para;
        if (pageBreakPending_) {
            current_.format.pageBreakBefore = true;
            pageBreakPending_ = false;
        }
        current_.mark = state().chars;
        current_.mark.hidden = false;
        doc_.paragraphs.push_back(std::move(current_));
        current_ = Paragraph{};
    }

    // Font table -----------------------------------------------------------------------------------
    void fontTableWord(std::string_view w, const Token& t) {
        if (wordIs(w, "f") && t.hasParam) {
            if (fontEntry_ >= 0) finishFontName();
            if (doc_.fonts.size() >= kMaxFonts) {
                fontEntry_ = -1;
                return;
            }
            fontNumbers_[t.param] = static_cast<int>(doc_.fonts.size());
            doc_.fonts.push_back(Font{});
            fontEntry_ = static_cast<int>(doc_.fonts.size()) - 1;
            return;
        }
        if (fontEntry_ < 0) return;
        Font& f = doc_.fonts[fontEntry_];
        if (wordIs(w, "fcharset")) {
            f.charset = t.hasParam ? t.param : 0;
        } else if (wordIs(w, "fnil") || wordIs(w, "froman") || wordIs(w, "fswiss") || wordIs(w, "fmodern") ||
                   wordIs(w, "fscript") || wordIs(w, "fdecor") || wordIs(w, "ftech") || wordIs(w, "fbidi")) {
            f.family = std::string(w.substr(1));
        }
    }

    void fontNameChar(char32_t cp) {
        if (fontEntry_ < 0 || cp < 0x20) return;
        if (cp == ';') {
            finishFontName();
            return;
        }
        std::string& name = doc_.fonts[fontEntry_].name;
        if (name.size() < kMaxFontName) appendUtf8(name, cp);
    }

    void finishFontName() {
        if (fontEntry_ >= 0) {
            std::string& name = doc_.fonts[fontEntry_].name;
            const size_t first = name.find_first_not_of(' ');
            const size_t last = name.find_last_not_of(' ');
            name = first == std::string::npos ? std::string() : name.substr(first, last - first + 1);
        }
        fontEntry_ = -1;
    }

    int fontIndexFor(int number) {
        const auto it = fontNumbers_.find(number);
        if (it != fontNumbers_.end()) return it->second;
        unresolvedFonts_.push_back(number);
        return -3 - static_cast<int>(unresolvedFonts_.size() - 1);
    }

    // Fonts named before the font table, or by \deff and \plain, are resolved at the end.
    void resolveFonts() {
        int defaultIndex = 0;
        if (const auto it = fontNumbers_.find(defaultFontNumber_); it != fontNumbers_.end()) {
            defaultIndex = it->second;
        }
        auto resolve = [&](CharFormat& c) {
            if (c.font == -2) {
                c.font = defaultIndex;
            } else if (c.font <= -3) {
                const size_t slot = static_cast<size_t>(-3 - c.font);
                const auto it = fontNumbers_.find(unresolvedFonts_[slot]);
                c.font = it != fontNumbers_.end() ? it->second : defaultIndex;
            }
            if (c.font >= static_cast<int>(doc_.fonts.size())) c.font = defaultIndex;
        };
        for (Paragraph& p : doc_.paragraphs) {
            resolve(p.mark);
            for (Run& r : p.runs) resolve(r.format);
        }
        if (doc_.colors.empty()) doc_.colors.push_back(Color{});
        for (Paragraph& p : doc_.paragraphs) {
            if (p.mark.color >= static_cast<int>(doc_.colors.size())) p.mark.color = 0;
            for (Run& r : p.runs) {
                if (r.format.color >= static_cast<int>(doc_.colors.size())) r.format.color = 0;
            }
        }
    }

    // Runs that became alike once fonts and colours were resolved are joined.
    void mergeRuns() {
        for (Paragraph& p : doc_.paragraphs) {
            std::vector<Run> merged;
            for (Run& r : p.runs) {
                if (!merged.empty() && !r.marker && !merged.back().marker && merged.back().format == r.format &&
                    merged.back().insertPoint == r.insertPoint) {
                    merged.back().text += r.text;
                } else {
                    merged.push_back(std::move(r));
                }
            }
            p.runs = std::move(merged);
        }
    }

    // Colour table ---------------------------------------------------------------------------------
    void colorTableWord(std::string_view w, const Token& t) {
        const uint8_t v = static_cast<uint8_t>(std::clamp(t.hasParam ? t.param : 0, 0, 255));
        if (wordIs(w, "red")) {
            color_.red = v;
        } else if (wordIs(w, "green")) {
            color_.green = v;
        } else if (wordIs(w, "blue")) {
            color_.blue = v;
        }
    }

    void finishColor() {
        if (doc_.colors.size() < kMaxColors) doc_.colors.push_back(color_);
        color_ = Color{};
    }

    Tokenizer tokens_;
    Document doc_;
    Paragraph current_;
    std::vector<State> stack_;
    std::vector<Field> fields_;
    std::map<int, int> fontNumbers_;
    std::vector<int> unresolvedFonts_;
    size_t overflow_ = 0;
    int pendingSkip_ = 0;
    char32_t highSurrogate_ = 0;
    int fontEntry_ = -1;
    int defaultFontNumber_ = 0;
    Color color_;
    bool pageBreakPending_ = false;
    bool sectionBreakIsPage_ = true;
};

bool isValidUtf8(std::string_view data) {
    size_t pos = 0;
    while (pos < data.size()) {
        const auto lead = static_cast<uint8_t>(data[pos]);
        const size_t before = pos;
        if (nextUtf8(data, pos) == 0xFFFD) {
            // U+FFFD itself is valid when it was spelled out in three bytes.
            if (!(lead == 0xEF && pos == before + 3)) return false;
        }
    }
    return true;
}

}  // namespace

bool looksLikeRtf(std::string_view data) {
    size_t i = 0;
    if (data.substr(0, 3) == "\xEF\xBB\xBF") i = 3;
    while (i < data.size() && (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n')) ++i;
    return data.substr(i, 5) == "{\\rtf";
}

Document readRtf(std::string_view data) { return Reader(data).run(); }

Document readPlainText(std::string_view data) {
    if (data.substr(0, 3) == "\xEF\xBB\xBF") data.remove_prefix(3);
    const bool utf8 = isValidUtf8(data);
    Document doc;
    doc.colors.push_back(Color{});
    Paragraph para;
    std::string line;
    auto flush = [&] {
        para.runs.clear();
        if (!line.empty()) para.runs.push_back(Run{line, CharFormat{}, 0, false});
        doc.paragraphs.push_back(para);
        line.clear();
    };
    size_t pos = 0;
    while (pos < data.size()) {
        const char c = data[pos];
        if (c == '\r' || c == '\n') {
            ++pos;
            if (c == '\r' && pos < data.size() && data[pos] == '\n') ++pos;
            flush();
            continue;
        }
        const char32_t cp = utf8 ? nextUtf8(data, pos) : cp1252ToUnicode(static_cast<uint8_t>(data[pos++]));
        if ((cp >= 0x20 && cp != 0x7F) || cp == '\t') appendUtf8(line, cp);
    }
    if (!line.empty()) flush();
    return doc;
}

int insertPointTagOf(std::string_view instruction) {
    const std::string_view name = kInsertPointFieldName;
    const size_t at = instruction.find(name);
    if (at == std::string_view::npos) return 0;
    size_t i = at + name.size();
    int64_t tag = 0;
    bool any = false;
    while (i < instruction.size() && instruction[i] >= '0' && instruction[i] <= '9') {
        tag = std::min<int64_t>(tag * 10 + (instruction[i] - '0'), 2147483647);
        ++i;
        any = true;
    }
    return any ? static_cast<int>(tag) : 0;
}

std::string Document::plainText() const {
    std::string out;
    for (size_t i = 0; i < paragraphs.size(); ++i) {
        if (i > 0) out += '\n';
        for (const Run& r : paragraphs[i].runs) {
            if (!r.format.hidden) out += r.text;
        }
    }
    return out;
}

}  // namespace telvane::rtf
