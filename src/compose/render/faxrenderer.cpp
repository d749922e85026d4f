// The render core (see faxrenderer.h).
#include "compose/render/faxrenderer.h"

#include "compose/render/faxjoin.h"
#include "compose/render/pagebitmap.h"
#include "errors/errors.h"
#include "records/fax_tables.h"

#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <cstdio>
#include <new>

namespace telvane::render {

namespace {

using richdoc::RichDocument;

// Every new fax starts from the editors' page: US Letter with 720-twip margins; an RTF that
// carries its own page layout replaces it while loading.
void resetForLoading(RichDocument& part) {
    part.clearAll();
    part.setPageLayout(richdoc::PageLayoutTwips{});
}

bool loadRtf(RichDocument& part, const QByteArray& rtf) {
    resetForLoading(part);
    if (!rtf.isEmpty()) part.setRtf(rtf);
    return true;
}

bool loadFile(RichDocument& part, const QString& path, QString& error) {
    resetForLoading(part);
    return path.isEmpty() || part.loadFromFile(path, &error);
}

// A part as the memo transfer of the outgoing log sees it: every load starts from the default page.
class PartMemo : public records::RichTextTarget {
public:
    explicit PartMemo(RichDocument& part) : part_(part) {}
    void clear() override { resetForLoading(part_); }
    bool loadFromFile(const std::string& path) override { return part_.loadFromFile(QString::fromStdString(path)); }
    bool saveToFile(const std::string& path) override { return part_.saveToFile(QString::fromStdString(path)); }

private:
    RichDocument& part_;
};

void removeFile(const std::string& path) { std::remove(path.c_str()); }

// The screen's logical resolution, as the editors lay text out on it.
double screenDpi() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int dpi = screen ? qRound(screen->logicalDotsPerInchY()) : 0;
    return dpi > 0 ? dpi : 96;
}

}  // namespace

int renderingZoom(double logicalDpi) {
    if (logicalDpi <= 0) logicalDpi = 96;
    return static_cast<int>(200.0 / logicalDpi * 100.0);
}

FaxPartsLoader partsFromRecord(records::TXbAccess& faxXb, const std::string& dataDir) {
    return [&faxXb, dataDir](RichDocument& cover, RichDocument& document, QString&) {
        PartMemo coverMemo(cover), documentMemo(document);
        records::LoadRichText(coverMemo, "RTFCOVER", faxXb, dataDir);
        records::LoadRichText(documentMemo, "RTFDOC", faxXb, dataDir);
        return true;
    };
}

std::vector<FaxDocument> documentsFromRecord(records::TXbAccess& faxXb, const std::string& dataDir) {
    const std::string path = dataDir + records::kMemoTransferFile;
    if (!faxXb.xb_BlobToFile("RTFDOC", path)) return {};
    QFile file(QString::fromStdString(path));
    const QByteArray rtf = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    file.close();
    removeFile(path);
    return documentsIn(std::string_view(rtf.constData(), std::size_t(rtf.size())));
}

FaxPartsLoader partsFromRtf(QByteArray coverRtf, QByteArray documentRtf) {
    return [coverRtf = std::move(coverRtf), documentRtf = std::move(documentRtf)](RichDocument& cover,
                                                                                  RichDocument& document, QString&) {
        return loadRtf(cover, coverRtf) && loadRtf(document, documentRtf);
    };
}

FaxPartsLoader partsFromFiles(QString coverPath, QString documentPath) {
    return [coverPath = std::move(coverPath), documentPath = std::move(documentPath)](
               RichDocument& cover, RichDocument& document, QString& error) {
        return loadFile(cover, coverPath, error) && loadFile(document, documentPath, error);
    };
}

FaxRenderer::FaxRenderer() = default;

FaxRenderer::~FaxRenderer() = default;

void FaxRenderer::phase(const char* status) {
    if (OnPhase) OnPhase(status);
    yield();
}

void FaxRenderer::yield() {
    if (OnYield) OnYield();
}

