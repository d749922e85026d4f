// Rendering an outgoing fax into one fax file, without windows (Qt GUI only, for painting text):
// the cover sheet and the document are loaded into two rich-text documents; each page is painted
// into one reused 1664 x 2156 page bitmap laid out at about 200 pixels per inch, saved as
// "_TMP.BMP", encoded by the page encoder (idBmp, options {coYield}, fine resolution) into a
// one-page fax file ("TVN_" n ".OVF" for the first page, "TVNFX" k ".OVF" for page k), and the
// page files are joined into the first one. The program's CreateFaxFile (compose/commands) shows
// the hourglass, the status line and the messages around it; telvane-faxconv renders RTF files
// through it (rtftofax.h).
// Guarantees: the caller hears of each phase as it starts and may let its events run between
// steps; a fax with neither cover nor document is reported as empty and makes no file; on failure
// no page file, no "_TMP.BMP" and no partial fax file is left behind and the failure's engine code
// and text are returned; a call made while another one runs (through the caller's events) is
// refused.
#pragma once

#include "compose/render/faxdocuments.h"
#include "compose/richdoc/richdocument.h"
#include "faximage/faxconverter.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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
    std::string fileName;             // the finished fax file; empty when nothing was rendered
    int pageCount = 0;                // pages in it
    int errorCode = 0;                // 0, or the engine code of a failure
    QString errorText;                // the failure's text; empty when there was none
    bool empty = false;               // neither cover nor document had contents (no file, no failure)
    bool unreadableDocument = false;  // the failure is an attached document, named in errorText
    bool failed() const { return errorCode != 0 || !errorText.isEmpty(); }
};

// The zoom for rendering: 200 / P * 100 with the fraction dropped, P the screen's logical pixels
// per inch (208 for 96).
int renderingZoom(double logicalDpi);

// Fills the two documents with a fax's cover and document; on failure returns false and says why
// in `error`.
using FaxPartsLoader =
    std::function<bool(richdoc::RichDocument& cover, richdoc::RichDocument& document, QString& error)>;

// RTFCOVER and RTFDOC of the current record of the outgoing log, through the memo transfer file
// in dataDir, each on the default page (a memo that cannot be written out leaves its part empty).
FaxPartsLoader partsFromRecord(records::TXbAccess& faxXb, const std::string& dataDir);
// The documents listed in RTFDOC of the current record of the outgoing log.
std::vector<FaxDocument> documentsFromRecord(records::TXbAccess& faxXb, const std::string& dataDir);
// RTF (or plain text) held in memory; an empty array is an empty part.
FaxPartsLoader partsFromRtf(QByteArray coverRtf, QByteArray documentRtf);
// RTF files; an empty path is an empty part, an unreadable file a failure.
FaxPartsLoader partsFromFiles(QString coverPath, QString documentPath);

class FaxRenderer {
public:
    // Needs a QGuiApplication (fonts and the screen's resolution).
    FaxRenderer();
    ~FaxRenderer();
    FaxRenderer(const FaxRenderer&) = delete;
    FaxRenderer& operator=(const FaxRenderer&) = delete;

    // A phase starts: its status text (kStatusLoading, kStatusRendering, kStatusJoining).
    std::function<void(const char* status)> OnPhase;
    // Between steps and while the encoder works: the caller's events may run.
    std::function<void()> OnYield;

    // Renders the fax whose parts `load` supplies, then its attached `documents`, into a fax file in
    // dataDir (ending in '/'). A document that cannot be converted fails the whole fax, named in
    // the error text.
    FaxFileResult CreateFaxFile(const std::string& dataDir, const FaxPartsLoader& load,
                                const std::vector<FaxDocument>& documents = {});

    // Pages of the last fax rendered (0 after a failure or an empty fax).
    int lastPageCount() const { return lastPageCount_; }
    bool busy() const { return busy_; }

    richdoc::RichDocument& cover() { return cover_; }
    richdoc::RichDocument& richDocument() { return document_; }

private:
    void phase(const char* status);
    void yield();
    // Converts an attached document to the next page file; returns its pages. Raises EOvxException.
    int addDocument(const FaxDocument& attached, const std::string& dataDir, std::vector<std::string>& pages);
    void renderDocument(richdoc::RichDocument& part, const std::string& dataDir, std::vector<std::string>& pages);

    richdoc::RichDocument cover_;
    richdoc::RichDocument document_;
    faximage::TOvxFaxConverter converter_;
    int lastPageCount_ = 0;
    bool busy_ = false;
};

}  // namespace telvane::render
