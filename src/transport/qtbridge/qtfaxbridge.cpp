// Qt event bridge (see qtfaxbridge.h).
#include "transport/qtbridge/qtfaxbridge.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QMetaObject>
#include <QThread>

#include "faximage/qtfont/qtfonttext.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace telvane::transport {

namespace {
struct PendingCall {
    std::mutex mu;
    std::condition_variable cv;
    std::function<void()> call;
    bool running = false;
    bool done = false;
    bool abandoned = false;
};
}  // namespace

TOvxQtEventSink::TOvxQtEventSink(QObject* parent) : QObject(parent) { InstallQtEnhancedText(); }

std::unique_ptr<telvane::faximage::FaxTextRenderer> MakeQtEnhancedRenderer(const TOvxFont& font) {
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

void InstallQtEnhancedText() { TOvxCustomSendFax::SetEnhancedTextFactory(MakeQtEnhancedRenderer); }

bool TOvxQtEventSink::RunOnAppThread(const std::function<void()>& call, int timeoutMs) {
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
                std::lock_guard lock(pending->mu);
                if (pending->abandoned) return;
                pending->running = true;
            }
            pending->call();
            std::lock_guard lock(pending->mu);
            pending->done = true;
            pending->cv.notify_all();
        },
        Qt::QueuedConnection);

    std::unique_lock lock(pending->mu);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (pending->cv.wait_until(lock, deadline, [&] { return pending->done; })) return true;
    if (!pending->running) {
        pending->abandoned = true;
        return false;
    }
    // Already running: it must finish before the caller may go on.
    pending->cv.wait(lock, [&] { return pending->done; });
    return true;
}

}  // namespace telvane::transport
