// TRichText: the rich-text word-processor control of the fax editor, the cover template editor and
// rendering. Built on QTextEdit. It reads and writes RTF (its stored format), keeps a page layout in
// twips, zooms, wraps or not, holds insert points (marker + numeric tag + placeholder text) that
// survive RTF storage and are merged through GetTextToInsert, paints one fax page at a time with
// pagination at page breaks, walks the text word by word for the spell checker, and reads and sets
// paragraph indents and spacing in twips.
// Layout follows the resolution: on screen it is the screen's resolution times the zoom; when
// painting a page it is the painter device's resolution times the zoom, so text keeps its true size.
// The document itself (RTF, text, page layout, page painting) is a richdoc::RichDocument over the
// control's QTextDocument, the same code that renders a fax without a window.
#pragma once

#include <QImage>
#include <QStringList>
#include <QTextEdit>
#include <memory>
#include <vector>

#include "compose/richdoc/richdocument.h"
#include "compose/richdoc/richtextformat.h"

class QPainter;

namespace telvane::richtext {

// Character attributes as the editors use them; style bits: bold 1, italic 2, underline 4.
struct TextAttributes {
    QString name;
    int size = 12;
    int style = 0;
};
inline constexpr int kStyleBold = 1;
inline constexpr int kStyleItalic = 2;
inline constexpr int kStyleUnderline = 4;

struct InsertPointInfo {
    int tag = 0;
    QString text;
    bool markerHidden = false;
};

class TRichText : public QTextEdit {
    Q_OBJECT
public:
    explicit TRichText(QWidget* parent = nullptr);
    ~TRichText() override;

    // The document without the window (what rendering paints).
    richdoc::RichDocument& richDocument() { return doc_; }
    const richdoc::RichDocument& richDocument() const { return doc_; }

    // Content -------------------------------------------------------------------------------------
    void clearAll();
    // Loads RTF (or plain text when the file is not RTF). On failure the content is unchanged and
    // error (when given) says why.
    bool loadFromFile(const QString& path, QString* error = nullptr);
    // Writes RTF; the file is replaced only when the whole of it was written.
    bool saveToFile(const QString& path, QString* error = nullptr) const;
    QByteArray rtf() const;
    void setRtf(const QByteArray& rtf);
    void repaintDocument();
    void reLayout();

    // The text with paragraphs separated by '\n'; visible markers are '*', hidden ones are left out.
    QString text() const;
    int textLength() const;
    QStringList lines() const;

    // Layout and view -------------------------------------------------------------------------------
    void setPageLayout(const richdoc::PageLayoutTwips& layout);
    richdoc::PageLayoutTwips pageLayout() const { return doc_.pageLayout(); }
    void moveToStart();
    int Zooming() const { return zoom_; }
    void setZooming(int percent);
    bool WordWrap() const { return wordWrap_; }
    void setWordWrap(bool on);

    // Character attributes ------------------------------------------------------------------------
    TextAttributes currentAttributes() const;
    // Attributes for text typed next (and for the selection, when there is one).
    void setInputAttributes(const TextAttributes& attributes);

    void insertPageBreak();

    // Insert points -------------------------------------------------------------------------------
    // Inserts marker and red placeholder at the caret; tag <= 0 is refused with a message.
    bool insertInsertPoint(int tag, const QString& text);
    void setHideInsertPointMarks(bool hide);
    bool hideInsertPointMarks() const { return doc_.hideInsertPointMarks(); }
    std::vector<InsertPointInfo> insertPoints() const;
    // Visits every insert point in text order and replaces its text by the answer of
    // GetTextToInsert ("{\rtf" answers as RTF, "<html>" answers as HTML, others as plain text in the
    // marker's attributes, CR a line break, LF dropped); without answer the text is removed.
    void mergeInsertPoints();

    // Painting ------------------------------------------------------------------------------------
    // Paints one page into the rectangle from (left, top) to the limits (exclusive), starting at
    // layout line startLine, and returns the first line not painted, or 0 when the text is done.
    // A page also ends before a paragraph that starts a new page.
    int paintPage(QPainter& painter, int left, int top, int rightLimit, int bottomLimit, int startLine);

    // Word walk for the spell checker ---------------------------------------------------------------
    void wordWalkBegin();
    QString wordWalkNext();  // empty at the end
    void wordWalkMark();
    void wordWalkReplace(const QString& text);
    void wordWalkEnd();

    // Paragraph at the caret (twips) ----------------------------------------------------------------
    richdoc::ParagraphMetrics paragraph() const;
    void setParagraphSpacing(int spaceBefore, int spaceAfter, int lineHeight);
    void setParagraphIndents(int firstIndent, int leftIndent, int rightIndent);
    void setParagraphAlignment(Qt::Alignment alignment);

protected:
    // Enter starts a paragraph that keeps the paragraph settings and the typing attributes (Qt's
    // own split left the new paragraph without them, so the size fell back to the default).
    void keyPressEvent(QKeyEvent* event) override;

signals:
    // Asked once per insert point during MergeInsertPoints; set answered to give text.
    void GetTextToInsert(int tag, QString& text, bool& answered);
    void StartSpellCheck();

private:
    double screenResolution() const;
    double viewResolution() const;
    void applyView();
    void cleanTypingFormat(const QTextCharFormat& format);
    template <typename Fn>
    void forSelectedBlocks(Fn fn);
    // Changes the twip metrics of every selected paragraph.
    template <typename Fn>
    void forSelectedMetrics(Fn change);

    richdoc::RichDocument doc_;
    int zoom_ = 100;
    bool wordWrap_ = false;

    int walkPos_ = -1;
    int wordStart_ = 0;
    int wordEnd_ = 0;
};

}  // namespace telvane::richtext
