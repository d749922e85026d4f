// RTF files to a fax file (see rtftofax.h).
#include "compose/render/rtftofax.h"

#include "compose/render/faxrenderer.h"
#include "faximage/signalcleanup.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace telvane::render {

namespace {

// Working directories are named ".telvane-render-PID-XXXXXX". Those of a render that was killed
// outright (SIGKILL, a crash: its process is gone) are removed before the next render beside the same output; so are
// unnamed-process ones (".telvane-render-XXXXXX") older than a day.
void removeStaleRenderDirs(const QDir& dir) {
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
// left them at their default) remove that directory before the process ends as the signal asks.
class WorkDirGuard {
public:
    explicit WorkDirGuard(const QString& path)
        : slot_(faximage::removeOnSignal(QFile::encodeName(path).toStdString(), true)) {
        faximage::cleanUpOnSignals();
    }
    ~WorkDirGuard() { faximage::forgetOnSignal(slot_); }
    WorkDirGuard(const WorkDirGuard&) = delete;
    WorkDirGuard& operator=(const WorkDirGuard&) = delete;

private:
    int slot_;
};

}  // namespace

bool renderRtfToFaxFile(const QString& documentPath, const QString& coverPath, const QString& outputPath,
                        QString& error, int* pageCount) {
    const QFileInfo output(outputPath);
    removeStaleRenderDirs(output.absoluteDir());
    QTemporaryDir work(output.absolutePath() + QStringLiteral("/.telvane-render-%1-XXXXXX").arg(::getpid()));
    if (!work.isValid()) {
        error = QStringLiteral("Cannot make a working directory beside %1: %2").arg(outputPath, work.errorString());
        return false;
    }
    const WorkDirGuard guard(work.path());
    FaxRenderer renderer;
    const FaxFileResult result = renderer.CreateFaxFile(QDir(work.path()).absolutePath().toStdString() + "/",
                                                        partsFromFiles(coverPath, documentPath));
    if (result.failed()) {
        error = result.errorText;
        return false;
    }
    if (result.empty) {
        error = QString::fromLatin1(kNoContentsMessage);
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
