// TRichText (see trichtext.h).
#include "compose/richtext/trichtext.h"

#include <QPainter>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QTextFragment>
#include <algorithm>
#include <cmath>

#include "compose/rtf/rtfreader.h"
#include "app/uihelpers.h"

namespace telvane::richtext {
namespace {

using richdoc::isMarker;
using richdoc::kInsertPointText;
using richdoc::kMarkerHidden;
using richdoc::kMarkerTag;

constexpr int kViewMargin = 8;  // screen pixels around the text in the editor

bool isWordChar(QChar c) { return c.isLetterOrNumber(); }
bool isApostrophe(QChar c) { return c == QLatin1Char('\'') || c == QChar(0x2019); }

// The characters of an insert point's text that follow the marker at markerPos.
int insertPointTextEnd(QTextDocument* doc, int markerPos, int tag) {
    int pos = markerPos + 1;
    const int last = doc->characterCount() - 1;
    QTextCursor c(doc);
    while (pos < last) {
        c.setPosition(pos + 1);
        const QTextCharFormat f = c.charFormat();
        if (f.intProperty(kInsertPointText) != tag || isMarker(f)) break;
        ++pos;
    }
    return pos;
}

}  // namespace

TRichText::TRichText(QWidget* parent) : QTextEdit(parent), doc_(document()) {
    setAcceptRichText(true);
    document()->setDefaultFont(QFont(QStringLiteral("Arial"), 12));
    richdoc::prepareDocument(document());
    connect(this, &QTextEdit::currentCharFormatChanged, this, &TRichText::cleanTypingFormat);
    applyView();
}

TRichText::~TRichText() = default;

// Content ---------------------------------------------------------------------------------------

void TRichText::clearAll() {
    wordWalkEnd();
    clear();
    richdoc::prepareDocument(document());
    doc_.setHideInsertPointMarks(false);
    applyView();
}

bool TRichText::loadFromFile(const QString& path, QString* error) {
    QByteArray data;
    if (!richdoc::readFileBytes(path, data, error)) return false;
    setRtf(data);
    return true;
}

bool TRichText::saveToFile(const QString& path, QString* error) const { return doc_.saveToFile(path, error); }

QByteArray TRichText::rtf() const { return doc_.rtf(); }

void TRichText::setRtf(const QByteArray& data) {
    wordWalkEnd();
    doc_.setRtf(data);
    applyView();
    moveToStart();
}

void TRichText::repaintDocument() { viewport()->update(); }

void TRichText::reLayout() {
    document()->markContentsDirty(0, document()->characterCount());
    repaintDocument();
}

QString TRichText::text() const { return doc_.text(); }

int TRichText::textLength() const { return static_cast<int>(text().size()); }

QStringList TRichText::lines() const { return doc_.lines(); }

// Layout and view -------------------------------------------------------------------------------

double TRichText::screenResolution() const { return logicalDpiY() > 0 ? logicalDpiY() : 96.0; }

double TRichText::viewResolution() const { return screenResolution() * zoom_ / 100.0; }

void TRichText::applyView() {
    const double dpi = viewResolution();
    richdoc::applyLayoutResolution(document(), dpi);
    // Qt scales the document margin to the layout resolution itself.
    document()->setDocumentMargin(kViewMargin);
    const int margin = static_cast<int>(std::lround(kViewMargin * dpi / 96.0));
    // The text is laid out over the page's text width either way, so centred and right-aligned
    // paragraphs show where they will print; without word wrap long lines run on instead of
    // breaking.
    const richdoc::PageLayoutTwips page = doc_.pageLayout();
    const int textWidth = richdoc::twipsToPixels(page.width - page.marginLeft - page.marginRight, dpi);
    setLineWrapMode(QTextEdit::FixedPixelWidth);
    setLineWrapColumnOrWidth(std::max(1, textWidth) + 2 * margin);
    setWordWrapMode(wordWrap_ ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
    viewport()->update();
}

void TRichText::setPageLayout(const richdoc::PageLayoutTwips& layout) {
    doc_.setPageLayout(layout);
    applyView();
}

void TRichText::moveToStart() {
    QTextCursor c = textCursor();
    c.movePosition(QTextCursor::Start);
    setTextCursor(c);
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
}

void TRichText::setZooming(int percent) {
    zoom_ = std::clamp(percent, richdoc::kMinZoom, richdoc::kMaxZoom);
    applyView();
}

void TRichText::setWordWrap(bool on) {
    wordWrap_ = on;
    applyView();
}

// Character attributes --------------------------------------------------------------------------

TextAttributes TRichText::currentAttributes() const {
    const QTextCharFormat f = currentCharFormat();
    TextAttributes a;
    const QStringList families = f.fontFamilies().toStringList();
    a.name = families.isEmpty() ? document()->defaultFont().family() : families.first();
    const double points = f.fontPointSize() > 0 ? f.fontPointSize() : document()->defaultFont().pointSizeF();
    a.size = static_cast<int>(std::lround(points));
    a.style = (f.fontWeight() >= QFont::DemiBold ? kStyleBold : 0) | (f.fontItalic() ? kStyleItalic : 0) |
              (f.fontUnderline() ? kStyleUnderline : 0);
    return a;
}

void TRichText::setInputAttributes(const TextAttributes& a) {
    QTextCharFormat f;
    if (!a.name.isEmpty()) f.setFontFamilies({a.name});
    if (a.size > 0) f.setFontPointSize(a.size);
    f.setFontWeight(a.style & kStyleBold ? QFont::Bold : QFont::Normal);
    f.setFontItalic(a.style & kStyleItalic);
    f.setFontUnderline(a.style & kStyleUnderline);
    mergeCurrentCharFormat(f);
    QTextCursor c = textCursor();
    if (c.block().length() == 1) {
        // An empty paragraph takes its height from the paragraph mark.
        QTextCharFormat mark = c.blockCharFormat();
        mark.merge(f);
        c.setBlockCharFormat(mark);
    }
}

void TRichText::cleanTypingFormat(const QTextCharFormat& format) {
    if (!isMarker(format) && !format.hasProperty(kInsertPointText)) return;
    QTextCharFormat clean = richdoc::plainFormat(format);
    clean.clearForeground();
    setCurrentCharFormat(clean);
}

void TRichText::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || isReadOnly() || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        QTextEdit::keyPressEvent(event);
        return;
    }
    QTextCursor c = textCursor();
    const QTextCharFormat typing = currentCharFormat();
    QTextBlockFormat paragraph = c.blockFormat();
    // A page break belongs to the paragraph that starts the page, not to the next one.
    paragraph.setPageBreakPolicy(QTextFormat::PageBreak_Auto);
    paragraph.clearProperty(richdoc::kPageBreakId);
    c.beginEditBlock();
    c.removeSelectedText();
    c.insertBlock(paragraph, typing);
    c.endEditBlock();
    setTextCursor(c);
    setCurrentCharFormat(typing);
    ensureCursorVisible();
    event->accept();
}

