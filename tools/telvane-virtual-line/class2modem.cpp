// The virtual Class 2 / Class 2.0 fax modem (see class2modem.h).
#include "class2modem.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <vector>

extern "C" {
#include <spandsp.h>
}

namespace telvane::virtualline {

namespace {
constexpr uint8_t DLE = 0x10, ETX = 0x03, XON = 0x11, XOFF = 0x13, DC2 = 0x12;
constexpr size_t kMaxCommand = 256;
constexpr size_t kMaxPage = 4 * 1024 * 1024;
// The modem's buffer for page data from the host, and the levels at which it sends XOFF and,
// once it has drained again, XON.
constexpr size_t kBufferSize = 4096;
constexpr size_t kXoffLevel = kBufferSize * 3 / 4;
constexpr size_t kXonLevel = kBufferSize / 4;
constexpr int kBps[] = {2400, 4800, 7200, 9600, 12000, 14400};

int64_t nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

uint8_t reverse(uint8_t b) {
    b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// A station ID from the 20 bytes of a CSI or TSI frame (sent last character first).
std::string decodeId(const uint8_t* fif, int len) {
    std::string id;
    for (int i = std::min(len, 20) - 1; i >= 0; --i) id += static_cast<char>(fif[i]);
    while (!id.empty() && id.back() == ' ') id.pop_back();
    while (!id.empty() && id.front() == ' ') id.erase(id.begin());
    return id;
}

int scanCodeOf(uint8_t bits) {
    static const int kCodes[8] = {5, 1, 3, 4, 7, 6, 2, 0};
    return kCodes[(bits >> 4) & 7];
}
}  // namespace

struct Class2Modem::Impl {
    enum class Mode { Command, HostData, WaitDc2 };
    enum class Call { Idle, Dialling, Answering, Sending, Receiving };

    Class2Config cfg;
    Output out;
    Control control;
    Logger log;

    bool echo = true;
    std::string cmd;
    Mode mode = Mode::Command;
    Call call = Call::Idle;
    std::string fclass = "0";
    std::string localId;
    // The modem's own defaults: 9600, and 10 ms as its minimum scan time (hosts such as efax
    // cannot handle a session without one).
    int hostParams[8] = {0, 3, 0, 2, 0, 0, 0, 3};
    // Phase C bit order: reversed until the host sets it (AT+FBOR / AT+FBO), as most Class 2
    // modems hand over received data; Class 2.0 modems start in direct order.
    bool bitOrderSet = false;
    bool bitReverse = false;
    // AT+FLO: 1 = XON/XOFF, 2 = RTS/CTS (a pseudo-terminal has no CTS: the buffer simply stops
    // taking data), 0 = none.
    int flowControl = 1;
    int autoAnswer = 0;  // S0
    int rings = 0;
    bool frozen = false;
    fax_state_t* nearEnd = nullptr;

    // Sending: the far end's capabilities as heard on the line before T.30 starts.
    fsk_rx_state_t* tapFsk = nullptr;
    hdlc_rx_state_t* tapHdlc = nullptr;
    std::string farId;
    bool gotDis = false, farFine = false, farWide = false;
    int farBr = 1, farScan = 0;
    std::vector<uint8_t> page;
    bool dle = false;
    bool awaitFet = false;
    int rejectLeft = 0;
    int pagesWritten = 0;
    std::vector<bool> moreAfter;
    int confirmed = 0;
    bool tapReported = false;
    bool hostWaiting = false;
    bool finalPending = false;
    char lastStatus = '1';
    bool sendDone = false;
    // Page data from the host fills a bounded buffer that empties at the session's speed; the
    // end of a page is answered once the buffer has emptied behind it.
    std::function<void()> deferred;
    size_t queued = 0;
    int64_t drainedAt = 0;
    bool xoffSent = false;
    int sessionBr = 3;
    // Received page data goes to the host at the session's speed, followed by its reports.
    std::string toHost;
    size_t toHostPos = 0;
    std::string afterData;
    int64_t sentAt = 0;

