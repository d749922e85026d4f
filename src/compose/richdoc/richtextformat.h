// Bridge between the RTF model and Qt's rich-text document: the properties a RichDocument keeps in
// QTextFormat objects (paragraph metrics in twips, insert points), the inline object that draws an
// insert point's marker, and the conversions in both directions. Paragraph metrics live in twips
// properties; ApplyLayoutResolution derives Qt's pixel values from them for a given resolution, so
// the same document lays out true to size on the screen, zoomed, or on a 200 dpi fax page.
#pragma once

#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextObjectInterface>

#include "compose/rtf/rtfdocument.h"

class QTextBlock;
class QTextDocument;
class QTextFragment;
class QTextCursor;

namespace telvane::richdoc {

// Custom format properties.
enum Property {
    kFirstIndentTwips = QTextFormat::UserProperty + 1,  // relative to the left indent
    kLeftIndentTwips,
    kRightIndentTwips,
    kSpaceBeforeTwips,
    kSpaceAfterTwips,
    kLineHeightTwips,  // 0 automatic, > 0 at least, < 0 exactly
    kMarkerTag,        // on an insert point's marker: its tag
    kMarkerHidden,     // on an insert point's marker: drawn with no width
    kInsertPointText,  // on the characters of an insert point's text: the tag
    kPageBreakId,      // on a paragraph that starts a page: the id of that page break
};

inline constexpr int kMarkerObjectType = QTextFormat::UserObject + 1;
inline constexpr double kTwipsPerInch = 1440.0;

// The six paragraph values in twips; firstIndent is where the first line starts, measured like
// the left indent.
struct ParagraphMetrics {
    int firstIndent = 0;
    int leftIndent = 0;
    int rightIndent = 0;
    int spaceBefore = 0;
    int spaceAfter = 0;
    int lineHeight = 0;
    bool operator==(const ParagraphMetrics&) const = default;
};

// Registers the marker's drawing on the document's layout (again after the layout is replaced).
void prepareDocument(QTextDocument* doc);

// The resolution the document is laid out at (pixels per inch); 96 until set.
double layoutResolution(const QTextDocument* doc);

// Lays the document out at dpi pixels per inch: fonts and every paragraph metric at true size.
void applyLayoutResolution(QTextDocument* doc, double dpi);

ParagraphMetrics metricsOf(const QTextBlockFormat& f, double dpi);
// Stores metrics in the format, in twips and in what Qt's layout takes: indents in pixels at dpi,
// paragraph spacing and line heights in 1/96 inch (the layout scales those to its device).
void setMetrics(QTextBlockFormat& f, const ParagraphMetrics& m, double dpi);

// A page break is the "page break before" policy of a paragraph together with an id of its own.
// Splitting a paragraph copies its format, id included; a paragraph whose break carries the id of
// the paragraph before it is such a copy and does not start a page.
int newPageBreakId();
void setPageBreak(QTextBlockFormat& f);
bool startsNewPage(const QTextBlock& block);

bool isMarker(const QTextCharFormat& f);
QTextCharFormat markerFormat(const QTextCharFormat& base, int tag, bool hidden);
// The format with every insert-point property removed.
QTextCharFormat plainFormat(QTextCharFormat f);
// A fragment as plain text: a shown insert point's marker reads '*', a hidden one nothing, a line
// separator '\n'.
QString fragmentText(const QTextFragment& frag);

// Replaces the content of doc with the model (the page layout is not part of the document).
void modelToDocument(const rtf::Document& model, QTextDocument* doc);
rtf::Document documentToModel(const QTextDocument* doc);

// Draws an insert point's marker character, or nothing (zero width) when the marker is hidden.
class MarkerObject : public QObject, public QTextObjectInterface {
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)
public:
    using QObject::QObject;
    QSizeF intrinsicSize(QTextDocument* doc, int posInDocument, const QTextFormat& format) override;
    void drawObject(QPainter* painter, const QRectF& rect, QTextDocument* doc, int posInDocument,
                    const QTextFormat& format) override;
};

}  // namespace telvane::richdoc
