// The Qt event bridge of the fax components: runs engine events on the UI thread.
// The engine's dispatch thread hands each event to RunOnAppThread, which posts it to a QObject
// living on the UI thread and waits up to the time-out (1000 ms, 2000 ms for next-fax). An event
// that has not started by then is abandoned and never runs; one already running is waited for,
// so the caller never releases what a running handler still uses. Called on the UI thread
// itself, the event runs at once.
// The bridge also gives the send components their enhanced text: creating a sink installs the
// system-font renderer (QtFontTextRenderer) as the enhanced-text factory.
#pragma once

#include <QObject>

#include <memory>

#include "transport/eventsink.h"
#include "transport/fax/faxsession.h"

namespace telvane::transport {

class TOvxQtEventSink final : public QObject, public TOvxEventSink {
    Q_OBJECT
public:
    explicit TOvxQtEventSink(QObject* parent = nullptr);
    bool runOnAppThread(const std::function<void()>& call, int timeoutMs) override;
};

// A system-font renderer for an enhanced font: the family falls back to the system's sans-serif
// font when the name is unknown (Windows names such as "MS Sans Serif"); a negative height is
// the characters' pixel height, a positive one the cell height. Null without a QGuiApplication.
std::unique_ptr<telvane::faximage::FaxTextRenderer> makeQtEnhancedRenderer(const TOvxFont& font);
// Installs MakeQtEnhancedRenderer as the send components' enhanced-text factory.
void installQtEnhancedText();

}  // namespace telvane::transport
