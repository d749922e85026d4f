// The Qt event bridge of the fax components: runs engine events on the UI thread.
// The engine's dispatch thread hands each event to RunOnAppThread, which posts it to a QObject
// living on the UI thread and waits up to the time-out (1000 ms, 2000 ms for next-fax). An event
// that has not started by then is abandoned and never runs; one already running is waited for,
// so the caller never releases what a running handler still uses. Called on the UI thread
// itself, the event runs at once.
#pragma once

#include <QObject>

#include "eventsink.h"

namespace ovx {

class TOvxQtEventSink final : public QObject, public TOvxEventSink {
    Q_OBJECT
public:
    explicit TOvxQtEventSink(QObject* parent = nullptr);
    bool RunOnAppThread(const std::function<void()>& call, int timeoutMs) override;
};

} // namespace ovx
