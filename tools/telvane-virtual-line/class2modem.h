// A Class 2 or Class 2.0 fax modem for the virtual line: it speaks the "+F" command set of
// EIA/TIA-592 Class 2 or ITU-T T.32 Class 2.0 to the host and runs T.30 itself (spandsp's T.30
// terminal) on the simulated telephone line.
// Page data is exchanged with the host between the line's time steps: while the host delivers
// or takes a page the line is frozen (frozen()), so that neither T.30 engine sees time pass.
// Sending, each host page becomes one document (EOM between pages); receiving, the pages are
// handed to the host once the far end has sent its last one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace telvane::virtualline {

struct Class2Config {
    bool class20 = false;
    std::string stationId;
    bool noXon = false;    // never send XON after CONNECT (Class 2)
    int rejectPages = 0;   // the first N pages the host sends are rejected (page status 2)
    int eomAfterPage = 0;  // receiving: report "+FET:1" after this page (0: never)
    std::string workDir;   // for the page files; made and removed by the modem
};

class Class2Modem {
public:
    using Output = std::function<void(const uint8_t* data, size_t len)>;
    // AT_MODEM_CONTROL_CALL (with the number), _ANSWER or _HANGUP.
    using Control = std::function<void(int op, const std::string& number)>;
    using Logger = std::function<void(const std::string& text)>;

    Class2Modem(Class2Config config, Output out, Control control, Logger log);
    ~Class2Modem();
    Class2Modem(const Class2Modem&) = delete;
    Class2Modem& operator=(const Class2Modem&) = delete;

    void fromHost(const uint8_t* data, size_t len);
    void callEvent(int event);  // AT_CALL_EVENT_*
    // One block of line audio: what the modem sends, and what it hears.
    void tx(int16_t* amp, int len);
    void rx(int16_t* amp, int len);
    bool frozen() const;
    // Runs what is due by the clock; called on every block, frozen or not.
    void poll();

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace telvane::virtualline