    // Receiving: the pages as the far end sent them, handed over after its last page.
    struct RxPage {
        std::vector<uint8_t> data;
        bool fine = false;
    };
    std::string remoteId;
    bool dcsFine = false, dcsWide = false;
    int dcsBr = 3;
    bool reported = false;
    bool rxDone = false;
    bool pendingFdr = false;
    std::vector<RxPage> rxPages;
    size_t served = 0;

    void write(const std::string& s) { out(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }
    void line(const std::string& s) { write("\r\n" + s + "\r\n"); }
    std::string n(const char* c2, const char* c20) const { return cfg.class20 ? c20 : c2; }
    std::string pagePath(int k) const { return cfg.workDir + "/page-" + std::to_string(k) + ".tif"; }
    std::string rxPath() const { return cfg.workDir + "/received.tif"; }

    std::string params(bool fine, int br, bool wide, int scan) const {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%d,%d,%d,2,0,0,0,%d", fine ? 1 : 0, br, wide ? 1 : 0, scan);
        return buf;
    }

    void stopTap() {
        if (tapFsk) fsk_rx_free(tapFsk);
        if (tapHdlc) hdlc_rx_free(tapHdlc);
        tapFsk = nullptr;
        tapHdlc = nullptr;
    }

    void freeNear() {
        if (nearEnd) fax_free(nearEnd);
        nearEnd = nullptr;
    }

    void resetCall() {
        stopTap();
        freeNear();
        call = Call::Idle;
        mode = Mode::Command;
        frozen = false;
        gotDis = false;
        farId.clear();
        page.clear();
        awaitFet = false;
        rejectLeft = cfg.rejectPages;
        pagesWritten = 0;
        moreAfter.clear();
        confirmed = 0;
        tapReported = false;
        hostWaiting = false;
        finalPending = false;
        sendDone = false;
        deferred = nullptr;
        queued = 0;
        xoffSent = false;
        toHost.clear();
        toHostPos = 0;
        afterData.clear();
        remoteId.clear();
        reported = false;
        rxDone = false;
        pendingFdr = false;
        rxPages.clear();
        served = 0;
    }

    // --- host side ---
    void fromHost(const uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            const uint8_t c = p[i];
            if (mode == Mode::HostData) {
                ++queued;
                hostData(c);
            } else if (mode == Mode::WaitDc2) {
                if (c == DC2) sendPageToHost();
            } else if (c == '\r') {
                if (echo) write(cmd + "\r");
                const std::string line = cmd;
                cmd.clear();
                if (!line.empty()) runCommand(line);
            } else if (c >= 0x20 && cmd.size() < kMaxCommand) {
                cmd += static_cast<char>(c);
            }
        }
    }

    void hostData(uint8_t c) {
        if (dle) {
            dle = false;
            if (c == DLE) {
                if (page.size() < kMaxPage) page.push_back(DLE);
            } else if (c == ETX) {
                mode = Mode::Command;
                defer([this] {
                    awaitFet = true;
                    line("OK");
                });
            } else if (cfg.class20 && (c == ',' || c == ';' || c == '.')) {
                mode = Mode::Command;
                const bool more = c != '.';
                defer([this, more] { pageDone(more); });
            }
            return;
        }
        if (c == DLE)
            dle = true;
        else if (page.size() < kMaxPage)
            page.push_back(c);
    }

    void defer(std::function<void()> action) { deferred = std::move(action); }

    bool SoftwareFlow() const { return flowControl == 1 && !cfg.noXon; }

    // How many bytes the modem takes from the host now: page data only while its buffer has room.
    size_t room() const {
        if (mode != Mode::HostData) return kMaxCommand;
        return queued < kBufferSize ? kBufferSize - queued : 0;
    }

    int64_t sessionBytes(int64_t ms) const { return ms * kBps[std::clamp(sessionBr, 0, 5)] / 8000; }

