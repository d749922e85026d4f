// Conversions between the RTF model and QTextDocument, paragraph metrics and insert-point markers.
#include "compose/richdoc/richtextformat.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <cmath>
#include <map>

namespace telvane::richdoc {
namespace {

constexpr double kDefaultDpi = 96.0;
constexpr const char* kDeviceName = "telvane-layout-device";
constexpr const char* kDefaultFontName = "Arial";

// The paint device whose resolution the document is laid out for; a child of the document.
class LayoutDevice : public QObject {
public:
    explicit LayoutDevice(QObject* parent) : QObject(parent), image(1, 1, QImage::Format_Mono) {
        setObjectName(kDeviceName);
    }
    QImage image;
    double dpi = kDefaultDpi;
};

LayoutDevice* deviceOf(const QTextDocument* doc) {
    return doc->findChild<LayoutDevice*>(kDeviceName, Qt::FindDirectChildrenOnly);
}

int toPixels(int twips, double dpi) { return static_cast<int>(std::lround(twips * dpi / kTwipsPerInch)); }

// QTextDocumentLayout takes space before and after a paragraph and fixed or least line heights in
// units of 1/96 inch and scales them to its paint device itself (indents it takes in device
// pixels): these are given in those units, never in pixels of the layout's resolution, or they
// would count that resolution twice.
constexpr double kQtReferenceDpi = 96.0;

double toReferenceUnits(int twips) { return twips * kQtReferenceDpi / kTwipsPerInch; }

int toTwips(double pixels, double dpi) { return static_cast<int>(std::lround(pixels * kTwipsPerInch / dpi)); }

int twipsProperty(const QTextBlockFormat& f, int property, double pixels, double dpi) {
    return f.hasProperty(property) ? f.intProperty(property) : toTwips(pixels, dpi);
}

QString fromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

std::string toUtf8(const QString& s) {
    const QByteArray b = s.toUtf8();
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}

QTextCharFormat charFormatOf(const rtf::Document& model, const rtf::CharFormat& c) {
    QTextCharFormat f;
    QString name;
    if (c.font >= 0 && c.font < static_cast<int>(model.fonts.size())) name = fromUtf8(model.fonts[c.font].name);
    f.setFontFamilies({name.isEmpty() ? QString(kDefaultFontName) : name});
    f.setFontPointSize(c.halfPoints / 2.0);
    f.setFontWeight(c.bold ? QFont::Bold : QFont::Normal);
    f.setFontItalic(c.italic);
    f.setFontUnderline(c.underline);
    if (c.color > 0 && c.color < static_cast<int>(model.colors.size())) {
        const rtf::Color& col = model.colors[c.color];
        f.setForeground(QColor(col.red, col.green, col.blue));
    }
    return f;
}

QTextBlockFormat blockFormatOf(const rtf::ParaFormat& p, double dpi) {
    QTextBlockFormat f;
    switch (p.align) {
    case rtf::Align::Left: f.setAlignment(Qt::AlignLeft); break;
    case rtf::Align::Right: f.setAlignment(Qt::AlignRight); break;
    case rtf::Align::Center: f.setAlignment(Qt::AlignHCenter); break;
    case rtf::Align::Justify: f.setAlignment(Qt::AlignJustify); break;
    }
    if (p.pageBreakBefore) setPageBreak(f);
    ParagraphMetrics m;
    m.leftIndent = p.leftIndent;
    m.firstIndent = p.leftIndent + p.firstIndent;
    m.rightIndent = p.rightIndent;
    m.spaceBefore = p.spaceBefore;
    m.spaceAfter = p.spaceAfter;
    m.lineHeight = p.lineHeight;
    setMetrics(f, m, dpi);
    return f;
}

QString runText(const std::string& utf8) {
    QString s = fromUtf8(utf8);
    s.replace(QLatin1Char('\n'), QChar(QChar::LineSeparator));
    return s;
}

// Collects fonts and colours while the model is built.
class ModelBuilder {
public:
    ModelBuilder(rtf::Document& model, const QFont& defaultFont) : model_(model), default_(defaultFont) {
        model_.colors.push_back(rtf::Color{});
    }

