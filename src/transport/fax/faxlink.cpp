// TComPortLink: the fax machines' port interface on a TOvxComPort (see faxlink.h).
// Port exceptions (closed port, vanished device) become "nothing read / write refused" so that
// a machine ends its session with an error instead of unwinding through the dispatcher.
#include "faxlink.h"

#include "../comport.h"

namespace telvane::transport {

size_t TComPortLink::Read(uint8_t* buf, size_t len) {
    try {
        return port_.GetBlock(buf, len);
    } catch (const EOvxException&) {
        return 0;
    }
}

bool TComPortLink::Write(const uint8_t* data, size_t len) {
    try {
        port_.PutBlock(data, len);
        return true;
    } catch (const EOvxException&) {
        return false;
    }
}

size_t TComPortLink::OutFree() {
    try {
        return port_.OutBuffFree();
    } catch (const EOvxException&) {
        return 0;
    }
}

size_t TComPortLink::OutUsed() {
    try {
        return port_.OutBuffUsed();
    } catch (const EOvxException&) {
        return 0;
    }
}

void TComPortLink::FlushIn() {
    try {
        port_.FlushInBuffer();
    } catch (const EOvxException&) {}
}

void TComPortLink::FlushOut() {
    try {
        port_.FlushOutBuffer();
    } catch (const EOvxException&) {}
}

void TComPortLink::SetDTR(bool on) {
    try {
        port_.SetDTR(on);
    } catch (const EOvxException&) {}
}

void TComPortLink::SetRTS(bool on) {
    try {
        port_.SetRTS(on);
    } catch (const EOvxException&) {}
}

bool TComPortLink::Carrier() {
    try {
        return port_.DCD();
    } catch (const EOvxException&) {
        return false;
    }
}

void TComPortLink::SetBaud(long baud) {
    try {
        port_.SetBaud(baud);
    } catch (const EOvxException&) {}
}

void TComPortLink::SetSoftwareFlow(bool on) {
    try {
        port_.SetSWFlowOptions(on ? swfBoth : swfNone);
    } catch (const EOvxException&) {}
}

void TComPortLink::Pause(int64_t ms) { DelayMs(ms, port_.Clock()); }

int64_t TComPortLink::NowMs() { return port_.Clock().NowMs(); }

void TComPortLink::LogState(std::string_view name, uint32_t number) { port_.LogFaxState(name, number); }

bool TComPortLink::Alive() {
    try {
        return port_.Open() && port_.Dispatcher().Device().IsOpen() && !port_.Dispatcher().LineLost();
    } catch (const EOvxException&) {
        return false;
    }
}

}  // namespace telvane::transport