    void poll() {
        const int64_t now = nowMs();
        // Page data leaves the buffer at the line's speed.
        const size_t drain = static_cast<size_t>(std::max<int64_t>(0, sessionBytes(now - drainedAt)));
        if (drain > 0 || queued == 0) drainedAt = now;
        queued -= std::min(queued, drain);
        if (mode == Mode::HostData && SoftwareFlow()) {
            if (!xoffSent && queued >= kXoffLevel) {
                const uint8_t x = XOFF;
                out(&x, 1);
                xoffSent = true;
            } else if (xoffSent && queued <= kXonLevel) {
                const uint8_t x = XON;
                out(&x, 1);
                xoffSent = false;
            }
        }
        if (deferred && queued == 0) {
            auto action = std::move(deferred);
            deferred = nullptr;
            action();
        }
        // Received page data, paced the same way.
        if (toHostPos < toHost.size()) {
            const size_t n = std::min(toHost.size() - toHostPos,
                                      static_cast<size_t>(std::max<int64_t>(0, sessionBytes(now - sentAt))));
            if (n > 0) {
                write(toHost.substr(toHostPos, n));
                toHostPos += n;
                sentAt = now;
            }
            if (toHostPos >= toHost.size()) {
                toHost.clear();
                toHostPos = 0;
                write(afterData);
                afterData.clear();
            }
        }
    }

    void runCommand(const std::string& typed) {
        // Characters before the "AT" prefix are ignored (V.250), so an escape sequence that
        // reaches the modem in command state ("+++ATH") is taken as the command after it.
        const size_t at = upper(typed).find("AT");
        if (at == std::string::npos) {
            line("ERROR");
            return;
        }
        const std::string raw = typed.substr(at);
        const std::string body = upper(raw).substr(2);
        if (body.empty())
            line("OK");
        else if (!queryCommand(body) && !settingCommand(raw, body) && !callCommand(body))
            otherCommand(body);
    }

    static bool startsWith(const std::string& body, const char* p) {
        return body.compare(0, std::char_traits<char>::length(p), p) == 0;
    }

    // The questions the modem answers: its class, identity and the session's parameters.
    bool queryCommand(const std::string& body) {
        std::string reply;
        if (body == "+FCLASS=?")
            reply = cfg.class20 ? "0,2.0" : "0,2";
        else if (body == "+FCLASS?")
            reply = fclass;
        else if (body == "+FMDL?" || body == "+FMM?")
            reply = cfg.class20 ? "TELVANE VIRTUAL CLASS 2.0" : "TELVANE VIRTUAL CLASS 2";
        else if (body == "+FMFR?" || body == "+FMI?")
            reply = "TELVANE";
        else if (body == "+FREV?" || body == "+FMR?")
            reply = "1.0";
        else if (startsWith(body, "+FDIS?") || startsWith(body, "+FIS?"))
            reply = n("+FDIS:", "+FIS:") + params(hostParams[0] & 1, hostParams[1], hostParams[2] == 1, 0);
        else if (body == "+FLO=?")
            reply = "(0-2)";
        else if (body == "+FLO?")
            reply = std::to_string(flowControl);
        else if (body == "+FPS?" || body == "+FPTS?")
            reply = n("+FPTS:", "+FPS:") + std::string(1, lastStatus) + (cfg.class20 ? ",0,0,0,0" : "");
        else
            return false;
        line(reply);
        line("OK");
        return true;
    }

