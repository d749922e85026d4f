// TFaxEditor: the modal window in which one outgoing fax is written: recipient, fax number and
// subject on the "Recipient" page, the cover sheet and the document as two rich-text parts, each
// with its tool bar. It never touches the outgoing log; its callers fill it and read it back.
// Guarantees: the page buttons act as one radio group and the zoom button shows the zoom of the
// part on display (hidden on the "Recipient" page); each return from one of its own windows
// (phone book, template browser, paragraph dialog, spell check) shows the "Recipient" page with both parts
// re-laid-out and their caret and view at the start, while a plain message box does not; a
// template loaded into the cover sheet has its merge fields replaced by the values of that moment.
// Result: 1 after Accept, 2 after Cancel; the window placement is kept in the settings file.
#pragma once

#include <string>

#include "compose/editorkit/editorwindow.h"
#include "compose/editorkit/partbuttons.h"

class QButtonGroup;
class QPushButton;
class QStackedWidget;
class QToolButton;

namespace telvane {

class TEnterEdit;
class TRichText;
class TRichToolBar;
class TZoomButton;

class TFaxEditor : public EditorWindow {
    Q_OBJECT
public:
    enum Page { CoverPage = 0, DocumentPage = 1, RecipientPage = 2 };
    static constexpr int kRecipientLength = 35;
    static constexpr int kFaxNumberLength = 25;
    static constexpr int kSubjectLength = 50;

    explicit TFaxEditor(std::string programDir, QWidget* parent = nullptr);
    ~TFaxEditor() override;

    Page currentPage() const;

    // Value a merge field takes now (recipient, number, subject, date, time), cut to 100 characters;
    // a null string for a tag without a value.
    QString mergeFieldValue(int tag) const;

    // Handlers.
    void recipientButtonClick();
    void documentButtonClick();
    void coverButtonClick();
    void addressButtonClick();
    void loadCoverButtonClick();
    // The tool bar's spell-check icon on either part: the "Spell Check" dialog for that part.
    void richStartSpellCheck(TRichText* part);
    void FormActivate();

    // Controls.
    QStackedWidget* Notebook = nullptr;
    TEnterEdit* Recipient = nullptr;
    TEnterEdit* FaxNumber = nullptr;
    TEnterEdit* Subject = nullptr;
    QPushButton* AddressButton = nullptr;
    TRichToolBar* RichToolCover = nullptr;
    TRichText* RichCover = nullptr;
    TRichToolBar* RichToolDoc = nullptr;
    TRichText* RichDoc = nullptr;
    PartButtons CoverButtons;  // CoverDocPageBreakButton, CoverParagraphSetupbutton, ...
    PartButtons DocButtons;    // DocPageBreakButton, ParagraphSetupButton, DocWordWrapButton, DocDefFontbutton
    QToolButton* LoadCoverButton = nullptr;
    QPushButton* Helpbutton = nullptr;
    QPushButton* RecipientButton = nullptr;
    QPushButton* DocumentButton = nullptr;
    QPushButton* CoverButton = nullptr;
    TZoomButton* Zoombutton = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;

protected:
    void firstShow() override;
    // Accept: a fax number the modem could not dial is refused on the Recipient page.
    void acceptClick() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* buildRecipientPage();
    QWidget* buildPartPage(TRichToolBar*& bar, TRichText*& part, const char* barName, const char* partName);
    QWidget* buildBottomPanel();
    void showPage(Page page);
    // The part whose page button is down: the document for "Fax Document", else the cover.
    TRichText* zoomTarget() const;
    void answerMergeField(int tag, QString& text, bool& answered);

    QButtonGroup* pageButtons_ = nullptr;
};

}  // namespace telvane