void TRichText::insertPageBreak() {
    QTextCursor c = textCursor();
    QTextBlockFormat bf = c.blockFormat();
    richdoc::setPageBreak(bf);
    const QTextCharFormat typing = currentCharFormat();
    c.insertBlock(bf, typing);
    c.setCharFormat(typing);
    setTextCursor(c);
    setCurrentCharFormat(typing);
}

// Insert points ---------------------------------------------------------------------------------

bool TRichText::insertInsertPoint(int tag, const QString& text) {
    if (tag <= 0) {
        app::ShowInformation(QStringLiteral("Insertpoint-tag has to be >0"));
        return false;
    }
    QTextCursor c = textCursor();
    const QTextCharFormat typing = richdoc::plainFormat(currentCharFormat());
    c.beginEditBlock();
    c.insertText(QString(QChar::ObjectReplacementCharacter),
                 richdoc::markerFormat(typing, tag, doc_.hideInsertPointMarks()));
    QTextCharFormat placeholder = typing;
    placeholder.setForeground(QColor(Qt::red));
    placeholder.setProperty(kInsertPointText, tag);
    if (!text.isEmpty()) c.insertText(text, placeholder);
    c.endEditBlock();
    setTextCursor(c);
    setCurrentCharFormat(typing);
    return true;
}