    // The settings the modem keeps: class, local ID, session parameters, bit order, flow control.
    bool settingCommand(const std::string& raw, const std::string& body) {
        const auto setting = [&](const char* a, const char* b) {
            return (startsWith(body, a) || startsWith(body, b)) && body.back() != '?';
        };
        const size_t equals = body.find('=');
        const std::string value = equals == std::string::npos ? std::string() : body.substr(equals + 1);
        if (startsWith(body, "+FCLASS=")) {
            if (value != "0" && value != (cfg.class20 ? "2.0" : "2")) {
                line("ERROR");
                return true;
            }
            fclass = value;
        } else if (startsWith(body, "+FLID=") || startsWith(body, "+FLI=")) {
            std::string id = raw.substr(raw.find('=') + 1);
            id.erase(std::remove(id.begin(), id.end(), '"'), id.end());
            localId = id.substr(0, 20);
        } else if (setting("+FDIS=", "+FIS=") || setting("+FDCC=", "+FCC=")) {
            setParams(value);
        } else if (setting("+FBOR=", "+FBO=")) {
            bitReverse = std::atoi(value.c_str()) & 1;
            bitOrderSet = true;
        } else if (startsWith(body, "+FLO=")) {
            const int v = std::atoi(value.c_str());
            if (v < 0 || v > 2) {
                line("ERROR");
                return true;
            }
            flowControl = v;
        } else {
            return false;
        }
        line("OK");
        return true;
    }

    // Dialling, answering and hanging up; the page commands of sending and receiving.
    bool callCommand(const std::string& body) {
        if (startsWith(body, "D")) {
            dial(body);
        } else if (body == "A") {
            if (rings == 0)
                line("NO CARRIER");  // nobody is calling: the line stays silent
            else
                answer();
        } else if (body == "H" || body == "H0" || body == "+FKS" || body == "+FK") {
            if (call != Call::Idle) control(AT_MODEM_CONTROL_HANGUP, "");
            resetCall();
            line("OK");
        } else if (body == "+FDT") {
            startHostPage();
        } else if (startsWith(body, "+FET=")) {
            if (!awaitFet) {
                line("ERROR");
                return true;
            }
            awaitFet = false;
            const int v = std::atoi(body.substr(5).c_str());
            pageDone(v != 2 && v != 5);
        } else if (body == "+FDR") {
            hostWantsPage();
        } else {
            return false;
        }
        return true;
    }

    void dial(const std::string& body) {
        if (fclass == "0" || call != Call::Idle) {
            line(fclass == "0" ? "NO CARRIER" : "ERROR");
            return;
        }
        resetCall();
        call = Call::Dialling;
        std::string number;
        for (char c : body.substr(1))
            if (std::isdigit(static_cast<unsigned char>(c))) number += c;
        control(AT_MODEM_CONTROL_CALL, number);
    }

    // Init strings, +FCR, +FAA, +FNR... are taken as they come; echo and auto-answer are kept.
    void otherCommand(const std::string& body) {
        const size_t s0 = body.find("S0=");
        if (s0 != std::string::npos) autoAnswer = std::atoi(body.c_str() + s0 + 3);
        if (body.find("E0") != std::string::npos && body.find('+') == std::string::npos) echo = false;
        if (body.find("E1") != std::string::npos && body.find('+') == std::string::npos) echo = true;
        if (body == "Z" || body == "&F") echo = true;
        line("OK");
    }

    void answer() {
        resetCall();
        rings = 0;
        call = Call::Answering;
        control(AT_MODEM_CONTROL_ANSWER, "");
    }

    void setParams(const std::string& v) {
        size_t start = 0;
        for (int i = 0; i < 8 && start <= v.size(); ++i) {
            size_t comma = v.find(',', start);
            if (comma == std::string::npos) comma = v.size();
            const std::string f = v.substr(start, comma - start);
            if (!f.empty()) hostParams[i] = static_cast<int>(std::strtol(f.c_str(), nullptr, 16));
            start = comma + 1;
        }
    }

    bool pageFine() const { return (hostParams[0] & 1) && farFine; }
    bool pageWide() const { return hostParams[2] >= 1 && farWide; }

    void startHostPage() {
        if (call != Call::Sending || sendDone) {
            line("ERROR");
            return;
        }
        sessionBr = std::min(hostParams[1], farBr);
        line(n("+FDCS:", "+FCS:") + params(pageFine(), sessionBr, pageWide(), std::max(farScan, hostParams[7] & 7)));
        line("CONNECT");
        if (!cfg.class20 && !cfg.noXon) {
            const uint8_t x = XON;
            out(&x, 1);
        }
        page.clear();
        dle = false;
        queued = 0;
        xoffSent = false;
        drainedAt = nowMs();
        mode = Mode::HostData;
    }

