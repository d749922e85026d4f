// Qt event bridge (see qtfaxbridge.h).
#include "transport/qtbridge/qtfaxbridge.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QMetaObject>
#include <QThread>

#include "faximage/qtfont/qtfonttext.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>

#include "transport/threadsafety.h"

namespace telvane::transport {

namespace {
// One event handed to the UI thread; shared by the waiting engine thread and the queued call.
struct PendingCall {
    Mutex mu;
    std::condition_variable_any cv;  // (with mu) done
    std::function<void()> call;      // set before the call is queued, read-only after
    bool running TELVANE_GUARDED_BY(mu) = false;
    bool done TELVANE_GUARDED_BY(mu) = false;
    bool abandoned TELVANE_GUARDED_BY(mu) = false;
};
}  // namespace

TOvxQtEventSink::TOvxQtEventSink(QObject* parent) : QObject(parent) { installQtEnhancedText(); }

std::unique_ptr<telvane::faximage::FaxTextRenderer> makeQtEnhancedRenderer(const TOvxFont& font) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return nullptr;
    // Heights beyond any page still make a renderer; it then reports the font as too large.
    constexpr int kMaxPixels = 4096;
    QFont f;
    QStringList families;
    if (!font.Name.empty()) families << QString::fromStdString(font.Name);
    families << QStringLiteral("Sans Serif");
    f.setFamilies(families);
    const int height = std::min(font.Height < 0 ? -font.Height : font.Height, kMaxPixels);
    f.setPixelSize(std::max(height, 1));
    if (font.Height > 0) {
        // A cell height: scale the character size so that ascent + descent fit the cell.
        const int cell = QFontMetrics(f).height();
        if (cell > 0) f.setPixelSize(std::max(1, int(std::int64_t(height) * height / cell)));
    }
    return std::make_unique<telvane::faximage::QtFontTextRenderer>(f);
}

void installQtEnhancedText() { TOvxCustomSendFax::setEnhancedTextFactory(makeQtEnhancedRenderer); }

bool TOvxQtEventSink::runOnAppThread(const std::function<void()>& call, int timeoutMs) {
    if (QThread::currentThread() == thread()) {
        call();
        return true;
    }
    auto pending = std::make_shared<PendingCall>();
    pending->call = call;
    QMetaObject::invokeMethod(
        this,
        [pending] {
            {
                MutexLock lock(pending->mu);
                if (pending->abandoned) return;
                pending->running = true;
            }
            pending->call();
            MutexLock lock(pending->mu);
            pending->done = true;
            pending->cv.notify_all();
        },
        Qt::QueuedConnection);

    UniqueLock lock(pending->mu);
    const auto isDone = [&]() TELVANE_LOCKED_PREDICATE { return pending->done; };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (pending->cv.wait_until(lock.get(), deadline, isDone)) return true;
    if (!pending->running) {
        pending->abandoned = true;
        return false;
    }
    // Already running: it must finish before the caller may go on.
    pending->cv.wait(lock.get(), isDone);
    return true;
}

}  // namespace telvane::transport
