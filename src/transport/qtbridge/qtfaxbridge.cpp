// Qt event bridge (see qtfaxbridge.h).
#include "qtfaxbridge.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace ovx {

namespace {
struct PendingCall {
    std::mutex mu;
    std::condition_variable cv;
    std::function<void()> call;
    bool running = false;
    bool done = false;
    bool abandoned = false;
};
} // namespace

TOvxQtEventSink::TOvxQtEventSink(QObject* parent) : QObject(parent) {}

bool TOvxQtEventSink::RunOnAppThread(const std::function<void()>& call, int timeoutMs)
{
    if (QThread::currentThread() == thread()) {
        call();
        return true;
    }
    auto pending = std::make_shared<PendingCall>();
    pending->call = call;
    QMetaObject::invokeMethod(this, [pending] {
        {
            std::lock_guard lock(pending->mu);
            if (pending->abandoned)
                return;
            pending->running = true;
        }
        pending->call();
        std::lock_guard lock(pending->mu);
        pending->done = true;
        pending->cv.notify_all();
    }, Qt::QueuedConnection);

    std::unique_lock lock(pending->mu);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    if (pending->cv.wait_until(lock, deadline, [&] { return pending->done; }))
        return true;
    if (!pending->running) {
        pending->abandoned = true;
        return false;
    }
    // Already running: it must finish before the caller may go on.
    pending->cv.wait(lock, [&] { return pending->done; });
    return true;
}

} // namespace ovx
