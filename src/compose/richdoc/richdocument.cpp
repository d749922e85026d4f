// RichDocument (see richdocument.h).
#include "compose/richdoc/richdocument.h"

#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

#include "compose/richdoc/richtextformat.h"
#include "compose/rtf/rtfreader.h"
#include "compose/rtf/rtfwriter.h"

namespace telvane::richdoc {
namespace {

// About a page of text.
constexpr int kLongBlockChars = 4000;
// Characters from which a part's text counts as contents whatever it holds.
constexpr int kNonEmptyLength = 256;
// Characters without a line-break opportunity from which a run is an over-long word.
constexpr int kLongWordChars = 256;
// How much wider than the line a long word's unbroken start is kept.
constexpr double kWholeStartLines = 1.5;

// One replacement of part of a fragment by the same text with break opportunities.
struct BrokenPiece {
    int from = 0;  // document positions
    int to = 0;
    QString text;
    QTextCharFormat format;
};

// A block's text with its fragments and boundaries, looked at word by word in text order.
class BlockWords {
public:
    BlockWords(const QTextBlock& b, const QTextDocument* doc, QPaintDevice* device)
        : block_(b), text_(b.text()), graphemes_(QTextBoundaryFinder::Grapheme, text_), doc_(doc), device_(device) {
        for (auto it = b.begin(); !it.atEnd(); ++it) fragments_.push_back(it.fragment());
    }
    const QString& text() const { return text_; }

    // The pieces of the over-long word [start, end) (block positions): after a start wider than
    // any line, a zero-width space at every grapheme boundary that is not before a space.
    // Fragments holding objects (insert-point markers) are left as they are.
    void breakWord(int start, int end, double lineWidth, std::vector<BrokenPiece>& pieces) {
        while (next_ < fragments_.size() && endOf(fragments_[next_]) <= start) ++next_;
        int breakFrom = end;
        double width = 0;
        for (std::size_t f = next_; f < fragments_.size() && breakFrom == end; ++f) {
            const QFont font = fragments_[f].charFormat().font().resolve(doc_->defaultFont());
            const QFontMetricsF metrics(font, device_);
            for (int i = std::max(start, startOf(fragments_[f])); i < std::min(end, endOf(fragments_[f])); ++i) {
                width += metrics.horizontalAdvance(text_.at(i));
                if (width > lineWidth * kWholeStartLines) {
                    breakFrom = i + 1;
                    break;
                }
            }
        }
        for (std::size_t f = next_; f < fragments_.size() && startOf(fragments_[f]) < end; ++f) {
            const int from = std::max(breakFrom, startOf(fragments_[f]));
            const int to = std::min(end, endOf(fragments_[f]));
            if (from >= to || fragments_[f].text().contains(QChar::ObjectReplacementCharacter)) continue;
            BrokenPiece piece{block_.position() + from, block_.position() + to, QString(), fragments_[f].charFormat()};
            piece.text.reserve(2 * (to - from));
            for (int i = from; i < to; ++i) {
                graphemes_.setPosition(i);
                if (i > breakFrom && graphemes_.isAtBoundary() && !text_.at(i).isSpace()) piece.text += QChar(0x200B);
                piece.text += text_.at(i);
            }
            pieces.push_back(std::move(piece));
        }
    }

private:
    int startOf(const QTextFragment& f) const { return f.position() - block_.position(); }
    int endOf(const QTextFragment& f) const { return startOf(f) + f.length(); }