    void statusToHost(char status, const std::string& hangup, bool statusSent = false) {
        lastStatus = status;
        if (cfg.class20) {
            if (!statusSent) line("+FPS:" + std::string(1, status) + ",0,0,0,0");
            if (!hangup.empty()) line("+FHS:" + hangup);
            line(status == '2' && hangup.empty() ? "ERROR" : "OK");
        } else {
            if (!statusSent) line("+FPTS:" + std::string(1, status));
            if (!hangup.empty()) line("+FHNG:" + hangup);
            line("OK");
        }
        hostWaiting = false;
    }

    void pageDone(bool more) {
        if (rejectLeft > 0) {
            --rejectLeft;
            log("page rejected by the far end (simulated)");
            statusToHost('2', "");
            return;
        }
        const int k = ++pagesWritten;
        if (!writeTiff(pagePath(k))) {
            log("cannot write the page file");
            line(n("+FHNG:", "+FHS:") + "70");
            line("OK");
            control(AT_MODEM_CONTROL_HANGUP, "");
            resetCall();
            return;
        }
        moreAfter.push_back(more);
        hostWaiting = true;
        if (!nearEnd) startNear(true);
        frozen = false;
    }

    bool writeTiff(const std::string& path) {
        t4_rx_state_t* r = t4_rx_init(nullptr, path.c_str(), T4_COMPRESSION_ITU_T4_2D);
        if (!r) return false;
        t4_rx_set_rx_encoding(r, T4_COMPRESSION_ITU_T4_1D);
        t4_rx_set_image_width(r, pageWide() ? 2048 : 1728);
        t4_rx_set_x_resolution(r, T4_X_RESOLUTION_R8);
        t4_rx_set_y_resolution(r, pageFine() ? T4_Y_RESOLUTION_FINE : T4_Y_RESOLUTION_STANDARD);
        t4_rx_start_page(r);
        std::vector<uint8_t> data = page;
        if (bitReverse)
            for (uint8_t& b : data) b = reverse(b);
        if (!data.empty()) t4_rx_put_chunk(r, data.data(), static_cast<int>(data.size()));
        t4_rx_end_page(r);
        t4_rx_free(r);
        return true;
    }

    void hostWantsPage() {
        if (call != Call::Receiving) {
            line("ERROR");
            return;
        }
        if (!rxDone) {
            pendingFdr = true;
            return;
        }
        serveNext();
    }

    void serveNext() {
        pendingFdr = false;
        if (served < rxPages.size()) {
            const RxPage& p = rxPages[served];
            line(n("+FDCS:", "+FCS:") + params(p.fine, dcsBr, dcsWide, 0));
            line("CONNECT");
            mode = Mode::WaitDc2;
            return;
        }
        line(n("+FHNG:", "+FHS:") + (rxPages.empty() ? "70" : "0"));
        line("OK");
        resetCall();
    }

    bool reverseReceived() const { return bitOrderSet ? bitReverse : !cfg.class20; }

    // The page goes out at the session's speed (poll()), its reports after it.
    void sendPageToHost() {
        const RxPage& p = rxPages[served++];
        const bool reversed = reverseReceived();
        toHost.clear();
        toHost.reserve(p.data.size() + 16);
        for (uint8_t b : p.data) {
            const uint8_t c = reversed ? reverse(b) : b;
            if (c == DLE) toHost += static_cast<char>(DLE);
            toHost += static_cast<char>(c);
        }
        toHost += static_cast<char>(DLE);
        toHost += static_cast<char>(ETX);
        toHostPos = 0;
        sessionBr = dcsBr;
        sentAt = nowMs();
        mode = Mode::Command;
        const bool last = served >= rxPages.size();
        const char post = last ? '2' : static_cast<int>(served) == cfg.eomAfterPage ? '1' : '0';
        afterData = "\r\n" + n("+FPTS:1", "+FPS:1,0,0,0,0") + "\r\n\r\n+FET:" + std::string(1, post) + "\r\n\r\nOK\r\n";
    }

