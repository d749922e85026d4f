// RichDocument: a rich-text document without a window (Qt GUI only). It reads and writes RTF (or
// plain text), keeps its page layout in twips and whether insert-point markers are hidden, gives
// its text line by line, and paints one fax page at a time with pagination at page breaks. The
// editors' control TRichText keeps its document in one; rendering uses two of its own.
// Layout follows the resolution: a page is laid out at the painter device's resolution times the
// zoom, so text keeps its true size on a 200 dpi fax page.
// Guarantees: a load that fails leaves the content unchanged and says why; a save replaces the
// file only when the whole of it was written; painting never changes the document (it paints a
// copy laid out for the page, made again only when the text, resolution or width changed).
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class QPainter;
class QTextDocument;

namespace telvane::richdoc {

// The page in twips; the default is US Letter with 720-twip margins.
struct PageLayoutTwips {
    int width = 12240;
    int height = 15840;
    int marginLeft = 720, marginTop = 720, marginRight = 720, marginBottom = 720;
};

// Zoom limits in percent.
inline constexpr int kMinZoom = 10;
inline constexpr int kMaxZoom = 500;

class RichDocument {
public:
    // A document of its own (default font Arial 12).
    RichDocument();
    // The document of a control, which owns it and outlives this object.
    explicit RichDocument(QTextDocument* document);
    ~RichDocument();
    RichDocument(const RichDocument&) = delete;
    RichDocument& operator=(const RichDocument&) = delete;

    QTextDocument* document() const { return doc_; }

    // Empties the content; the page layout stays.
    void clearAll();
    // Loads RTF (or plain text when the file is not RTF). On failure the content is unchanged and
    // error (when given) says why.
    bool loadFromFile(const QString& path, QString* error = nullptr);
    // Writes RTF; the file is replaced only when the whole of it was written.
    bool saveToFile(const QString& path, QString* error = nullptr) const;
    QByteArray rtf() const;
    // Replaces the content (and the page layout, when the RTF has one of its own).
    void setRtf(const QByteArray& rtf);

    // The text with paragraphs separated by '\n'; visible markers are '*', hidden ones are left out.
    QString text() const;
    QStringList lines() const;

    PageLayoutTwips pageLayout() const { return page_; }
    void setPageLayout(const PageLayoutTwips& layout) { page_ = layout; }
    bool hideInsertPointMarks() const { return hideMarks_; }
    void setHideInsertPointMarks(bool hide) { hideMarks_ = hide; }

    // Paints one page into the rectangle from (left, top) to the limits (exclusive), starting at
    // layout line startLine, laid out at the device's resolution times zoom percent, and returns
    // the first line not painted, or 0 when the text is done. A page also ends before a paragraph
    // that starts a new page.
    int paintPage(QPainter& painter, int left, int top, int rightLimit, int bottomLimit, int startLine, int zoom);

private:
    struct PaintLine {
        double top = 0;
        double bottom = 0;
        bool breakBefore = false;
    };
    void preparePaintLayout(double dpi, int width);

    std::unique_ptr<QTextDocument> own_;
    QTextDocument* doc_;
    PageLayoutTwips page_;
    bool hideMarks_ = false;

    // Layout used for painting pages, rebuilt when the text, resolution or width changes.
    std::unique_ptr<QTextDocument> paintDoc_;
    std::vector<PaintLine> paintLines_;
    int paintRevision_ = -1;
    double paintDpi_ = 0;
    int paintWidth_ = 0;
};

// The whole of a file; false (and error, when given, says why) when it cannot be opened or read.
bool readFileBytes(const QString& path, QByteArray& data, QString* error = nullptr);

// Twips at dpi pixels per inch, rounded.
int twipsToPixels(int twips, double dpi);

// The empty test of a fax part: no text; or under 256 characters with every line blank after
// trimming.
bool isEmpty(const RichDocument& document);

}  // namespace telvane::richdoc