    QTextBlock block_;
    QString text_;
    QTextBoundaryFinder graphemes_;
    const QTextDocument* doc_;
    QPaintDevice* device_;
    std::vector<QTextFragment> fragments_;
    std::size_t next_ = 0;
};

// Qt lays out a word wider than the line by measuring it to its end for every line it fills,
// which is quadratic in the word's length. Each over-long word gets a break opportunity after
// every character once more than a line's width of it has passed: its whole start still moves
// to a line of its own and is broken at the line's end, the rest fills every line to its end,
// as before, and the layout takes time in proportion to the text. The document must not have
// been laid out yet: its first layout would take the quadratic time.
void breakLongWords(QTextDocument* doc, double dpi, double lineWidth) {
    QImage device(1, 1, QImage::Format_Mono);
    const int dotsPerMeter = static_cast<int>(std::lround(dpi / 0.0254));
    device.setDotsPerMeterX(dotsPerMeter);
    device.setDotsPerMeterY(dotsPerMeter);
    std::vector<BrokenPiece> pieces;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        if (b.length() <= kLongWordChars) continue;
        BlockWords words(b, doc, &device);
        QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, words.text());
        int last = 0;
        for (int next = breaks.toNextBoundary(); next >= 0; next = breaks.toNextBoundary()) {
            if (next - last > kLongWordChars) words.breakWord(last, next, lineWidth, pieces);
            last = next;
        }
    }
    // From the end, so that the positions of the pieces before stay valid.
    QTextCursor cursor(doc);
    for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
        cursor.setPosition(it->from);
        cursor.setPosition(it->to, QTextCursor::KeepAnchor);
        cursor.insertText(it->text, it->format);
    }
}

}  // namespace

int twipsToPixels(int twips, double dpi) { return static_cast<int>(std::lround(twips * dpi / 1440.0)); }

RichDocument::RichDocument() : own_(std::make_unique<QTextDocument>()), doc_(own_.get()) {
    doc_->setDefaultFont(QFont(QStringLiteral("Arial"), 12));
    prepareDocument(doc_);
}

RichDocument::RichDocument(QTextDocument* document) : doc_(document) {}

RichDocument::~RichDocument() = default;

void RichDocument::clearAll() {
    doc_->clear();
    prepareDocument(doc_);
    hideMarks_ = false;
}

bool readFileBytes(const QString& path, QByteArray& data, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = QStringLiteral("Cannot open %1: %2").arg(path, file.errorString());
        return false;
    }
    data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error) *error = QStringLiteral("Cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool RichDocument::loadFromFile(const QString& path, QString* error) {
    QByteArray data;
    if (!readFileBytes(path, data, error)) return false;
    setRtf(data);
    return true;
}

bool RichDocument::saveToFile(const QString& path, QString* error) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error) *error = QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray data = rtf();
    if (file.write(data) != data.size() || !file.commit()) {
        if (error) *error = QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

QByteArray RichDocument::rtf() const {
    rtf::Document model = documentToModel(doc_);
    model.hasPageLayout = true;
    model.page = rtf::PageLayout{page_.width,     page_.height,      page_.marginLeft,
                                 page_.marginTop, page_.marginRight, page_.marginBottom};
    const std::string rtf = rtf::writeRtf(model);
    return QByteArray(rtf.data(), static_cast<qsizetype>(rtf.size()));
}

void RichDocument::setRtf(const QByteArray& data) {
    const std::string_view bytes(data.constData(), static_cast<size_t>(data.size()));
    const rtf::Document model = rtf::looksLikeRtf(bytes) ? rtf::readRtf(bytes) : rtf::readPlainText(bytes);
    prepareDocument(doc_);
    modelToDocument(model, doc_);
    if (model.hasPageLayout) {
        page_ = PageLayoutTwips{model.page.width,     model.page.height,      model.page.marginLeft,
                                model.page.marginTop, model.page.marginRight, model.page.marginBottom};
    }
    hideMarks_ = false;
    for (const rtf::Paragraph& p : model.paragraphs) {
        for (const rtf::Run& r : p.runs) hideMarks_ = hideMarks_ || (r.marker && r.format.hidden);
    }
}

QString RichDocument::text() const {
    QString out;
    for (QTextBlock b = doc_->begin(); b.isValid(); b = b.next()) {
        if (b != doc_->begin()) out += QLatin1Char('\n');
        for (auto it = b.begin(); !it.atEnd(); ++it) out += fragmentText(it.fragment());
    }
    return out;
}

QStringList RichDocument::lines() const {
    if (doc_->isEmpty()) return {};
    return text().split(QLatin1Char('\n'));
}

void RichDocument::preparePaintLayout(double dpi, int width) {
    if (paintDoc_ && paintRevision_ == doc_->revision() && paintDpi_ == dpi && paintWidth_ == width) return;
    paintDoc_.reset(doc_->clone());
    QTextDocument* doc = paintDoc_.get();
    doc->setUndoRedoEnabled(false);
    // Every format change below would lay out the whole document again (quadratic in its
    // length): over-long words are broken before anything lays the copy out, the width is set
    // first and all changes go into one edit block.
    breakLongWords(doc, dpi, width);
    doc->setTextWidth(width);
    QTextCursor all(doc);
    all.beginEditBlock();
    prepareDocument(doc);
    applyLayoutResolution(doc, dpi);
    doc->setDocumentMargin(0);
    QTextOption option = doc->defaultTextOption();
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    doc->setDefaultTextOption(option);
    // Fax pages are black and white: glyphs without grey edges.
    all.select(QTextCursor::Document);
    QTextCharFormat crisp;
    crisp.setFontStyleStrategy(QFont::NoAntialias);
    all.mergeCharFormat(crisp);
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        QTextCursor bc(b);
        QTextCharFormat mark = b.charFormat();
        mark.merge(crisp);
        bc.setBlockCharFormat(mark);
        // A block's layout drops its script items and glyphs after each layout and draw, so every
        // page of a long paragraph would analyse the whole paragraph again (quadratic in its
        // length): blocks that can run over several pages keep theirs.
        if (b.length() > kLongBlockChars) b.layout()->setCacheEnabled(true);
    }
    all.endEditBlock();

    paintLines_.clear();
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        const QTextLayout* layout = b.layout();
        const QRectF box = doc->documentLayout()->blockBoundingRect(b);
        const bool breakBefore = startsNewPage(b);
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            const double top = box.top() + line.y();
            paintLines_.push_back(PaintLine{top, top + line.height(), breakBefore && i == 0});
        }
    }
    paintRevision_ = doc_->revision();
    paintDpi_ = dpi;
    paintWidth_ = width;
}