void TRichText::setHideInsertPointMarks(bool hide) {
    doc_.setHideInsertPointMarks(hide);
    QTextCursor c(document());
    c.beginEditBlock();
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment frag = it.fragment();
            if (!isMarker(frag.charFormat())) continue;
            QTextCharFormat f = frag.charFormat();
            f.setProperty(kMarkerHidden, hide);
            c.setPosition(frag.position());
            c.setPosition(frag.position() + frag.length(), QTextCursor::KeepAnchor);
            c.setCharFormat(f);
        }
    }
    c.endEditBlock();
}

std::vector<InsertPointInfo> TRichText::insertPoints() const {
    std::vector<InsertPointInfo> points;
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment frag = it.fragment();
            const QTextCharFormat f = frag.charFormat();
            if (isMarker(f)) {
                for (const QChar ch : frag.text()) {
                    if (ch == QChar::ObjectReplacementCharacter) {
                        points.push_back(
                            InsertPointInfo{f.intProperty(kMarkerTag), QString(), f.boolProperty(kMarkerHidden)});
                    }
                }
            } else if (f.hasProperty(kInsertPointText) && !points.empty() &&
                       points.back().tag == f.intProperty(kInsertPointText)) {
                points.back().text += richdoc::fragmentText(frag);
            }
        }
    }
    return points;
}

void TRichText::mergeInsertPoints() {
    QTextDocument* doc = document();
    QTextCursor c(doc);
    c.beginEditBlock();
    int pos = 0;
    while (pos < doc->characterCount() - 1) {
        if (doc->characterAt(pos) != QChar::ObjectReplacementCharacter) {
            ++pos;
            continue;
        }
        c.setPosition(pos + 1);
        const QTextCharFormat markerFormat = c.charFormat();
        if (!isMarker(markerFormat)) {
            ++pos;
            continue;
        }
        const int tag = markerFormat.intProperty(kMarkerTag);
        const int textEnd = insertPointTextEnd(doc, pos, tag);
        c.setPosition(pos + 1);
        c.setPosition(textEnd, QTextCursor::KeepAnchor);
        c.removeSelectedText();

        QString answer;
        bool answered = false;
        emit GetTextToInsert(tag, answer, answered);
        const int start = pos + 1;
        if (answered && !answer.isEmpty()) {
            c.setPosition(start);
            if (answer.startsWith(QLatin1String("{\\rtf"))) {
                QTextDocument temp;
                const QByteArray bytes = answer.toLatin1();
                richdoc::modelToDocument(rtf::readRtf(std::string_view(bytes.constData(), bytes.size())), &temp);
                c.insertFragment(QTextDocumentFragment(&temp));
            } else if (answer.startsWith(QLatin1String("<html>"))) {
                c.insertFragment(QTextDocumentFragment::fromHtml(answer));
            } else {
                QString plain = answer;
                plain.remove(QLatin1Char('\n'));
                plain.replace(QLatin1Char('\r'), QChar(QChar::LineSeparator));
                c.insertText(plain, richdoc::plainFormat(markerFormat));
            }
            const int end = c.position();
            QTextCharFormat tagged;
            tagged.setProperty(kInsertPointText, tag);
            c.setPosition(start);
            c.setPosition(end, QTextCursor::KeepAnchor);
            c.mergeCharFormat(tagged);
            pos = end;
        } else {
            pos = start;
        }
    }
    c.endEditBlock();
}

// Painting --------------------------------------------------------------------------------------

int TRichText::paintPage(QPainter& painter, int left, int top, int rightLimit, int bottomLimit, int startLine) {
    return doc_.paintPage(painter, left, top, rightLimit, bottomLimit, startLine, zoom_);
}

// Word walk -------------------------------------------------------------------------------------

void TRichText::wordWalkBegin() {
    walkPos_ = 0;
    wordStart_ = wordEnd_ = 0;
    setExtraSelections({});
}