    rtf::CharFormat charFormat(const QTextCharFormat& f) {
        rtf::CharFormat c;
        const QStringList families = f.fontFamilies().toStringList();
        QString name = families.isEmpty() ? default_.family() : families.first();
        if (name.isEmpty()) name = kDefaultFontName;
        c.font = fontIndex(name);
        const double points = f.fontPointSize() > 0 ? f.fontPointSize() : default_.pointSizeF();
        c.halfPoints = points > 0 ? static_cast<int>(std::lround(points * 2)) : 24;
        c.bold = f.fontWeight() >= QFont::DemiBold;
        c.italic = f.fontItalic();
        c.underline = f.fontUnderline();
        if (f.hasProperty(QTextFormat::ForegroundBrush) && f.foreground().style() != Qt::NoBrush) {
            const QColor col = f.foreground().color();
            if (col != QColor(Qt::black)) c.color = colorIndex(col);
        }
        return c;
    }

private:
    int fontIndex(const QString& name) {
        const auto it = fonts_.find(name);
        if (it != fonts_.end()) return it->second;
        const int index = static_cast<int>(model_.fonts.size());
        rtf::Font font;
        font.name = toUtf8(name);
        font.family = "swiss";
        model_.fonts.push_back(font);
        fonts_[name] = index;
        return index;
    }

    int colorIndex(const QColor& c) {
        const rtf::Color col{static_cast<uint8_t>(c.red()), static_cast<uint8_t>(c.green()),
                             static_cast<uint8_t>(c.blue())};
        for (size_t i = 1; i < model_.colors.size(); ++i) {
            if (model_.colors[i] == col) return static_cast<int>(i);
        }
        model_.colors.push_back(col);
        return static_cast<int>(model_.colors.size()) - 1;
    }

    rtf::Document& model_;
    const QFont default_;
    std::map<QString, int> fonts_;
};

// Pixel font for a character format at the given resolution: pixel sizes are not rescaled by the
// device a painter happens to paint on.
QFont pixelFont(const QTextCharFormat& f, double dpi) {
    QFont font = f.font();
    const double points = f.fontPointSize() > 0 ? f.fontPointSize() : 12.0;
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(points * dpi / 72.0))));
    return font;
}

}  // namespace

void prepareDocument(QTextDocument* doc) {
    auto* handler = doc->findChild<MarkerObject*>(QString(), Qt::FindDirectChildrenOnly);
    if (!handler) handler = new MarkerObject(doc);
    doc->documentLayout()->registerHandler(kMarkerObjectType, handler);
    if (LayoutDevice* device = deviceOf(doc)) doc->documentLayout()->setPaintDevice(&device->image);
}

double layoutResolution(const QTextDocument* doc) {
    const LayoutDevice* device = deviceOf(doc);
    return device ? device->dpi : kDefaultDpi;
}

void applyLayoutResolution(QTextDocument* doc, double dpi) {
    const double old = layoutResolution(doc);
    LayoutDevice* device = deviceOf(doc);
    if (!device) device = new LayoutDevice(doc);
    device->dpi = dpi;
    const int dotsPerMeter = static_cast<int>(std::lround(dpi / 0.0254));
    device->image.setDotsPerMeterX(dotsPerMeter);
    device->image.setDotsPerMeterY(dotsPerMeter);
    doc->documentLayout()->setPaintDevice(&device->image);

    const bool modified = doc->isModified();
    const bool undo = doc->isUndoRedoEnabled();
    doc->setUndoRedoEnabled(false);
    QTextCursor cursor(doc);
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        QTextBlockFormat f = b.blockFormat();
        setMetrics(f, metricsOf(f, old), dpi);
        if (f != b.blockFormat()) {
            cursor.setPosition(b.position());
            cursor.setBlockFormat(f);
        }
    }
    doc->setUndoRedoEnabled(undo);
    doc->setModified(modified);
    doc->markContentsDirty(0, doc->characterCount());
}

