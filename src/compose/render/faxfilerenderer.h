// Rendering an outgoing fax into one fax file: the main window's CreateFaxFile. The cover sheet
// and the document are loaded into two hidden rich-text controls; each page is painted into one
// reused 1664 x 2156 page bitmap laid out at about 200 pixels per inch, saved as "_TMP.BMP",
// encoded by the page encoder (idBmp, options {coYield}, fine resolution) into a one-page fax
// file ("TVN_" n ".OVF" for the first page, "TVNFX" k ".OVF" for page k), and the page files are
// joined into the first one.
// Guarantees: the button bar is disabled and the hourglass shown for the whole operation and both
// are restored on every path (also on failure); on failure no page file, no "_TMP.BMP" and no
// partial fax file is left behind and the failure's engine code and text are returned; a call
// made while another one runs (window messages run during rendering) is refused.
#pragma once

#include "compose/richtext/trichtext.h"
#include "compose/richtext/richtextmemo.h"
#include "faximage/faxconverter.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <string>

namespace telvane::records {
class TXbAccess;
}

namespace telvane::render {

// Layout and painting geometry of a fax page (pixels of the page bitmap).
inline constexpr int kPageOffset = 49;  // left and top offset of the text
inline constexpr int kMarkOffset = 5;   // the black pel at (width - 5, height - 5)

// Status line texts of the three phases.
inline constexpr const char* kStatusLoading = "Creating fax file";
inline constexpr const char* kStatusRendering = "Creating fax file....";
inline constexpr const char* kStatusJoining = "Creating fax file........";
inline constexpr const char* kNoContentsMessage = "Fax has no contents or cover sheet";

struct FaxFileResult {
    std::string fileName;  // the finished fax file; empty when nothing was rendered
    int pageCount = 0;     // pages in it
    int errorCode = 0;     // 0, or the engine code of a failure
    QString errorText;     // the failure's text; empty when there was none
    bool failed() const { return errorCode != 0 || !errorText.isEmpty(); }
};

// The rich-text control's Zooming for rendering: 200 / P * 100 with the fraction dropped, P the
// screen's logical pixels per inch (208 for 96).
int RenderingZoom(double logicalDpi);

// The empty test: no text; or under 256 characters with every line blank after trimming.
bool IsRichTextEmpty(const TRichText& control);

// Fills the two hidden controls with a fax's cover and document; on failure returns false and
// says why in `error`.
using FaxPartsLoader = std::function<bool(TRichText& cover, TRichText& document, QString& error)>;

// RTFCOVER and RTFDOC of the current record of the outgoing log, through LoadRichText on the
// default page (a memo that cannot be written out leaves its control empty).
FaxPartsLoader PartsFromRecord(records::TXbAccess& faxXb, const std::string& dataDir);
// RTF (or plain text) held in memory; an empty array is an empty part.
FaxPartsLoader PartsFromRtf(QByteArray coverRtf, QByteArray documentRtf);
// RTF files; an empty path is an empty part, an unreadable file a failure.
FaxPartsLoader PartsFromFiles(QString coverPath, QString documentPath);

class FaxFileRenderer {
public:
    // The two controls are hidden top-level widgets that are never shown (needs a QApplication).
    FaxFileRenderer();
    ~FaxFileRenderer();
    FaxFileRenderer(const FaxFileRenderer&) = delete;
    FaxFileRenderer& operator=(const FaxFileRenderer&) = delete;

    // Sets the main window's status line ("" clears it).
    std::function<void(const QString&)> SetStatus;
    // Enables (true) or disables (false) the main window's button bar.
    std::function<void(bool)> EnableButtonBar;

    // Renders the fax whose parts `load` supplies into a fax file in dataDir (ending in '/').
    // Both parts empty: the message "Fax has no contents or cover sheet" and an empty result.
    FaxFileResult CreateFaxFile(const std::string& dataDir, const FaxPartsLoader& load);

    // Pages of the last fax rendered (0 after a failure or an empty fax); the send session
    // stores it in the record.
    int LastPageCount() const { return lastPageCount_; }
    bool Busy() const { return busy_; }
    // Whether the last fax asked for in this run had neither cover nor document, which has been
    // said to the user already: callers then add no second message.
    static bool LastFaxWasEmpty();

    TRichText& CoverRichText() { return *cover_; }
    TRichText& DocRichText() { return *document_; }
    faximage::TOvxFaxConverter& FaxConverter() { return converter_; }

private:
    class UiLock;
    void say(const char* text);
    void renderControl(TRichText& control, const std::string& dataDir, std::vector<std::string>& pages);

    std::unique_ptr<TRichText> cover_;
    std::unique_ptr<TRichText> document_;
    faximage::TOvxFaxConverter converter_;
    int lastPageCount_ = 0;
    bool busy_ = false;
};

}  // namespace telvane::render

namespace telvane::render {

// Renders RTF files (an empty cover path: no cover) into the fax file `outputPath` through
// CreateFaxFile, working in a private directory beside the output. Needs a QApplication.
// Returns true on success; otherwise `error` holds the failure or the no-contents message, and
// no output file is made.
bool RenderRtfToFaxFile(const QString& documentPath, const QString& coverPath, const QString& outputPath,
                        QString& error, int* pageCount = nullptr);

}  // namespace telvane::render