int RichDocument::paintPage(QPainter& painter, int left, int top, int rightLimit, int bottomLimit, int startLine,
                            int zoom) {
    const double deviceDpi =
        painter.device() && painter.device()->logicalDpiY() > 0 ? painter.device()->logicalDpiY() : 96;
    const double dpi = deviceDpi * zoom / 100.0;
    const int pageTextWidth = twipsToPixels(page_.width - page_.marginLeft - page_.marginRight, dpi);
    const int pageTextHeight = twipsToPixels(page_.height - page_.marginTop - page_.marginBottom, dpi);
    const int width = std::max(1, std::min(rightLimit - left, pageTextWidth > 0 ? pageTextWidth : rightLimit - left));
    const int height =
        std::max(1, std::min(bottomLimit - top, pageTextHeight > 0 ? pageTextHeight : bottomLimit - top));
    preparePaintLayout(dpi, width);

    const int count = static_cast<int>(paintLines_.size());
    if (startLine < 0 || startLine >= count) return 0;
    const double pageTop = paintLines_[startLine].top;
    int end = startLine;
    while (end < count) {
        const PaintLine& line = paintLines_[end];
        if (end > startLine && (line.breakBefore || line.bottom - pageTop > height)) break;
        ++end;
    }
    const double pageBottom = paintLines_[end - 1].bottom;

    painter.save();
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.translate(left, top - pageTop);
    const QRectF clip(0, pageTop, width, pageBottom - pageTop);
    painter.setClipRect(clip, Qt::IntersectClip);
    QAbstractTextDocumentLayout::PaintContext context;
    context.clip = clip;
    context.palette.setColor(QPalette::Text, Qt::black);
    paintDoc_->documentLayout()->draw(&painter, context);
    painter.restore();
    return end < count ? end : 0;
}

bool isEmpty(const RichDocument& document) {
    const QString text = document.text();
    if (text.isEmpty()) return true;
    if (text.size() >= kNonEmptyLength) return false;
    // Under 256 characters there are at most 256 lines: all of them are looked at, so that text
    // below 200 blank lines still counts.
    for (const QString& line : document.lines()) {
        if (!line.trimmed().isEmpty()) return false;
    }
    return true;
}

}  // namespace telvane::richdoc