ParagraphMetrics metricsOf(const QTextBlockFormat& f, double dpi) {
    ParagraphMetrics m;
    m.leftIndent = twipsProperty(f, kLeftIndentTwips, f.leftMargin(), dpi);
    m.firstIndent = m.leftIndent + twipsProperty(f, kFirstIndentTwips, f.textIndent(), dpi);
    m.rightIndent = twipsProperty(f, kRightIndentTwips, f.rightMargin(), dpi);
    m.spaceBefore = twipsProperty(f, kSpaceBeforeTwips, f.topMargin(), kQtReferenceDpi);
    m.spaceAfter = twipsProperty(f, kSpaceAfterTwips, f.bottomMargin(), kQtReferenceDpi);
    if (f.hasProperty(kLineHeightTwips)) {
        m.lineHeight = f.intProperty(kLineHeightTwips);
    } else if (f.lineHeightType() == QTextBlockFormat::FixedHeight) {
        m.lineHeight = -toTwips(f.lineHeight(), kQtReferenceDpi);
    } else if (f.lineHeightType() == QTextBlockFormat::MinimumHeight) {
        m.lineHeight = toTwips(f.lineHeight(), kQtReferenceDpi);
    }
    return m;
}

void setMetrics(QTextBlockFormat& f, const ParagraphMetrics& m, double dpi) {
    const int fi = m.firstIndent - m.leftIndent;
    f.setProperty(kFirstIndentTwips, fi);
    f.setProperty(kLeftIndentTwips, m.leftIndent);
    f.setProperty(kRightIndentTwips, m.rightIndent);
    f.setProperty(kSpaceBeforeTwips, m.spaceBefore);
    f.setProperty(kSpaceAfterTwips, m.spaceAfter);
    f.setProperty(kLineHeightTwips, m.lineHeight);
    f.setTextIndent(toPixels(fi, dpi));
    f.setLeftMargin(toPixels(m.leftIndent, dpi));
    f.setRightMargin(toPixels(m.rightIndent, dpi));
    f.setTopMargin(toReferenceUnits(m.spaceBefore));
    f.setBottomMargin(toReferenceUnits(m.spaceAfter));
    if (m.lineHeight > 0) {
        f.setLineHeight(toReferenceUnits(m.lineHeight), QTextBlockFormat::MinimumHeight);
    } else if (m.lineHeight < 0) {
        f.setLineHeight(toReferenceUnits(-m.lineHeight), QTextBlockFormat::FixedHeight);
    } else {
        f.setLineHeight(0, QTextBlockFormat::SingleHeight);
    }
}

int newPageBreakId() {
    static int last = 0;
    return ++last;
}

void setPageBreak(QTextBlockFormat& f) {
    f.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    f.setProperty(kPageBreakId, newPageBreakId());
}

bool startsNewPage(const QTextBlock& block) {
    const QTextBlock previous = block.previous();
    if (previous.isValid() && (previous.blockFormat().pageBreakPolicy() & QTextFormat::PageBreak_AlwaysAfter)) {
        return true;
    }
    const QTextBlockFormat f = block.blockFormat();
    if (!(f.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore)) return false;
    if (!previous.isValid()) return true;
    const QTextBlockFormat pf = previous.blockFormat();
    const bool copied = f.hasProperty(kPageBreakId) && (pf.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore) &&
                        pf.intProperty(kPageBreakId) == f.intProperty(kPageBreakId);
    return !copied;
}

bool isMarker(const QTextCharFormat& f) { return f.objectType() == kMarkerObjectType; }

QString fragmentText(const QTextFragment& frag) {
    QString out;
    const QTextCharFormat cf = frag.charFormat();
    const bool marker = isMarker(cf);
    for (const QChar c : frag.text()) {
        if (c == QChar::ObjectReplacementCharacter) {
            if (marker && !cf.boolProperty(kMarkerHidden)) out += QLatin1Char('*');
        } else if (c == QChar::LineSeparator) {
            out += QLatin1Char('\n');
        } else {
            out += c;
        }
    }
    return out;
}

QTextCharFormat markerFormat(const QTextCharFormat& base, int tag, bool hidden) {
    QTextCharFormat f = plainFormat(base);
    f.setObjectType(kMarkerObjectType);
    f.setProperty(kMarkerTag, tag);
    f.setProperty(kMarkerHidden, hidden);
    return f;
}

QTextCharFormat plainFormat(QTextCharFormat f) {
    f.clearProperty(QTextFormat::ObjectType);
    f.clearProperty(kMarkerTag);
    f.clearProperty(kMarkerHidden);
    f.clearProperty(kInsertPointText);
    return f;
}

