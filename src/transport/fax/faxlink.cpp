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
Result Guarded(Call call, Result fallback = Result()) {
    try {
        return call();
    } catch (const EOvxException&) {
        return fallback;
    }
}

template <typename Call>
void Guarded(Call call) requires std::is_void_v<std::invoke_result_t<Call>> {
    try {
        call();
    } catch (const EOvxException&) {}
}

}  // namespace

size_t TComPortLink::Read(uint8_t* buf, size_t len) {
    return Guarded([&] { return port_.GetBlock(buf, len); }, size_t{0});
}

bool TComPortLink::Write(const uint8_t* data, size_t len) {
    return Guarded(
        [&] {
            port_.PutBlock(data, len);
            return true;
        },
        false);
}

size_t TComPortLink::OutFree() {
    return Guarded([&] { return port_.OutBuffFree(); }, size_t{0});
}
size_t TComPortLink::OutUsed() {
    return Guarded([&] { return port_.OutBuffUsed(); }, size_t{0});
}
void TComPortLink::FlushIn() {
    Guarded([&] { port_.FlushInBuffer(); });
}
void TComPortLink::FlushOut() {
    Guarded([&] { port_.FlushOutBuffer(); });
}
void TComPortLink::SetDTR(bool on) {
    Guarded([&] { port_.SetDTR(on); });
}
void TComPortLink::SetRTS(bool on) {
    Guarded([&] { port_.SetRTS(on); });
}
bool TComPortLink::Carrier() {
    return Guarded([&] { return port_.DCD(); }, false);
}
void TComPortLink::SetBaud(long baud) {
    Guarded([&] { port_.SetBaud(baud); });
}
void TComPortLink::SetSoftwareFlow(bool on) {
    Guarded([&] { port_.SetSWFlowOptions(on ? swfBoth : swfNone); });
}

void TComPortLink::SetOutputFlow(bool on) {
    Guarded([&] { port_.SetSWFlowOptions(on ? swfTransmit : swfNone); });
}

void TComPortLink::Pause(int64_t ms) { DelayMs(ms, port_.Clock()); }

int64_t TComPortLink::NowMs() { return port_.Clock().NowMs(); }

void TComPortLink::LogState(std::string_view name, uint32_t number) { port_.LogFaxState(name, number); }

bool TComPortLink::Alive() {
    return Guarded(
        [&] { return port_.Open() && port_.Dispatcher().Device().IsOpen() && !port_.Dispatcher().LineLost(); }, false);
}

}  // namespace telvane::transport