    // --- line side ---
    void startTap() {
        tapHdlc = hdlc_rx_init(nullptr, false, false, 5, tapFrame, this);
        tapFsk = fsk_rx_init(nullptr, &preset_fsk_specs[FSK_V21CH2], FSK_FRAME_MODE_SYNC,
                             reinterpret_cast<put_bit_func_t>(hdlc_rx_put_bit), tapHdlc);
    }

    static void tapFrame(void* user, const uint8_t* pkt, int len, int ok) {
        auto* d = static_cast<Impl*>(user);
        if (len < 3 || !ok || !d->tapFsk) return;
        const uint8_t fcf = pkt[2] & 0xFE;
        const uint8_t* fif = pkt + 3;
        const int fifLen = len - 3;
        if (fcf == T30_CSI) {
            d->farId = decodeId(fif, fifLen);
        } else if (fcf == T30_DIS && fifLen >= 3) {
            d->gotDis = true;
            d->farFine = fif[1] & 0x40;
            const uint8_t sp = fif[1];
            d->farBr = (sp & 0x20) ? 5 : (sp & 0x10) ? 4 : ((sp & 0x0C) == 0x04 || (sp & 0x0C) == 0x0C) ? 3 : 1;
            d->farWide = (fif[2] & 0x03) == 0x01 || (fif[2] & 0x03) == 0x02;
            d->farScan = scanCodeOf(fif[2]);
        }
        if ((pkt[1] & 0x10) && d->gotDis && !d->tapReported) {
            d->tapReported = true;
            // The far end's capabilities are known: the host now negotiates and sends its
            // first page while the line stands still.
            d->frozen = true;
            d->line(d->n("+FCON", "+FCO"));
            if (!d->farId.empty()) d->line(d->n("+FCSI:", "+FCI:") + "\"" + d->farId + "\"");
            d->line(d->n("+FDIS:", "+FIS:") + d->params(d->farFine, d->farBr, d->farWide, d->farScan));
            d->line("OK");
            d->log("far end capabilities reported to the host");
        }
    }

    void startNear(bool calling) {
        nearEnd = fax_init(nullptr, calling ? 1 : 0);
        fax_set_transmit_on_idle(nearEnd, 1);
        t30_state_t* t30 = fax_get_t30_state(nearEnd);
        t30_set_tx_ident(t30, (localId.empty() ? cfg.stationId : localId).c_str());
        // The host's bit rate limits what the modem offers (V.27 ter up to 4800, V.29 up to 9600).
        const int br = hostParams[1];
        t30_set_supported_modems(t30, br <= 1   ? T30_SUPPORT_V27TER
                                      : br <= 3 ? T30_SUPPORT_V27TER | T30_SUPPORT_V29
                                                : T30_SUPPORT_V27TER | T30_SUPPORT_V29 | T30_SUPPORT_V17);
        t30_set_supported_compressions(t30, T30_SUPPORT_T4_1D_COMPRESSION | T30_SUPPORT_T4_2D_COMPRESSION);
        t30_set_supported_resolutions(t30, T30_SUPPORT_STANDARD_RESOLUTION | T30_SUPPORT_FINE_RESOLUTION);
        t30_set_ecm_capability(t30, 0);
        t30_set_phase_d_handler(t30, phaseD, this);
        t30_set_phase_e_handler(t30, phaseE, this);
        if (calling) {
            t30_set_tx_file(t30, pagePath(1).c_str(), -1, -1);
            t30_set_document_handler(t30, richDocument, this);
        } else {
            t30_set_rx_file(t30, rxPath().c_str(), -1);
            t30_set_real_time_frame_handler(t30, onFrame, this);
        }
    }