void modelToDocument(const rtf::Document& model, QTextDocument* doc) {
    const double dpi = layoutResolution(doc);
    const bool undo = doc->isUndoRedoEnabled();
    doc->setUndoRedoEnabled(false);
    doc->clear();
    QTextCursor c(doc);
    for (size_t i = 0; i < model.paragraphs.size(); ++i) {
        const rtf::Paragraph& p = model.paragraphs[i];
        const QTextBlockFormat bf = blockFormatOf(p.format, dpi);
        const QTextCharFormat mark = charFormatOf(model, p.mark);
        if (i == 0) {
            c.setBlockFormat(bf);
            c.setBlockCharFormat(mark);
        } else {
            c.insertBlock(bf, mark);
        }
        for (const rtf::Run& r : p.runs) {
            QTextCharFormat cf = charFormatOf(model, r.format);
            if (r.marker) {
                c.insertText(QString(QChar::ObjectReplacementCharacter),
                             markerFormat(cf, r.insertPoint, r.format.hidden));
                continue;
            }
            if (r.insertPoint > 0) cf.setProperty(kInsertPointText, r.insertPoint);
            c.insertText(runText(r.text), cf);
        }
    }
    doc->setUndoRedoEnabled(undo);
    doc->setModified(false);
}

rtf::Document documentToModel(const QTextDocument* doc) {
    const double dpi = layoutResolution(doc);
    rtf::Document model;
    ModelBuilder builder(model, doc->defaultFont());
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        const QTextBlockFormat bf = b.blockFormat();
        rtf::Paragraph p;
        const Qt::Alignment align = bf.alignment() & Qt::AlignHorizontal_Mask;
        if (align & Qt::AlignRight) {
            p.format.align = rtf::Align::Right;
        } else if (align & Qt::AlignHCenter) {
            p.format.align = rtf::Align::Center;
        } else if (align & Qt::AlignJustify) {
            p.format.align = rtf::Align::Justify;
        }
        const ParagraphMetrics m = metricsOf(bf, dpi);
        p.format.leftIndent = m.leftIndent;
        p.format.firstIndent = m.firstIndent - m.leftIndent;
        p.format.rightIndent = m.rightIndent;
        p.format.spaceBefore = m.spaceBefore;
        p.format.spaceAfter = m.spaceAfter;
        p.format.lineHeight = m.lineHeight;
        p.format.pageBreakBefore = b != doc->begin() && startsNewPage(b);
        p.mark = builder.charFormat(b.charFormat());
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment frag = it.fragment();
            const QTextCharFormat cf = frag.charFormat();
            rtf::CharFormat format = builder.charFormat(cf);
            if (isMarker(cf)) {
                format.hidden = cf.boolProperty(kMarkerHidden);
                for (qsizetype i = 0; i < frag.length(); ++i) {
                    p.runs.push_back(rtf::Run{rtf::kInsertPointMarker, format, cf.intProperty(kMarkerTag), true});
                }
                continue;
            }
            QString text = frag.text();
            text.replace(QChar(QChar::LineSeparator), QLatin1Char('\n'));
            text.remove(QChar(QChar::ObjectReplacementCharacter));
            if (text.isEmpty()) continue;
            p.runs.push_back(rtf::Run{toUtf8(text), format, cf.intProperty(kInsertPointText), false});
        }
        model.paragraphs.push_back(std::move(p));
    }
    return model;
}

QSizeF MarkerObject::intrinsicSize(QTextDocument* doc, int, const QTextFormat& format) {
    if (format.boolProperty(kMarkerHidden)) return QSizeF(0, 0);
    const QFontMetricsF fm(pixelFont(format.toCharFormat(), layoutResolution(doc)));
    return QSizeF(fm.horizontalAdvance(QLatin1Char('*')), fm.ascent());
}

void MarkerObject::drawObject(QPainter* painter, const QRectF& rect, QTextDocument* doc, int,
                              const QTextFormat& format) {
    if (format.boolProperty(kMarkerHidden)) return;
    const QTextCharFormat cf = format.toCharFormat();
    painter->save();
    painter->setFont(pixelFont(cf, layoutResolution(doc)));
    if (cf.hasProperty(QTextFormat::ForegroundBrush)) painter->setPen(cf.foreground().color());
    painter->drawText(QPointF(rect.left(), rect.bottom()), QStringLiteral("*"));
    painter->restore();
}

}  // namespace telvane::richdoc
