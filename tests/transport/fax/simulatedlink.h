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
    virtual bool hasInput() const = 0;
    virtual int64_t nextEventMs() const { return -1; }
    virtual bool stalled() const { return false; }

    void flushOut() override {}
    void setDTR(bool) override {}
    void setRTS(bool) override {}
    bool carrier() override { return false; }
    void setBaud(long) override {}
    void setSoftwareFlow(bool) override {}
    void setOutputFlow(bool on) override {
        if (on != OutputFlow) ++OutputFlowSwitches;
        OutputFlow = on;
    }
    void pause(int64_t ms) override { Now += ms; }
    int64_t nowMs() override { return Now; }
    void logState(std::string_view name, uint32_t) override { States.emplace_back(name); }
};

// Runs a started session on `modem` until it finishes, nothing more can happen or `stop` says so:
// time passes on the modem's clock to whatever is due next.
inline void drive(telvane::transport::TOvxCustomAbstractFax& fax, SimulatedLink& modem,
                  const std::function<bool()>& stop = {}, int maxSteps = 200000) {
    for (int i = 0; i < maxSteps && fax.inProgress(); ++i) {
        fax.serviceSession();
        if (stop && stop()) return;
        if (!fax.inProgress() || modem.hasInput()) continue;
        int64_t wake = fax.nextWakeMs();
        const int64_t event = modem.nextEventMs();
        if (event >= 0 && (wake < 0 || event < wake)) wake = event;
        if (wake < 0) break;
        // A machine waiting for room in a modem that takes nothing: time goes on.
        if (modem.stalled() && wake <= modem.Now) wake = modem.Now + 55;
        if (wake > modem.Now) modem.Now = wake;
    }
}

}  // namespace faxtest