QString TRichText::wordWalkNext() {
    if (walkPos_ < 0) wordWalkBegin();
    const QTextDocument* doc = document();
    const int last = doc->characterCount() - 1;
    int p = walkPos_;
    while (true) {
        while (p < last && !isWordChar(doc->characterAt(p))) ++p;
        if (p >= last) {
            walkPos_ = last;
            wordStart_ = wordEnd_ = last;
            return {};
        }
        const int start = p;
        bool digits = false;
        while (p < last) {
            const QChar ch = doc->characterAt(p);
            if (isWordChar(ch)) {
                digits = digits || ch.isDigit();
                ++p;
            } else if (isApostrophe(ch) && p + 1 < last && doc->characterAt(p + 1).isLetter()) {
                ++p;
            } else {
                break;
            }
        }
        walkPos_ = p;
        if (digits) continue;
        wordStart_ = start;
        wordEnd_ = p;
        QString word;
        for (int i = start; i < p; ++i) word += doc->characterAt(i);
        word.replace(QChar(0x2019), QLatin1Char('\''));
        return word;
    }
}

void TRichText::wordWalkMark() {
    if (wordEnd_ <= wordStart_) {
        setExtraSelections({});
        return;
    }
    QTextEdit::ExtraSelection mark;
    mark.cursor = QTextCursor(document());
    mark.cursor.setPosition(wordStart_);
    mark.cursor.setPosition(wordEnd_, QTextCursor::KeepAnchor);
    mark.format.setBackground(QColor(255, 255, 0));
    setExtraSelections({mark});
    QTextCursor caret(document());
    caret.setPosition(wordStart_);
    setTextCursor(caret);
    ensureCursorVisible();
}

void TRichText::wordWalkReplace(const QString& text) {
    if (wordEnd_ <= wordStart_) return;
    QTextCursor c(document());
    c.setPosition(wordStart_ + 1);
    const QTextCharFormat format = c.charFormat();
    c.setPosition(wordStart_);
    c.setPosition(wordEnd_, QTextCursor::KeepAnchor);
    c.insertText(text, format);
    wordEnd_ = wordStart_ + static_cast<int>(text.size());
    walkPos_ = wordEnd_;
    if (!extraSelections().isEmpty()) wordWalkMark();
}

void TRichText::wordWalkEnd() {
    walkPos_ = -1;
    wordStart_ = wordEnd_ = 0;
    setExtraSelections({});
}

// Paragraphs ------------------------------------------------------------------------------------

richdoc::ParagraphMetrics TRichText::paragraph() const {
    return richdoc::metricsOf(textCursor().blockFormat(), richdoc::layoutResolution(document()));
}

template <typename Fn>
void TRichText::forSelectedBlocks(Fn fn) {
    const QTextCursor caret = textCursor();
    QTextBlock block = document()->findBlock(caret.selectionStart());
    const QTextBlock last = document()->findBlock(caret.selectionEnd());
    QTextCursor c(document());
    c.beginEditBlock();
    while (block.isValid()) {
        QTextBlockFormat f = block.blockFormat();
        fn(f);
        c.setPosition(block.position());
        c.setBlockFormat(f);
        if (block == last) break;
        block = block.next();
    }
    c.endEditBlock();
}

template <typename Fn>
void TRichText::forSelectedMetrics(Fn change) {
    const double dpi = richdoc::layoutResolution(document());
    forSelectedBlocks([&](QTextBlockFormat& f) {
        richdoc::ParagraphMetrics m = richdoc::metricsOf(f, dpi);
        change(m);
        richdoc::setMetrics(f, m, dpi);
    });
}

void TRichText::setParagraphSpacing(int spaceBefore, int spaceAfter, int lineHeight) {
    forSelectedMetrics([&](richdoc::ParagraphMetrics& m) {
        m.spaceBefore = spaceBefore;
        m.spaceAfter = spaceAfter;
        m.lineHeight = lineHeight;
    });
}

void TRichText::setParagraphIndents(int firstIndent, int leftIndent, int rightIndent) {
    forSelectedMetrics([&](richdoc::ParagraphMetrics& m) {
        m.firstIndent = firstIndent;
        m.leftIndent = leftIndent;
        m.rightIndent = rightIndent;
    });
}

void TRichText::setParagraphAlignment(Qt::Alignment alignment) {
    forSelectedBlocks([&](QTextBlockFormat& f) { f.setAlignment(alignment); });
}

}  // namespace telvane::richtext
