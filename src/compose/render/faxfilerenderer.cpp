// CreateFaxFile (see faxfilerenderer.h).
#include "compose/render/faxfilerenderer.h"

#include "compose/render/faxjoin.h"
#include "compose/render/pagebitmap.h"
#include "errors/errors.h"
#include "app/uihelpers.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QPainter>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <unistd.h>

namespace telvane::render {

namespace {

// Characters from which a control's text counts as contents whatever it holds.
constexpr int kNonEmptyLength = 256;

// Every new fax starts from the editors' page: US Letter with 720-twip margins; an RTF that
// carries its own page layout replaces it while loading.
void resetForLoading(TRichText& control) {
    control.Clear();
    control.SetPageLayout(PageLayoutTwips{});
}

bool loadRtf(TRichText& control, const QByteArray& rtf) {
    resetForLoading(control);
    if (!rtf.isEmpty()) control.SetRtf(rtf);
    return true;
}

bool loadFile(TRichText& control, const QString& path, QString& error) {
    resetForLoading(control);
    return path.isEmpty() || control.LoadFromFile(path, &error);
}

void removeFile(const std::string& path) { std::remove(path.c_str()); }

}  // namespace

int RenderingZoom(double logicalDpi) {
    if (logicalDpi <= 0) logicalDpi = 96;
    return static_cast<int>(200.0 / logicalDpi * 100.0);
}

bool IsRichTextEmpty(const TRichText& control) {
    const QString text = control.Text();
    if (text.isEmpty()) return true;
    if (text.size() >= kNonEmptyLength) return false;
    // Under 256 characters there are at most 256 lines: all of them are looked at, so that text
    // below 200 blank lines still counts.
    for (const QString& line : control.Lines()) {
        if (!line.trimmed().isEmpty()) return false;
    }
    return true;
}

FaxPartsLoader PartsFromRecord(records::TXbAccess& faxXb, const std::string& dataDir) {
    return [&faxXb, dataDir](TRichText& cover, TRichText& document, QString&) {
        LoadRichText(cover, "RTFCOVER", faxXb, dataDir, MemoPage::Reset);
        LoadRichText(document, "RTFDOC", faxXb, dataDir, MemoPage::Reset);
        return true;
    };
}

FaxPartsLoader PartsFromRtf(QByteArray coverRtf, QByteArray documentRtf) {
    return [coverRtf = std::move(coverRtf), documentRtf = std::move(documentRtf)](TRichText& cover, TRichText& document,
                                                                                  QString&) {
        return loadRtf(cover, coverRtf) && loadRtf(document, documentRtf);
    };
}

FaxPartsLoader PartsFromFiles(QString coverPath, QString documentPath) {
    return [coverPath = std::move(coverPath), documentPath = std::move(documentPath)](
               TRichText& cover, TRichText& document, QString& error) {
        return loadFile(cover, coverPath, error) && loadFile(document, documentPath, error);
    };
}

// Hourglass, disabled button bar and status text for the operation; undone once, at the latest
// when the operation is left.
class FaxFileRenderer::UiLock {
public:
    explicit UiLock(FaxFileRenderer& r) : r_(r) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        if (r_.EnableButtonBar) r_.EnableButtonBar(false);
        r_.say(kStatusLoading);
        LetMessagesRun();
    }
    ~UiLock() { release(); }
    UiLock(const UiLock&) = delete;
    UiLock& operator=(const UiLock&) = delete;

    void release() {
        if (released_) return;
        released_ = true;
        QApplication::restoreOverrideCursor();
        if (r_.EnableButtonBar) r_.EnableButtonBar(true);
        r_.say("");
    }

private:
    FaxFileRenderer& r_;
    bool released_ = false;
};

FaxFileRenderer::FaxFileRenderer() : cover_(std::make_unique<TRichText>()), document_(std::make_unique<TRichText>()) {
    cover_->hide();
    document_->hide();
}

FaxFileRenderer::~FaxFileRenderer() = default;

void FaxFileRenderer::say(const char* text) {
    if (SetStatus) SetStatus(QString::fromLatin1(text));
}

namespace {
bool lastFaxWasEmpty = false;
}  // namespace

bool FaxFileRenderer::LastFaxWasEmpty() { return lastFaxWasEmpty; }

