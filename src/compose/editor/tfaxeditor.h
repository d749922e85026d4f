// TFaxEditor: the modal window in which one outgoing fax is written: recipient, fax number and
// subject on the "Recipient" page, the cover sheet and the document as two rich-text parts, each
// with its tool bar. It never touches the outgoing log; its callers fill it and read it back.
// Guarantees: the page buttons act as one radio group and the zoom button shows the zoom of the
// part on display (hidden on the "Recipient" page); each return from one of its own windows
// (phone book, template browser, paragraph dialog, spell check) shows the "Recipient" page with both parts
// re-laid-out and their caret and view at the start, while a plain message box does not; a
// template loaded into the cover sheet has its merge fields replaced by the values of that moment.
// Documents (PDF, TIFF, images, text, RTF...) are attached on the "Attachments" page, by its "Add
// Document..." button or by dropping files from a file manager on the window; they are copied into
// the data directory and checked (converted once, which counts their pages) on a worker thread,
// while the window stays responsive and shows which document is being added, with "Stop" to end
// it; Accept and the preview wait until adding is over. A document that cannot be read is named
// and not added, one stopped leaves no copy, and copies made by this window that the fax does not
// keep are removed when it closes. "Preview
// Fax..." renders the whole fax as it stands (cover, document, attachments) and shows its pages.
// Result: 1 after Accept, 2 after Cancel; the window placement is kept in the settings file.
#pragma once

#include <QStringList>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "compose/editorkit/editorwindow.h"
#include "compose/editorkit/partbuttons.h"
#include "compose/render/faxdocuments.h"

class QButtonGroup;
class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QToolButton;
class QTreeWidget;

namespace telvane::editorkit {
class TZoomButton;
}  // namespace telvane::editorkit

namespace telvane::richtext {
class TRichText;
class TRichToolBar;
}  // namespace telvane::richtext

namespace telvane::editor {

class TEnterEdit;

class TFaxEditor : public editorkit::EditorWindow {
    Q_OBJECT
public:
    enum Page { CoverPage = 0, DocumentPage = 1, RecipientPage = 2, AttachmentsPage = 3 };
    static constexpr int kRecipientLength = 35;
    static constexpr int kFaxNumberLength = 25;
    static constexpr int kSubjectLength = 50;

    explicit TFaxEditor(std::string programDir, QWidget* parent = nullptr);
    // Removes the copies of documents this window made and that no stored fax keeps.
    ~TFaxEditor() override;

    Page currentPage() const;

    // Starts attaching files after those already attached (and those still being added), in the
    // order given, and returns at once; each appears in the list when it is checked. The files that
    // cannot be read are named in one message when adding is over, and left out.
    void addDocuments(const QStringList& paths);
    // True while documents are being added (AddingPanel shows).
    bool addingDocuments() const { return adding_ != nullptr; }
    // Ends the adding: the document being checked and those waiting are not attached.
    void stopAddingButtonClick();
    // The files handed to addDocuments whose documents are attached now, in sending order.
    QStringList attachedSources() const;
    // The documents attached, in sending order.
    const std::vector<render::FaxDocument>& documents() const { return documents_; }
    // The documents of a fax being edited (kept by the fax, never removed by this window).
    void setDocuments(std::vector<render::FaxDocument> documents);
    // The fax was stored with documents(): its copies stay when the window closes.
    void keepDocuments() { madeHere_.clear(); }

    // Value a merge field takes now (recipient, number, subject, date, time), cut to 100 characters;
    // a null string for a tag without a value.
    QString mergeFieldValue(int tag) const;

    // Handlers.
    void recipientButtonClick();
    void documentButtonClick();
    void coverButtonClick();
    void addressButtonClick();
    void loadCoverButtonClick();
    void attachmentsButtonClick();
    void addDocumentButtonClick();
    void removeDocumentButtonClick();
    // Moves the selected document one place up (-1) or down (+1).
    void moveDocument(int step);
    // Renders the fax as it stands into the data directory and shows it in the "Fax Preview"
    // window (FaxPreview, its viewer control PreviewViewer); the file is removed afterwards.
    void previewButtonClick();
    // The tool bar's spell-check icon on either part: the "Spell Check" dialog for that part.
    void richStartSpellCheck(richtext::TRichText* part);
    void FormActivate();

    // Controls.
    QStackedWidget* Notebook = nullptr;
    TEnterEdit* Recipient = nullptr;
    TEnterEdit* FaxNumber = nullptr;
    TEnterEdit* Subject = nullptr;
    QPushButton* AddressButton = nullptr;
    richtext::TRichToolBar* RichToolCover = nullptr;
    richtext::TRichText* RichCover = nullptr;
    richtext::TRichToolBar* RichToolDoc = nullptr;
    richtext::TRichText* RichDoc = nullptr;
    editorkit::PartButtons CoverButtons;  // CoverDocPageBreakButton, CoverParagraphSetupbutton, ...
    editorkit::PartButtons DocButtons;  // DocPageBreakButton, ParagraphSetupButton, DocWordWrapButton, DocDefFontbutton
    QToolButton* LoadCoverButton = nullptr;
    QPushButton* Helpbutton = nullptr;
    QPushButton* RecipientButton = nullptr;
    QPushButton* DocumentButton = nullptr;
    QPushButton* CoverButton = nullptr;
    QPushButton* AttachmentsButton = nullptr;
    QTreeWidget* DocumentList = nullptr;  // columns "Name" and "Pages"
    QPushButton* AddDocumentButton = nullptr;
    QPushButton* RemoveDocumentButton = nullptr;
    QPushButton* MoveUpButton = nullptr;
    QPushButton* MoveDownButton = nullptr;
    QPushButton* PreviewButton = nullptr;
    QWidget* AddingPanel = nullptr;  // shown while documents are added: AddingLabel, AddingProgress, StopAddingButton
    QLabel* AddingLabel = nullptr;
    QProgressBar* AddingProgress = nullptr;
    QPushButton* StopAddingButton = nullptr;
    editorkit::TZoomButton* Zoombutton = nullptr;
    QPushButton* OKButton = nullptr;
    QPushButton* CancelButton = nullptr;

protected:
    void firstShow() override;
    // Accept: a fax number the modem could not dial is refused on the Recipient page.
    void acceptClick() override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* buildRecipientPage();
    QWidget* buildPartPage(richtext::TRichToolBar*& bar, richtext::TRichText*& part, const char* barName,
                           const char* partName);
    QWidget* buildBottomPanel();
    QWidget* buildAttachmentsPage();
    void fillDocumentList(int select);
    void showPage(Page page);
    // The part whose page button is down: the document for "Fax Document", else the cover.
    richtext::TRichText* zoomTarget() const;
    void answerMergeField(int tag, QString& text, bool& answered);
    struct AddingJob;
    // Takes in what the worker has checked so far and shows its progress; when it has finished,
    // ends the adding and names the files that could not be read.
    void collectAdded();
    void showAdding(bool adding);

    QButtonGroup* pageButtons_ = nullptr;
    std::vector<render::FaxDocument> documents_;
    std::vector<render::FaxDocument> madeHere_;  // copies this window made and nothing keeps yet
    std::map<std::string, QString> sourceOf_;    // stored name -> the file it was added from
    std::unique_ptr<AddingJob> adding_;          // the worker adding documents; null when idle
    QStringList queued_;                         // handed in after the worker had finished
    QStringList problems_;                       // files that could not be read, named when adding ends
};

}  // namespace telvane::editor