FaxFileResult FaxRenderer::CreateFaxFile(const std::string& dataDir, const FaxPartsLoader& load,
                                         const std::vector<FaxDocument>& documents) {
    FaxFileResult result;
    if (busy_) {
        result.errorText = QStringLiteral("A fax file is being created already; try again when it is done.");
        return result;
    }
    busy_ = true;
    struct BusyReset {
        bool& busy;
        ~BusyReset() { busy = false; }
    } busyReset{busy_};
    lastPageCount_ = 0;

    phase(kStatusLoading);
    QString loadError;
    if (!load(cover_, document_, loadError)) {
        result.errorText = loadError.isEmpty() ? QStringLiteral("The fax could not be loaded.") : loadError;
        return result;
    }
    const bool coverEmpty = richdoc::isEmpty(cover_);
    const bool documentEmpty = richdoc::isEmpty(document_);
    if (coverEmpty && documentEmpty && documents.empty()) {
        result.empty = true;
        return result;
    }

    phase(kStatusRendering);
    std::vector<std::string> pages;
    try {
        if (!coverEmpty) renderDocument(cover_, dataDir, pages);
        if (!documentEmpty) renderDocument(document_, dataDir, pages);
        int pageCount = static_cast<int>(pages.size());
        for (const FaxDocument& attached : documents) pageCount += addDocument(attached, dataDir, pages);
        phase(kStatusJoining);
        result.fileName = joinFaxFiles(pages);
        result.pageCount = pageCount;
    } catch (const errors::EOvxException& e) {
        result.errorCode = e.ErrorCode();
        result.unreadableDocument = e.ErrorCode() == errors::ecFileRejected;
        result.errorText = QString::fromStdString(e.what());
    } catch (const std::bad_alloc&) {
        result.errorCode = errors::ecOutOfMemory;
        result.errorText = QString::fromStdString(errors::ovxErrorText(errors::ecOutOfMemory));
    }
    if (result.errorCode != 0) {
        if (result.errorText.isEmpty()) result.errorText = QStringLiteral("Error %1").arg(result.errorCode);
        for (const std::string& page : pages) removeFile(page);
        result.fileName.clear();
        result.pageCount = 0;
    }
    lastPageCount_ = result.pageCount;
    return result;
}

int FaxRenderer::addDocument(const FaxDocument& attached, const std::string& dataDir, std::vector<std::string>& pages) {
    yield();
    const std::string file = pages.empty() ? firstPageFileName(dataDir) : pageFileName(dataDir, int(pages.size()) + 1);
    std::string error;
    const int added = convertDocument(dataDir, attached, file, error);
    if (added < 0) throw errors::EOvxException(errors::ecFileRejected, error);
    pages.push_back(file);
    return added;
}

void FaxRenderer::renderDocument(RichDocument& part, const std::string& dataDir, std::vector<std::string>& pages) {
    const std::string firstPageName = pages.empty() ? firstPageFileName(dataDir) : std::string();
    const std::string bitmapFile = dataDir + kTempBitmapName;
    struct TempBitmapRemover {
        const std::string& path;
        ~TempBitmapRemover() { removeFile(path); }
    } tempRemover{bitmapFile};

    const double dpi = screenDpi();
    PageBitmap bitmap(dpi);
    const int zoom = std::clamp(renderingZoom(dpi), richdoc::kMinZoom, richdoc::kMaxZoom);
    converter_.setOptions(faximage::coYield);
    converter_.Resolution = faximage::frHigh;
    converter_.OnYield = [this] {
        yield();
        return true;
    };

    int line = 0;
    do {
        int next = 0;
        {
            QPainter painter(&bitmap.canvas());
            next = part.paintPage(painter, kPageOffset, kPageOffset, PageBitmap::kWidth - kPageOffset,
                                  PageBitmap::kHeight - kPageOffset, line, zoom);
        }
        const int pageNumber = static_cast<int>(pages.size()) + 1;
        const std::string pageFile = pageNumber == 1 ? firstPageName : pageFileName(dataDir, pageNumber);
        bitmap.setBlack(PageBitmap::kWidth - kMarkOffset, PageBitmap::kHeight - kMarkOffset);
        bitmap.saveBmp(bitmapFile);
        yield();
        converter_.InputDocumentType = faximage::idBmp;
        converter_.setDocumentFile(bitmapFile);
        converter_.OutFileName = pageFile;
        converter_.convertFile();
        pages.push_back(pageFile);
        bitmap.fillWhite();
        // A document that does not move on would paint the same page for ever.
        if (next > 0 && next <= line)
            throw errors::EOvxException(errors::ecBadArgument, "The text could not be divided into pages.");
        line = next;
    } while (line > 0);
}

}  // namespace telvane::render
