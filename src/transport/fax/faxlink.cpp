// TComPortLink: the fax machines' port interface on a TOvxComPort (see faxlink.h).
// Port exceptions (closed port, vanished device) become "nothing read / write refused" so that
// a machine ends its session with an error instead of unwinding through the dispatcher.
#include "transport/fax/faxlink.h"

#include "transport/comport.h"

#include <type_traits>

namespace telvane::transport {

namespace {

// Runs a port call; a port exception gives `fallback` (for void calls: nothing happens).
template <typename Call, typename Result = std::invoke_result_t<Call>>
Result guarded(Call call, Result fallback = Result()) {
    try {
        return call();
    } catch (const errors::EOvxException&) {
        return fallback;
    }
}

template <typename Call>
void guarded(Call call) requires std::is_void_v<std::invoke_result_t<Call>> {
    try {
        call();
    } catch (const errors::EOvxException&) {}
}

}  // namespace

size_t TComPortLink::read(uint8_t* buf, size_t len) {
    return guarded([&] { return port_.getBlock(buf, len); }, size_t{0});
}

bool TComPortLink::write(const uint8_t* data, size_t len) {
    return guarded(
        [&] {
            port_.putBlock(data, len);
            return true;
        },
        false);
}

size_t TComPortLink::outFree() {
    return guarded([&] { return port_.outBuffFree(); }, size_t{0});
}
size_t TComPortLink::outUsed() {
    return guarded([&] { return port_.outBuffUsed(); }, size_t{0});
}
void TComPortLink::flushIn() {
    guarded([&] { port_.flushInBuffer(); });
}
void TComPortLink::flushOut() {
    guarded([&] { port_.flushOutBuffer(); });
}
void TComPortLink::setDTR(bool on) {
    guarded([&] { port_.setDTR(on); });
}
void TComPortLink::setRTS(bool on) {
    guarded([&] { port_.setRTS(on); });
}
bool TComPortLink::carrier() {
    return guarded([&] { return port_.DCD(); }, false);
}
void TComPortLink::setBaud(long baud) {
    guarded([&] { port_.setBaud(baud); });
}
void TComPortLink::setSoftwareFlow(bool on) {
    guarded([&] { port_.setSWFlowOptions(on ? swfBoth : swfNone); });
}

void TComPortLink::setOutputFlow(bool on) {
    guarded([&] { port_.setSWFlowOptions(on ? swfTransmit : swfNone); });
}

void TComPortLink::pause(int64_t ms) { delayMs(ms, port_.clock()); }

int64_t TComPortLink::nowMs() { return port_.clock().nowMs(); }

void TComPortLink::logState(std::string_view name, uint32_t number) { port_.logFaxState(name, number); }

bool TComPortLink::alive() {
    return guarded(
        [&] { return port_.Open() && port_.dispatcher().device().isOpen() && !port_.dispatcher().lineLost(); }, false);
}

}  // namespace telvane::transport
