// The part of a scripted modem that is the same for every class: a fake clock that pauses
// advance, the machine's state changes recorded by name, and serial-line controls that a
// scripted modem has no use for.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "transport/fax/faxlink.h"

namespace faxtest {

class SimulatedLink : public telvane::transport::TFaxLink {
public:
    std::vector<std::string> States;
    int64_t Now = 0;

    void FlushOut() override {}
    void SetDTR(bool) override {}
    void SetRTS(bool) override {}
    bool Carrier() override { return false; }
    void SetBaud(long) override {}
    void SetSoftwareFlow(bool) override {}
    void Pause(int64_t ms) override { Now += ms; }
    int64_t NowMs() override { return Now; }
    void LogState(std::string_view name, uint32_t) override { States.emplace_back(name); }
};

}  // namespace faxtest
