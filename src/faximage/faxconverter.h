// TOvxFaxConverter, the page encoder: reads a document line by line through a line source,
// applies margins, centring, doubling and halving, codes every line with the T.4 line coder
// and writes the pages as line records to an OVF fax file (or hands the coded lines to
// OnOutputLine). Guarantees: on any error the partly written output file is deleted; the
// status handler can abort; work per line needs no allocation.
#pragma once

#include "faximage/faxinput.h"
#include "faximage/mhcoder.h"
#include "faximage/ovffile.h"
#include "faximage/raster.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace telvane::faximage {

enum TFaxInputDocumentType { idNone, idText, idTextEx, idTiff, idPcx, idDcx, idBmp, idBitmap, idUser };
using TFaxCvtOptions = unsigned;  // a set of the co... option bits
constexpr TFaxCvtOptions coDoubleWidth = 1, coHalfHeight = 2, coCenterImage = 4, coYield = 8, coYieldOften = 16;
enum TFaxResolution { frNormal, frHigh };
enum TFaxWidth { fwNormal, fwWide };
enum TFaxFont { ffStandard, ffSmall };

class TOvxFaxConverter;

using TFaxStatusEvent =
    std::function<void(TOvxFaxConverter& F, bool Starting, bool Ending, int PagesConverted, long LinesConverted,
                       std::uint64_t BytesConverted, std::uint64_t BytesToConvert, bool& Abort)>;
using TFaxOutputLineEvent =
    std::function<void(TOvxFaxConverter& F, const std::uint8_t* Data, int Len, bool EndOfPage, bool MorePages)>;
using TFaxOpenFileEvent = std::function<void(TOvxFaxConverter& F, const std::string& FName)>;
// Fills Data (room for 4096 bytes) with one line of Len bytes, or sets EndOfPage (and
// MorePages when another page follows) without a line.
using TFaxReadLineEvent =
    std::function<void(TOvxFaxConverter& F, std::uint8_t* Data, int& Len, bool& EndOfPage, bool& MorePages)>;
using TFaxCloseFileEvent = std::function<void(TOvxFaxConverter& F)>;

class TOvxFaxConverter {
public:
    TFaxInputDocumentType InputDocumentType = idNone;
    TFaxResolution Resolution = frNormal;
    TFaxWidth Width = fwNormal;
    int TopMargin = 0;
    int LeftMargin = 50;
    int LinesPerPage = 60;
    int TabStop = 4;
    TFaxFont FontType = ffStandard;
    std::string StationID;
    std::string OutFileName;
    // Extension given to an idUser document name that has none (with or without the dot).
    std::string DefUserExtension;
    // System-font renderer for idTextEx (made by the Qt adapter).
    std::shared_ptr<FaxTextRenderer> EnhFont;
    // The in-memory bitmap for idBitmap.
    const Raster* Bitmap = nullptr;

    TFaxStatusEvent OnStatus;
    TFaxOutputLineEvent OnOutputLine;
    TFaxOpenFileEvent OnOpenUserFile;
    TFaxReadLineEvent OnReadUserLine;
    TFaxCloseFileEvent OnCloseUserFile;
    // Lets pending window events run; returns false when the application is quitting.
    std::function<bool()> OnYield;
    // Replaces the clock used for the file's created field (tests).
    std::function<std::tm()> Clock;

    TFaxCvtOptions Options() const { return options_; }
    // Setting coYieldOften adds coYield.
    void setOptions(TFaxCvtOptions o) { options_ = (o & coYieldOften) ? (o | coYield) : o; }
    const std::string& DocumentFile() const { return documentFile_; }
    // Also sets OutFileName to the same name with extension ".OVF".
    void setDocumentFile(const std::string& name);

    // Converts DocumentFile into OutFileName (or the input's name with extension "OVF");
    // returns 0 or a negative code.
    int convert();
    // The same, raising EOvxException on failure.
    void convertFile();

    // Progress counters of the running or last conversion.
    int PagesConverted() const { return pages_; }
    long LinesConverted() const { return lines_; }

private:
    std::unique_ptr<FaxLineSource> makeSource(int& rc);
    int run(FaxLineSource& source, const std::string& outName);
    int emitCoded(const std::uint8_t* data, std::size_t len, bool endOfPage, bool morePages);
    bool status(bool starting, bool ending, FaxLineSource& source);

    TFaxCvtOptions options_ = coDoubleWidth | coCenterImage | coYield;
    std::string documentFile_;
    std::unique_ptr<FaxTextRenderer> bitmapFont_;
    OvfWriter writer_;
    FaxLineCoder coder_;
    std::uint8_t raster_[4096];
    std::uint8_t line_[4096];
    int pages_ = 0;
    long lines_ = 0;
};

}  // namespace telvane::faximage