    // At the end of each one-page document: another follows when the host said so. The page
    // just sent is the one after those already confirmed, so repeated questions agree.
    static int richDocument(t30_state_t* t30, void* user, int) {
        auto* d = static_cast<Impl*>(user);
        const size_t i = static_cast<size_t>(d->confirmed);
        if (i < d->moreAfter.size() && d->moreAfter[i]) {
            t30_set_tx_file(t30, d->pagePath(static_cast<int>(i) + 2).c_str(), -1, -1);
            return 1;
        }
        return 0;
    }

    static int phaseD(t30_state_t*, void* user, int result) {
        auto* d = static_cast<Impl*>(user);
        if (d->call != Call::Sending) return T30_ERR_OK;
        const char status = result == T30_RTN ? '2' : result == T30_RTP ? '3' : '1';
        const size_t i = static_cast<size_t>(d->confirmed++);
        const bool last = i >= d->moreAfter.size() || !d->moreAfter[i];
        d->log(std::string("post-page answer for page ") + std::to_string(i + 1) + ": " + status);
        if (last) {
            // The status and the final result now; the hang-up report once the call has ended.
            d->lastStatus = status;
            d->finalPending = true;
            d->statusToHost(status, "");
        } else {
            d->frozen = true;
            d->statusToHost(status, "");
        }
        return T30_ERR_OK;
    }

    static void phaseE(t30_state_t*, void* user, int completion) {
        auto* d = static_cast<Impl*>(user);
        d->log(std::string("near end phase E: ") + t30_completion_code_to_str(completion));
        d->frozen = false;
        if (d->call == Call::Sending) {
            d->sendDone = true;
            const std::string code = completion == T30_ERR_OK ? "0" : "50";
            if (d->hostWaiting) {
                d->statusToHost('2', code);
            } else {
                d->line(d->n("+FHNG:", "+FHS:") + code);
            }
            d->finalPending = false;
        } else if (d->call == Call::Receiving) {
            d->rxDone = true;
            d->loadRxPages();
            if (d->pendingFdr) d->serveNext();
        }
    }

    static void onFrame(t30_state_t*, void* user, int incoming, const uint8_t* msg, int len) {
        auto* d = static_cast<Impl*>(user);
        if (!incoming || len < 3) return;
        const uint8_t fcf = msg[2] & 0xFE;
        if (fcf == T30_TSI) {
            d->remoteId = decodeId(msg + 3, len - 3);
        } else if (fcf == T30_DCS && len >= 6) {
            const uint8_t sp = msg[4];
            d->dcsFine = sp & 0x40;
            d->dcsBr = (sp & 0x20)           ? 5
                       : (sp & 0x10)         ? 4
                       : !(sp & 0x0C)        ? 0
                       : (sp & 0x0C) == 0x04 ? 3
                       : (sp & 0x0C) == 0x08 ? 1
                                             : 2;
            d->dcsWide = (msg[5] & 0x03) == 0x01;
            if (!d->reported) {
                d->reported = true;
                d->line(d->n("+FCON", "+FCO"));
                d->line(d->n("+FTSI:", "+FTI:") + "\"" + d->remoteId + "\"");
                d->line(d->n("+FDCS:", "+FCS:") + d->params(d->dcsFine, d->dcsBr, d->dcsWide, 0));
                d->line("OK");
            }
        }
    }

    void loadRxPages() {
        rxPages.clear();
        std::error_code ec;
        if (!std::filesystem::exists(rxPath(), ec)) return;
        t4_tx_state_t* t = t4_tx_init(nullptr, rxPath().c_str(), -1, -1);
        if (!t) return;
        const int n = t4_tx_get_pages_in_file(t);
        for (int p = 0; p < n; ++p) {
            t4_tx_set_tx_encoding(t, T4_COMPRESSION_ITU_T4_1D);
            t4_tx_set_min_bits_per_row(t, 0);
            if (t4_tx_start_page(t) != 0) break;
            RxPage page;
            page.fine = t4_tx_get_y_resolution(t) >= T4_Y_RESOLUTION_FINE;
            uint8_t buf[4096];
            for (;;) {
                const int got = t4_tx_get_chunk(t, buf, sizeof buf);
                if (got > 0) page.data.insert(page.data.end(), buf, buf + got);
                if (got < static_cast<int>(sizeof buf)) break;
            }
            t4_tx_end_page(t);
            rxPages.push_back(std::move(page));
        }
        t4_tx_free(t);
        log("pages received from the far end: " + std::to_string(rxPages.size()));
    }

