// Abstract bridge from the engine's threads to the application's UI thread.
// The engine never touches a UI toolkit: it hands a call to an event sink, which runs it on the
// application thread and waits for it up to a time-out. A Qt bridge implements this in the UI
// layer; command-line tools may run calls in place.
#pragma once

#include <functional>

namespace telvane::transport {

class TOvxEventSink {
public:
    virtual ~TOvxEventSink() = default;
    // Runs `call` on the application thread and waits at most `timeoutMs` for it to finish.
    // Returns false when the time-out expired; the sink then guarantees `call` is never run
    // afterwards (it is abandoned), so the caller may release what the call refers to.
    virtual bool runOnAppThread(const std::function<void()>& call, int timeoutMs) = 0;
};

// An event sink that runs every call in place, on the calling thread.
class TOvxDirectSink final : public TOvxEventSink {
public:
    bool runOnAppThread(const std::function<void()>& call, int) override {
        call();
        return true;
    }
};

}  // namespace telvane::transport
