// RTF files to a fax file (see rtftofax.h).
#include "compose/render/rtftofax.h"

#include "compose/render/faxrenderer.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
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