    void callEvent(int ev) {
        switch (ev) {
        case AT_CALL_EVENT_ALERTING: ringing(); break;
        case AT_CALL_EVENT_CONNECTED:
            if (call != Call::Dialling) break;
            call = Call::Sending;
            rejectLeft = cfg.rejectPages;
            startTap();
            break;
        case AT_CALL_EVENT_ANSWERED:
            if (call != Call::Answering) break;
            call = Call::Receiving;
            std::filesystem::remove(rxPath());
            startNear(false);
            break;
        case AT_CALL_EVENT_BUSY: callRefused("BUSY"); break;
        case AT_CALL_EVENT_NO_ANSWER: callRefused("NO ANSWER"); break;
        case AT_CALL_EVENT_NO_DIALTONE: callRefused("NO DIALTONE"); break;
        case AT_CALL_EVENT_HANGUP: hungUp(); break;
        default: break;
        }
    }

    void ringing() {
        if (call != Call::Idle) return;
        line("RING");
        if (autoAnswer > 0 && ++rings >= autoAnswer)
            answer();
        else if (autoAnswer == 0)
            rings = 1;
    }

    // A dialled call that did not connect: the host is told why.
    void callRefused(const char* result) {
        if (call == Call::Dialling) line(result);
        resetCall();
    }

    void hungUp() {
        rings = 0;
        if (call == Call::Dialling || call == Call::Answering) {
            line("NO CARRIER");
            resetCall();
        } else if (call == Call::Sending) {
            if (!sendDone) {
                line(n("+FHNG:", "+FHS:") + "50");
                if (hostWaiting || mode == Mode::Command) line("OK");
            }
            resetCall();
        } else if (call == Call::Receiving) {
            // The pages stay for the host; only the line is gone.
            stopTap();
            freeNear();
            if (!rxDone) {
                rxDone = true;
                loadRxPages();
                if (pendingFdr) serveNext();
            }
        }
    }
};

Class2Modem::Class2Modem(Class2Config config, Output out, Control control, Logger log) : d_(std::make_unique<Impl>()) {
    d_->cfg = std::move(config);
    d_->out = std::move(out);
    d_->control = std::move(control);
    d_->log = std::move(log);
    d_->rejectLeft = d_->cfg.rejectPages;
    std::filesystem::create_directories(d_->cfg.workDir);
}

Class2Modem::~Class2Modem() {
    d_->stopTap();
    d_->freeNear();
    std::error_code ec;
    std::filesystem::remove_all(d_->cfg.workDir, ec);
}

void Class2Modem::fromHost(const uint8_t* data, size_t len) { d_->fromHost(data, len); }
void Class2Modem::callEvent(int event) { d_->callEvent(event); }
bool Class2Modem::frozen() const { return d_->frozen; }
size_t Class2Modem::room() const { return d_->room(); }
bool Class2Modem::busy() const { return d_->call != Impl::Call::Idle || !d_->toHost.empty(); }
fax_state_t* Class2Modem::nearEnd() const { return d_->nearEnd; }
void Class2Modem::poll() { d_->poll(); }

void Class2Modem::tx(int16_t* amp, int len) {
    if (d_->nearEnd) {
        const int n = fax_tx(d_->nearEnd, amp, len);
        std::fill(amp + std::max(n, 0), amp + len, 0);
    } else {
        std::fill(amp, amp + len, 0);
    }
}

void Class2Modem::rx(int16_t* amp, int len) {
    if (d_->tapFsk) {
        fsk_rx(d_->tapFsk, amp, len);
        if (d_->tapReported) d_->stopTap();
    }
    if (d_->nearEnd) fax_rx(d_->nearEnd, amp, len);
}

}  // namespace telvane::virtualline