FaxFileResult FaxFileRenderer::CreateFaxFile(const std::string& dataDir, const FaxPartsLoader& load) {
    FaxFileResult result;
    lastFaxWasEmpty = false;
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

    UiLock ui(*this);
    QString loadError;
    if (!load(*cover_, *document_, loadError)) {
        result.errorText = loadError.isEmpty() ? QStringLiteral("The fax could not be loaded.") : loadError;
        return result;
    }
    const bool coverEmpty = IsRichTextEmpty(*cover_);
    const bool documentEmpty = IsRichTextEmpty(*document_);
    lastFaxWasEmpty = coverEmpty && documentEmpty;
    if (coverEmpty && documentEmpty) {
        ui.release();
        ShowInformation(QString::fromLatin1(kNoContentsMessage));
        return result;
    }

    say(kStatusRendering);
    LetMessagesRun();
    std::vector<std::string> pages;
    try {
        if (!coverEmpty) renderControl(*cover_, dataDir, pages);
        if (!documentEmpty) renderControl(*document_, dataDir, pages);
        say(kStatusJoining);
        LetMessagesRun();
        result.fileName = JoinFaxFiles(pages);
        result.pageCount = static_cast<int>(pages.size());
    } catch (const EOvxException& e) {
        result.errorCode = e.ErrorCode();
        result.errorText = QString::fromStdString(e.what());
    } catch (const std::bad_alloc&) {
        result.errorCode = telvane::ecOutOfMemory;
        result.errorText = QString::fromStdString(OvxErrorText(telvane::ecOutOfMemory));
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

void FaxFileRenderer::renderControl(TRichText& control, const std::string& dataDir, std::vector<std::string>& pages) {
    const std::string firstPageName = pages.empty() ? FirstPageFileName(dataDir) : std::string();
    const std::string bitmapFile = dataDir + kTempBitmapName;
    struct TempBitmapRemover {
        const std::string& path;
        ~TempBitmapRemover() { removeFile(path); }
    } tempRemover{bitmapFile};

    const double screenDpi = control.logicalDpiY() > 0 ? control.logicalDpiY() : 96;
    PageBitmap bitmap(screenDpi);
    control.SetZooming(RenderingZoom(screenDpi));
    converter_.SetOptions(faximage::coYield);
    converter_.Resolution = faximage::frHigh;
    converter_.OnYield = [] {
        LetMessagesRun();
        return true;
    };

    int line = 0;
    do {
        int next = 0;
        {
            QPainter painter(&bitmap.Canvas());
            next = control.PaintPage(painter, kPageOffset, kPageOffset, PageBitmap::kWidth - kPageOffset,
                                     PageBitmap::kHeight - kPageOffset, line);
        }
        const int pageNumber = static_cast<int>(pages.size()) + 1;
        const std::string pageFile = pageNumber == 1 ? firstPageName : PageFileName(dataDir, pageNumber);
        bitmap.SetBlack(PageBitmap::kWidth - kMarkOffset, PageBitmap::kHeight - kMarkOffset);
        bitmap.SaveBmp(bitmapFile);
        LetMessagesRun();
        converter_.InputDocumentType = faximage::idBmp;
        converter_.SetDocumentFile(bitmapFile);
        converter_.OutFileName = pageFile;
        converter_.ConvertFile();
        pages.push_back(pageFile);
        bitmap.FillWhite();
        // A control that does not move on would paint the same page for ever.
        if (next > 0 && next <= line)
            throw EOvxException(telvane::ecBadArgument, "The text could not be divided into pages.");
        line = next;
    } while (line > 0);
}

namespace {

// Keeps the message of the no-contents box instead of showing it.
class MessageCatcher : public Prompter {
public:
    explicit MessageCatcher(QString& message) : message_(message) {}
    void information(const QString& text) override { message_ = text; }
    bool yesNo(const QString&, const QString&, bool) override { return false; }
    void beep() override {}

private:
    QString& message_;
};

// Working directories are named ".telvane-render-PID-XXXXXX". Those of a render that was killed
// outright (SIGKILL, a crash: its process is gone) are removed before the next render beside the same output; so are
// unnamed-process ones (".telvane-render-XXXXXX") older than a day.
void RemoveStaleRenderDirs(const QDir& dir) {
    const QString prefix = QStringLiteral(".telvane-render-");
    const QFileInfoList entries =
        dir.entryInfoList({prefix + QLatin1Char('*')}, QDir::Dirs | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo& e : entries) {
        if (e.ownerId() != ::geteuid()) continue;
        const QString rest = e.fileName().mid(prefix.size());
        const int dash = rest.indexOf(QLatin1Char('-'));
        bool stale;
        if (dash > 0) {
            bool ok = false;
            const qint64 pid = rest.left(dash).toLongLong(&ok);
            stale = ok && pid > 0 && pid != ::getpid() && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
        } else {
            stale = e.lastModified().secsTo(QDateTime::currentDateTime()) > 24 * 3600;
        }
        if (stale) QDir(e.absoluteFilePath()).removeRecursively();
    }
}

// While a render works in its private directory, SIGINT, SIGTERM and SIGHUP (when the caller
// left them at their default) remove that directory before the process ends as the signal
// asks. Only async-signal-safe calls: the path sits in a fixed buffer, entries are read with
// getdents64 and removed with unlinkat.
char g_workDir[PATH_MAX];
volatile std::sig_atomic_t g_haveWorkDir = 0;
constexpr std::array<int, 3> kCleanupSignals{SIGINT, SIGTERM, SIGHUP};

void removeWorkDirAndDie(int sig) {
    if (g_haveWorkDir) {
        const int fd = ::open(g_workDir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            alignas(8) static char buf[8192];
            bool removed = true;
            while (removed) {  // removing while reading may skip entries: read again until none is left
                removed = false;
                ::lseek(fd, 0, SEEK_SET);
                ssize_t n;
                while ((n = ::getdents64(fd, buf, sizeof buf)) > 0)
                    for (ssize_t off = 0; off < n;) {
                        const auto* d = reinterpret_cast<const struct dirent64*>(buf + off);
                        off += d->d_reclen;
                        const char* name = d->d_name;
                        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
                        removed |= ::unlinkat(fd, name, 0) == 0;
                    }
            }
            ::close(fd);
        }
        ::rmdir(g_workDir);
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

class WorkDirGuard {
public:
    explicit WorkDirGuard(const QString& path) {
        const QByteArray p = QFile::encodeName(path);
        if (std::size_t(p.size()) >= sizeof g_workDir) return;
        std::memcpy(g_workDir, p.constData(), std::size_t(p.size()) + 1);
        g_haveWorkDir = 1;
        for (std::size_t i = 0; i < kCleanupSignals.size(); ++i) {
            struct sigaction act {};
            act.sa_handler = removeWorkDirAndDie;
            sigemptyset(&act.sa_mask);
            for (int other : kCleanupSignals) sigaddset(&act.sa_mask, other);
            installed_[i] = ::sigaction(kCleanupSignals[i], nullptr, &old_[i]) == 0 && old_[i].sa_handler == SIG_DFL &&
                            ::sigaction(kCleanupSignals[i], &act, nullptr) == 0;
        }
    }
    ~WorkDirGuard() {
        for (std::size_t i = 0; i < kCleanupSignals.size(); ++i)
            if (installed_[i]) ::sigaction(kCleanupSignals[i], &old_[i], nullptr);
        g_haveWorkDir = 0;
    }
    WorkDirGuard(const WorkDirGuard&) = delete;
    WorkDirGuard& operator=(const WorkDirGuard&) = delete;

private:
    std::array<struct sigaction, 3> old_{};
    std::array<bool, 3> installed_{};
};

}  // namespace

bool RenderRtfToFaxFile(const QString& documentPath, const QString& coverPath, const QString& outputPath,
                        QString& error, int* pageCount) {
    const QFileInfo output(outputPath);
    RemoveStaleRenderDirs(output.absoluteDir());
    QTemporaryDir work(output.absolutePath() + QStringLiteral("/.telvane-render-%1-XXXXXX").arg(::getpid()));
    if (!work.isValid()) {
        error = QStringLiteral("Cannot make a working directory beside %1: %2").arg(outputPath, work.errorString());
        return false;
    }
    const WorkDirGuard guard(work.path());
    QString message;
    MessageCatcher catcher(message);
    Prompter* previous = &prompter();
    setPrompter(&catcher);
    FaxFileRenderer renderer;
    const FaxFileResult result = renderer.CreateFaxFile(QDir(work.path()).absolutePath().toStdString() + "/",
                                                        PartsFromFiles(coverPath, documentPath));
    setPrompter(previous);
    if (result.failed()) {
        error = result.errorText;
        return false;
    }
    if (result.fileName.empty()) {
        error = message;
        return false;
    }
    // rename(2) replaces an existing output in one step, so a failure leaves it as it was.
    if (std::rename(result.fileName.c_str(), output.absoluteFilePath().toStdString().c_str()) != 0) {
        error = QStringLiteral("Cannot write %1: %2").arg(outputPath, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (pageCount) *pageCount = result.pageCount;
    return true;
}

}  // namespace telvane::render
