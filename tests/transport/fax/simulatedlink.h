// The part of a scripted modem that is the same for every class: a fake clock that pauses
// advance, the machine's state changes recorded by name, the output flow control asked for,
// serial-line controls that a scripted modem has no use for, and the loop that drives a
// session against the modem on its clock.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "transport/fax/faxlink.h"
#include "transport/fax/faxsession.h"

namespace faxtest {

class SimulatedLink : public telvane::transport::TFaxLink {
public:
    std::vector<std::string> States;
    int64_t Now = 0;
    bool OutputFlow = false;  // XOFF/XON from the modem pace our output (SetOutputFlow)
    int OutputFlowSwitches = 0;

    // Whether the modem has bytes for us now; when it next answers by itself (-1: only when
    // written to); whether it has stopped taking our data for good.
    virtual bool HasInput() const = 0;
    virtual int64_t NextEventMs() const { return -1; }
    virtual bool Stalled() const { return false; }

    void FlushOut() override {}
    void SetDTR(bool) override {}
    void SetRTS(bool) override {}
    bool Carrier() override { return false; }
    void SetBaud(long) override {}
    void SetSoftwareFlow(bool) override {}
    void SetOutputFlow(bool on) override {
        if (on != OutputFlow) ++OutputFlowSwitches;
        OutputFlow = on;
    }
    void Pause(int64_t ms) override { Now += ms; }
    int64_t NowMs() override { return Now; }
    void LogState(std::string_view name, uint32_t) override { States.emplace_back(name); }
};

// Runs a started session on `modem` until it finishes, nothing more can happen or `stop` says so:
// time passes on the modem's clock to whatever is due next.
inline void Drive(telvane::transport::TOvxCustomAbstractFax& fax, SimulatedLink& modem,
                  const std::function<bool()>& stop = {}, int maxSteps = 200000) {
    for (int i = 0; i < maxSteps && fax.InProgress(); ++i) {
        fax.ServiceSession();
        if (stop && stop()) return;
        if (!fax.InProgress() || modem.HasInput()) continue;
        int64_t wake = fax.NextWakeMs();
        const int64_t event = modem.NextEventMs();
        if (event >= 0 && (wake < 0 || event < wake)) wake = event;
        if (wake < 0) break;
        // A machine waiting for room in a modem that takes nothing: time goes on.
        if (modem.Stalled() && wake <= modem.Now) wake = modem.Now + 55;
        if (wake > modem.Now) modem.Now = wake;
    }
}

}  // namespace faxtest
