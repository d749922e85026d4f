// telvane-virtual-line: a virtual fax line for tests and demos.
// Creates pseudo-terminals that behave like Class 1 fax modems (spandsp's T.31 AT interpreter
// and modems) and wires their telephone side, in real time (8000 samples/s, 20 ms blocks), to
// either a software fax machine (spandsp's T.30 terminal) that answers and stores TIFF files or
// calls and sends a TIFF file, or to a second emulated modem so that two programs can fax each
// other. With --class 2 or 2.0 the modem speaks the Class 2 / 2.0 command set instead and runs
// T.30 itself (class2modem.h); only one modem then, no --pair.
// It prints one result line per call and runs until SIGINT/SIGTERM or --calls is reached.
// Robustness: a host that closes its tty resets that modem (like dropping DTR); garbage from the
// host goes to the AT interpreter, which rejects it; a host that stops reading has its replies
// bounded and the oldest dropped; nothing the host does can stop the loop.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "class2modem.h"

extern "C" {
#include <spandsp.h>
}

#include "faults.h"

namespace {

constexpr int kSampleRate = 8000;
constexpr int kBlock = 160;  // 20 ms
constexpr int64_t kBlockNs = 20'000'000;
constexpr size_t kMaxHostQueue = 64 * 1024;        // replies kept for a host that does not read
constexpr int kRingIntervalBlocks = 250;           // one RING every 5 s
constexpr int kHangupGraceBlocks = 150;            // 3 s after the far end finished
constexpr int64_t kStopGraceNs = 3'000'000'000;    // --calls reached: stop this much later
constexpr int64_t kBusyGraceNs = 300'000'000'000;  // ...or once a Class 2 modem's host is done, within this

volatile std::sig_atomic_t gStop = 0;
void onSignal(int) { gStop = 1; }

int64_t nowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

struct Options {
    std::vector<std::string> ttys;
    bool pair = false;
    bool callMode = false;                             // far end calls the host (else it answers the host's calls)
    std::string sendFile;                              // call mode: TIFF to send
    std::string receivePattern = "received-%03d.tif";  // answer mode: %d = call number
    std::string farId = "TELVANE LINE";
    int busyFirst = 0;
    bool neverAnswer = false;
    int rings = 10;               // call mode: rings before the far end gives up
    int answerAfterSeconds = 2;   // answer mode: ringing before the far end picks up
    int dialTimeoutSeconds = 60;  // an unanswered dial ends with NO CARRIER after this
    int callGapSeconds = 10;      // call mode: pause between calls
    int calls = 0;                // 0 = unlimited
    std::string logPath;
    bool fineOnly = false;
    bool ecm = true;             // the far end offers error correction
    bool twoD = true;            // ...2-D coding (MR)
    bool t6 = true;              // ...and T.6 coding (MMR), with error correction and 2-D only
    int delayMs = 40;            // one-way line delay
    std::string faxClass = "1";  // 1, 2 or 2.0: the command set the modem speaks
    bool noXon = false;
    int rejectPages = 0;
    int hangupAfterPages = 0;
    int eomAfterPage = 0;
    vline::FaultOptions faults;
};

FILE* gLog = nullptr;

void log(const char* fmt, ...) {
    if (!gLog) return;
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    std::fprintf(gLog, "%s.%03ld ", stamp, ts.tv_nsec / 1'000'000);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(gLog, fmt, ap);
    va_end(ap);
    std::fputc('\n', gLog);
    std::fflush(gLog);
}

// Keeps printable lines of a byte stream for the log (page data is binary and skipped).
class LineSniffer {
public:
    void setPrefix(std::string prefix) { prefix_ = std::move(prefix); }
    void feed(const uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            const uint8_t c = p[i];
            const bool dataEnd = c == 0x03 && last_ == 0x10;  // DLE ETX ends a block of data
            last_ = c;
            if (c == '\r' || c == '\n' || dataEnd) {
                flush();
            } else if (c >= 0x20 && c < 0x7f && !binary_) {
                if (line_.size() < 200)
                    line_ += static_cast<char>(c);
                else
                    binary_ = true;
            } else {
                binary_ = true;
            }
        }
    }

private:
    void flush() {
        if (!binary_ && !line_.empty()) log("%s %s", prefix_.c_str(), line_.c_str());
        line_.clear();
        binary_ = false;
    }
    std::string prefix_;
    std::string line_;
    bool binary_ = false;
    uint8_t last_ = 0;
};

// The received file's name: the first "%d" (or "%0Nd") of the pattern becomes the call number.
// Only that conversion is honoured, so a pattern can never act as a printf format.
std::string receiveName(const std::string& pattern, int call) {
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%') continue;
        size_t j = i + 1;
        int width = 0;
        while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j])) && width < 100)
            width = width * 10 + (pattern[j++] - '0');
        if (j < pattern.size() && pattern[j] == 'd') {
            std::string number = std::to_string(call);
            if (static_cast<int>(number.size()) < width)
                number.insert(0, static_cast<size_t>(width) - number.size(), '0');
            return pattern.substr(0, i) + number + pattern.substr(j + 1);
        }
    }
    return pattern;
}

class Line;

// One emulated modem on a pseudo-terminal.
struct Modem {
    Line* line = nullptr;
    int index = 0;
    int master = -1;
    std::string slavePath;
    std::string linkPath;
    t31_state_t* t31 = nullptr;
    std::unique_ptr<telvane::virtualline::Class2Modem> c2;  // instead of t31 for Class 2 / 2.0
    bool hostPresent = false;
    bool cts = true;
    std::deque<uint8_t> toHost;
    std::vector<int> pendingEvents;  // call events raised from the main loop
    std::vector<int> pendingOps;     // modem-control operations to act on
    std::string dialled;
    LineSniffer fromHostLog;
    LineSniffer toHostLog;
};

class Line {
public:
    explicit Line(Options o)
        : opt_(std::move(o)), faults_(opt_.faults, [](const std::string& s) { log("%s", s.c_str()); }) {}
    ~Line();
    bool setup();
    void run();

    static int atTx(at_state_t*, void* user, const uint8_t* buf, size_t len);
    static int modemControl(t31_state_t*, void* user, int op, const char* num);
    static int phaseB(t30_state_t*, void* user, int result);
    static int phaseD(t30_state_t*, void* user, int result);
    static void phaseE(t30_state_t*, void* user, int completion);

private:
    enum class CallState { Idle, Dialling, Ringing, Connected, Finishing };

    bool createModem(Modem& m, const std::string& link);
    void resetModem(Modem& m);
    void pollOnce(int64_t deadline);
    // One block of the line: hosts come and go, the call moves on, pending operations and
    // events reach the modems and the audio is exchanged; false while a Class 2 modem holds
    // the line still.
    bool lineBlock();
    void noticeHost(int i);  // a host opened or closed modem i's tty
    void deliverPending(Modem& m);
    void readHost(Modem& m);
    void writeHost(Modem& m);
    void block();
    void delay(std::deque<int16_t>& line, int16_t* block);
    void clearLine();
    void callControl();
    void whenIdle();
    void whenDialling();
    void whenRinging();
    void whenConnected();
    void frozenCallControl();
    void handleOp(Modem& m, int op, const std::string& num);
    void startFarEnd(bool calling);
    void endCall(const char* why);
    void outcome(int pages, const char* remote, int code, const char* text);

    Options opt_;
    Modem modems_[2];
    int modemCount_ = 1;
    fax_state_t* fax_ = nullptr;
    CallState state_ = CallState::Idle;
    int caller_ = 0;  // pair mode: the modem that dialled
    int blocksInState_ = 0;
    int ringsSent_ = 0;
    int dialAttempts_ = 0;
    int callNumber_ = 0;
    int callsFinished_ = 0;
    bool farEndDone_ = false;
    bool farHangsUp_ = false;
    bool resultPrinted_ = false;
    std::string rxFile_;
    int64_t idleSince_ = 0;
    int64_t stopAt_ = 0;
    int64_t lastBusy_ = 0;
    std::deque<int16_t> toFar_, toNear_;  // line delay, one queue per direction
    vline::Faults faults_;
};

Line::~Line() {
    if (fax_) fax_free(fax_);
    for (auto& m : modems_) {
        if (m.t31) t31_free(m.t31);
        if (m.master >= 0) close(m.master);
        if (!m.linkPath.empty()) unlink(m.linkPath.c_str());
    }
}

bool Line::createModem(Modem& m, const std::string& link) {
    m.line = this;
    m.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m.master < 0 || grantpt(m.master) != 0 || unlockpt(m.master) != 0) {
        std::fprintf(stderr, "telvane-virtual-line: cannot create a pseudo-terminal: %s\n", std::strerror(errno));
        return false;
    }
    m.slavePath = ptsname(m.master);
    // Raw mode on the pair, so that nothing the modem sends is echoed or translated.
    termios t{};
    tcgetattr(m.master, &t);
    cfmakeraw(&t);
    tcsetattr(m.master, TCSANOW, &t);
    if (!link.empty()) {
        struct stat st {};
        if (lstat(link.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                std::fprintf(stderr, "telvane-virtual-line: %s exists and is not a symbolic link\n", link.c_str());
                return false;
            }
            unlink(link.c_str());
        }
        if (symlink(m.slavePath.c_str(), link.c_str()) != 0) {
            std::fprintf(stderr, "telvane-virtual-line: cannot create %s: %s\n", link.c_str(), std::strerror(errno));
            return false;
        }
        m.linkPath = link;
    }
    resetModem(m);
    return true;
}

// A fresh modem, as after power-on (also used when the host closes the tty).
void Line::resetModem(Modem& m) {
    if (opt_.faxClass != "1") {
        telvane::virtualline::Class2Config c;
        c.class20 = opt_.faxClass == "2.0";
        c.stationId = "TELVANE MODEM";
        c.noXon = opt_.noXon;
        c.rejectPages = opt_.rejectPages;
        c.eomAfterPage = opt_.eomAfterPage;
        c.workDir = "/tmp/telvane-class2-" + std::to_string(getpid()) + "-" + std::to_string(m.index);
        m.c2.reset();
        m.c2 = std::make_unique<telvane::virtualline::Class2Modem>(
            c, [&m](const uint8_t* b, size_t n) { atTx(nullptr, &m, b, n); },
            [&m](int op, const std::string& num) {
                if (op == AT_MODEM_CONTROL_CALL) m.dialled = num;
                m.pendingOps.push_back(op);
            },
            [](const std::string& text) { log("class 2 modem: %s", text.c_str()); });
        m.pendingEvents.clear();
        m.pendingOps.clear();
        return;
    }
    if (m.t31) t31_free(m.t31);
    m.t31 = t31_init(nullptr, atTx, &m, modemControl, &m, nullptr, nullptr);
    t31_set_transmit_on_idle(m.t31, 1);
    m.cts = true;
    m.pendingEvents.clear();
    m.pendingOps.clear();
}

bool Line::setup() {
    modemCount_ = opt_.pair ? 2 : 1;
    for (int i = 0; i < modemCount_; ++i) {
        modems_[i].index = i;
        modems_[i].fromHostLog.setPrefix(opt_.pair ? "host" + std::to_string(i + 1) + ">" : "host>");
        modems_[i].toHostLog.setPrefix(opt_.pair ? "modem" + std::to_string(i + 1) + "<" : "modem<");
        const std::string link = i < static_cast<int>(opt_.ttys.size()) ? opt_.ttys[i] : std::string();
        if (!createModem(modems_[i], link)) return false;
        std::printf("modem %d: %s%s%s\n", i + 1, modems_[i].slavePath.c_str(), link.empty() ? "" : " -> ",
                    link.c_str());
    }
    std::fflush(stdout);
    idleSince_ = nowNs();
    clearLine();
    return true;
}

int Line::atTx(at_state_t*, void* user, const uint8_t* buf, size_t len) {
    auto* m = static_cast<Modem*>(user);
    m->toHostLog.feed(buf, len);
    if (m->index == 0) m->line->faults_.toHost(buf, len);
    m->toHost.insert(m->toHost.end(), buf, buf + len);
    while (m->toHost.size() > kMaxHostQueue) m->toHost.pop_front();
    return static_cast<int>(len);
}

// Called while a command line is parsed: only record the operation; act on it in the loop.
int Line::modemControl(t31_state_t*, void* user, int op, const char* num) {
    auto* m = static_cast<Modem*>(user);
    switch (op) {
    case AT_MODEM_CONTROL_CTS: m->cts = num != nullptr; return 0;
    case AT_MODEM_CONTROL_CALL: m->dialled = num ? num : ""; [[fallthrough]];
    case AT_MODEM_CONTROL_ANSWER:
    case AT_MODEM_CONTROL_HANGUP:
    case AT_MODEM_CONTROL_ONHOOK: m->pendingOps.push_back(op); return 0;
    default: return 0;
    }
}

int Line::phaseB(t30_state_t* t30, void*, int result) {
    const char* id = t30_get_rx_ident(t30);
    log("t30 phase B (0x%02x) remote \"%s\"", result, id ? id : "");
    return T30_ERR_OK;
}

int Line::phaseD(t30_state_t* t30, void* user, int result) {
    t30_stats_t st{};
    t30_get_transfer_statistics(t30, &st);
    auto* self = static_cast<Line*>(user);
    if (self->opt_.hangupAfterPages > 0 && st.pages_rx >= self->opt_.hangupAfterPages) self->farHangsUp_ = true;
    // The coding on the line, and whether the page went in error-correction blocks.
    const char* coding = st.encoding == T4_COMPRESSION_ITU_T6      ? "MMR"
                         : st.encoding == T4_COMPRESSION_ITU_T4_2D ? "MR"
                                                                   : "MH";
    log("t30 phase D (0x%02x) pages tx %d rx %d, %d bit/s, %dx%d, %s%s", result, st.pages_tx, st.pages_rx, st.bit_rate,
        st.width, st.length, coding, st.error_correcting_mode ? ", ECM" : "");
    return T30_ERR_OK;
}

void Line::phaseE(t30_state_t* t30, void* user, int completion) {
    auto* self = static_cast<Line*>(user);
    t30_stats_t st{};
    t30_get_transfer_statistics(t30, &st);
    const char* id = t30_get_rx_ident(t30);
    const int pages = self->opt_.callMode ? st.pages_tx : st.pages_rx;
    log("t30 phase E: %d %s", completion, t30_completion_code_to_str(completion));
    self->outcome(pages, id ? id : "", completion, t30_completion_code_to_str(completion));
    self->farEndDone_ = true;
}

void Line::outcome(int pages, const char* remote, int code, const char* text) {
    if (resultPrinted_) return;
    resultPrinted_ = true;
    std::printf("call %d: %s pages=%d remote=\"%s\" result=%d (%s)%s%s\n", callNumber_,
                opt_.callMode ? "sent" : "received", pages, remote, code, text,
                (!opt_.callMode && !rxFile_.empty() && pages > 0) ? " file=" : "",
                (!opt_.callMode && pages > 0) ? rxFile_.c_str() : "");
    std::fflush(stdout);
}

void Line::startFarEnd(bool calling) {
    faults_.newCall();
    fax_ = fax_init(nullptr, calling ? 1 : 0);
    fax_set_transmit_on_idle(fax_, 1);
    t30_state_t* t30 = fax_get_t30_state(fax_);
    t30_set_tx_ident(t30, opt_.farId.c_str());
    t30_set_supported_modems(t30, T30_SUPPORT_V27TER | T30_SUPPORT_V29 | T30_SUPPORT_V17);
    t30_set_supported_compressions(t30, T30_SUPPORT_T4_1D_COMPRESSION |
                                            (opt_.twoD ? T30_SUPPORT_T4_2D_COMPRESSION : 0) |
                                            (opt_.t6 && opt_.twoD && opt_.ecm ? T30_SUPPORT_T6_COMPRESSION : 0));
    t30_set_supported_resolutions(t30, opt_.fineOnly ? T30_SUPPORT_FINE_RESOLUTION
                                                     : T30_SUPPORT_STANDARD_RESOLUTION | T30_SUPPORT_FINE_RESOLUTION);
    t30_set_ecm_capability(t30, opt_.ecm ? 1 : 0);
    t30_set_phase_b_handler(t30, phaseB, this);
    t30_set_phase_d_handler(t30, phaseD, this);
    t30_set_phase_e_handler(t30, phaseE, this);
    if (calling) {
        t30_set_tx_file(t30, opt_.sendFile.c_str(), -1, -1);
    } else {
        rxFile_ = receiveName(opt_.receivePattern, callNumber_);
        t30_set_rx_file(t30, rxFile_.c_str(), -1);
    }
    farEndDone_ = false;
    resultPrinted_ = false;
}

void Line::endCall(const char* why) {
    log("call %d ends: %s", callNumber_, why);
    if (fax_) {
        if (!farEndDone_) {
            // Let the far end report what it got so far (phase E with "call dropped").
            t30_terminate(fax_get_t30_state(fax_));
            if (!resultPrinted_) outcome(0, "", T30_ERR_CALLDROPPED, why);
        }
        fax_free(fax_);
        fax_ = nullptr;
    } else if (opt_.pair && state_ == CallState::Connected) {
        std::printf("call %d: pair call ended (%s)\n", callNumber_, why);
        std::fflush(stdout);
    }
    state_ = CallState::Idle;
    blocksInState_ = 0;
    clearLine();
    ++callsFinished_;
    idleSince_ = nowNs();
    if (opt_.calls > 0 && callsFinished_ >= opt_.calls && stopAt_ == 0)
        stopAt_ = nowNs() + kStopGraceNs;  // let the host finish its hang-up first
}

void Line::handleOp(Modem& m, int op, const std::string& num) {
    Modem& other = modems_[1 - m.index];
    switch (op) {
    case AT_MODEM_CONTROL_CALL:
        log("modem %d dials \"%s\"", m.index + 1, num.c_str());
        if (state_ != CallState::Idle) {
            m.pendingEvents.push_back(AT_CALL_EVENT_BUSY);
            return;
        }
        ++callNumber_;
        ++dialAttempts_;
        faults_.newCall();
        caller_ = m.index;
        state_ = CallState::Dialling;
        blocksInState_ = 0;
        ringsSent_ = 0;
        break;
    case AT_MODEM_CONTROL_ANSWER:
        log("modem %d answers", m.index + 1);
        if (state_ != CallState::Ringing) return;  // nothing to answer: the modem times out with NO CARRIER by itself
        if (opt_.pair) {
            m.pendingEvents.push_back(AT_CALL_EVENT_ANSWERED);
            other.pendingEvents.push_back(AT_CALL_EVENT_CONNECTED);
        } else {
            m.pendingEvents.push_back(AT_CALL_EVENT_ANSWERED);
            startFarEnd(true);
        }
        state_ = CallState::Connected;
        blocksInState_ = 0;
        break;
    case AT_MODEM_CONTROL_HANGUP:
    case AT_MODEM_CONTROL_ONHOOK:
        if (state_ == CallState::Idle) return;
        if (opt_.pair &&
            (state_ == CallState::Connected || state_ == CallState::Ringing || state_ == CallState::Dialling))
            other.pendingEvents.push_back(AT_CALL_EVENT_HANGUP);
        if (!opt_.pair && state_ == CallState::Ringing && opt_.callMode)
            return;  // on-hook while our call rings: keep ringing
        endCall("host hung up");
        break;
    default: break;
    }
}

// Call progress: runs once per 20 ms block.
void Line::callControl() {
    ++blocksInState_;
    switch (state_) {
    case CallState::Idle: whenIdle(); break;
    case CallState::Dialling: whenDialling(); break;
    case CallState::Ringing: whenRinging(); break;
    case CallState::Connected: whenConnected(); break;
    case CallState::Finishing:
        if (blocksInState_ >= kHangupGraceBlocks) {
            modems_[0].pendingEvents.push_back(AT_CALL_EVENT_HANGUP);
            endCall("far end hung up");
        }
        break;
    }
}

// A calling far end calls again once the gap since the last call has passed.
void Line::whenIdle() {
    if (!opt_.pair && opt_.callMode && modems_[0].hostPresent &&
        nowNs() - idleSince_ >= static_cast<int64_t>(opt_.callGapSeconds) * 1'000'000'000) {
        ++callNumber_;
        state_ = CallState::Ringing;
        blocksInState_ = kRingIntervalBlocks;  // ring at once
        ringsSent_ = 0;
        log("far end calls (call %d)", callNumber_);
    }
}

// A dialled call finds the line busy, goes unanswered, rings the other modem or is answered.
void Line::whenDialling() {
    Modem& caller = modems_[caller_];
    if (dialAttempts_ <= opt_.busyFirst) {
        if (blocksInState_ == 100) {
            log("line busy (attempt %d)", dialAttempts_);
            std::printf("call %d: busy\n", callNumber_);
            std::fflush(stdout);
            caller.pendingEvents.push_back(AT_CALL_EVENT_BUSY);
            state_ = CallState::Idle;
            idleSince_ = nowNs();
        }
        return;
    }
    if (blocksInState_ >= opt_.dialTimeoutSeconds * 50) {
        caller.pendingEvents.push_back(AT_CALL_EVENT_NO_ANSWER);
        endCall("no answer");
        return;
    }
    if (opt_.neverAnswer) return;
    if (opt_.pair) {
        state_ = CallState::Ringing;
        blocksInState_ = kRingIntervalBlocks;
        ringsSent_ = 0;
    } else if (blocksInState_ >= opt_.answerAfterSeconds * 50) {
        log("far end answers");
        caller.pendingEvents.push_back(AT_CALL_EVENT_CONNECTED);
        startFarEnd(false);
        state_ = CallState::Connected;
        blocksInState_ = 0;
    }
}

// The called side hears a ring every interval until it answers or the rings run out.
void Line::whenRinging() {
    Modem& callee = opt_.pair ? modems_[1 - caller_] : modems_[0];
    if (blocksInState_ < kRingIntervalBlocks) return;
    if (ringsSent_ >= opt_.rings) {
        log("no answer after %d rings", ringsSent_);
        if (opt_.pair)
            modems_[caller_].pendingEvents.push_back(AT_CALL_EVENT_NO_ANSWER);
        else
            std::printf("call %d: not answered after %d rings\n", callNumber_, ringsSent_);
        std::fflush(stdout);
        endCall("not answered");
        return;
    }
    ++ringsSent_;
    blocksInState_ = 0;
    callee.pendingEvents.push_back(AT_CALL_EVENT_ALERTING);
}

// A call in progress ends on a fault's hang-up or the far end's page limit, or winds down.
void Line::whenConnected() {
    Modem& host = modems_[0];
    if (faults_.hangupDue()) {
        host.pendingEvents.push_back(AT_CALL_EVENT_HANGUP);
        if (opt_.pair) modems_[1].pendingEvents.push_back(AT_CALL_EVENT_HANGUP);
        endCall("far end hung up (fault)");
        return;
    }
    if (farHangsUp_) {
        farHangsUp_ = false;
        host.pendingEvents.push_back(AT_CALL_EVENT_HANGUP);
        endCall("far end hung up after its page limit");
        return;
    }
    if (farEndDone_) {
        state_ = CallState::Finishing;
        blocksInState_ = 0;
    }
}

// While a Class 2 modem holds the line still (its host moves page data), only a hang-up the
// line's faults call for can happen: the far end hangs up in the middle of the page data.
void Line::frozenCallControl() {
    if (state_ == CallState::Connected && faults_.hangupDue()) {
        modems_[0].pendingEvents.push_back(AT_CALL_EVENT_HANGUP);
        endCall("far end hung up (fault)");
    }
}

// Passes one block through a line direction's delay: the block goes in, the delayed one comes out.
void Line::delay(std::deque<int16_t>& line, int16_t* block) {
    line.insert(line.end(), block, block + kBlock);
    std::copy_n(line.begin(), kBlock, block);
    line.erase(line.begin(), line.begin() + kBlock);
}

void Line::clearLine() {
    const size_t samples = static_cast<size_t>(opt_.delayMs) * kSampleRate / 1000;
    toFar_.assign(samples, 0);
    toNear_.assign(samples, 0);
}

// One 20 ms block of audio: a is what modem 1 sends, b what the far end (fax machine or
// modem 2) sends; each reaches the other side after the line's delay.
void Line::block() {
    int16_t a[kBlock] = {}, b[kBlock] = {};
    const bool audio = state_ == CallState::Connected || state_ == CallState::Finishing;
    if (modems_[0].c2)
        modems_[0].c2->tx(a, kBlock);
    else
        t31_tx(modems_[0].t31, a, kBlock);
    if (opt_.pair)
        t31_tx(modems_[1].t31, b, kBlock);
    else if (fax_)
        fax_tx(fax_, b, kBlock);
    if (!audio) {
        std::fill(std::begin(a), std::end(a), 0);
        std::fill(std::begin(b), std::end(b), 0);
    }
    faults_.farAudio(b, kBlock, a);
    delay(toFar_, a);
    delay(toNear_, b);
    if (modems_[0].c2)
        modems_[0].c2->rx(b, kBlock);
    else
        t31_rx(modems_[0].t31, b, kBlock);
    if (opt_.pair)
        t31_rx(modems_[1].t31, a, kBlock);
    else if (fax_)
        fax_rx(fax_, a, kBlock);
}

void Line::readHost(Modem& m) {
    if (!m.cts) return;  // the modem's buffer is full: leave the bytes in the tty (flow control)
    uint8_t buf[512];
    size_t want = m.index == 0 ? faults_.hostReadLimit(sizeof buf) : sizeof buf;
    if (m.c2) want = std::min(want, m.c2->room());  // a full page buffer leaves the bytes in the tty
    if (want == 0) return;
    const ssize_t n = read(m.master, buf, want);
    if (n <= 0) return;
    if (m.index == 0) faults_.fromHost(buf, static_cast<size_t>(n));
    m.fromHostLog.feed(buf, static_cast<size_t>(n));
    if (state_ == CallState::Dialling && m.index == caller_) {
        // A real modem abandons a dial when the host sends anything.
        log("modem %d: dial abandoned by the host", m.index + 1);
        m.pendingEvents.push_back(AT_CALL_EVENT_HANGUP);
        if (opt_.pair) modems_[1 - m.index].pendingEvents.push_back(AT_CALL_EVENT_HANGUP);
        static const char kNoCarrier[] = "\r\nNO CARRIER\r\n";
        atTx(nullptr, &m, reinterpret_cast<const uint8_t*>(kNoCarrier), sizeof kNoCarrier - 1);
        endCall("dial abandoned");
        return;
    }
    if (m.c2)
        m.c2->fromHost(buf, static_cast<size_t>(n));
    else
        t31_at_rx(m.t31, reinterpret_cast<const char*>(buf), static_cast<int>(n));
}

void Line::writeHost(Modem& m) {
    while (!m.toHost.empty()) {
        uint8_t buf[1024];
        const size_t len = std::min(m.toHost.size(), m.index == 0 ? faults_.hostWriteLimit(sizeof buf) : sizeof buf);
        if (len == 0) return;
        std::copy_n(m.toHost.begin(), len, buf);
        const ssize_t n = write(m.master, buf, len);
        if (n <= 0) return;
        m.toHost.erase(m.toHost.begin(), m.toHost.begin() + n);
    }
}

void Line::pollOnce(int64_t deadline) {
    pollfd fds[2];
    for (int i = 0; i < modemCount_; ++i) {
        Modem& m = modems_[i];
        const bool readable = m.cts && (i != 0 || faults_.hostReadLimit(1) > 0) && (!m.c2 || m.c2->room() > 0);
        fds[i] = {m.master, static_cast<short>((readable ? POLLIN : 0) | (m.toHost.empty() ? 0 : POLLOUT)), 0};
    }
    const int64_t left = deadline - nowNs();
    const int timeout = left > 0 ? static_cast<int>((left + 999'999) / 1'000'000) : 0;
    // While a host is absent its master reports POLLHUP at once: do not spin on it.
    bool anyPresent = false;
    for (int i = 0; i < modemCount_; ++i) anyPresent |= modems_[i].hostPresent;
    if (!anyPresent) {
        struct timespec ts {
            timeout / 1000, (timeout % 1000) * 1'000'000L
        };
        nanosleep(&ts, nullptr);
        return;
    }
    pollfd live[2];
    int map[2];
    int count = 0;
    for (int i = 0; i < modemCount_; ++i)
        if (modems_[i].hostPresent) {
            live[count] = fds[i];
            map[count++] = i;
        }
    if (poll(live, static_cast<nfds_t>(count), timeout) <= 0) return;
    for (int k = 0; k < count; ++k) {
        Modem& m = modems_[map[k]];
        if (live[k].revents & POLLHUP) continue;  // noticed by the presence check at the next block
        if (live[k].revents & POLLIN) readHost(m);
        if (live[k].revents & POLLOUT) writeHost(m);
    }
}

void Line::run() {
    int64_t next = nowNs() + kBlockNs;
    while (!gStop) {
        pollOnce(next);
        const int64_t now = nowNs();
        if (now < next) continue;
        next += kBlockNs;
        // A Class 2 modem whose host is still busy with the call (taking pages at line speed)
        // keeps the line; the host then has the same grace as after any call.
        if (modems_[0].c2 && modems_[0].c2->busy()) lastBusy_ = now;
        if (stopAt_ != 0 && now >= stopAt_ && (now >= lastBusy_ + kStopGraceNs || now >= stopAt_ + kBusyGraceNs)) break;
        if (now - next > 10 * kBlockNs) next = now + kBlockNs;  // we fell far behind (suspended): resynchronise
        if (!lineBlock()) continue;
        for (int i = 0; i < modemCount_; ++i)
            if (modems_[i].hostPresent) writeHost(modems_[i]);
    }
    if (state_ != CallState::Idle) endCall("line stopped");
}

bool Line::lineBlock() {
    for (int i = 0; i < modemCount_; ++i) noticeHost(i);
    faults_.hook(modems_[0].t31, modems_[0].c2 ? modems_[0].c2->nearEnd() : nullptr, fax_,
                 opt_.pair ? modems_[1].t31 : nullptr);
    if (!(modems_[0].c2 && modems_[0].c2->frozen()))
        callControl();
    else
        frozenCallControl();
    for (int i = 0; i < modemCount_; ++i) deliverPending(modems_[i]);
    // A Class 2 modem holds the line still while its host moves page data.
    if (modems_[0].c2) modems_[0].c2->poll();
    if (modems_[0].c2 && modems_[0].c2->frozen()) return false;
    block();
    return true;
}

void Line::noticeHost(int i) {
    Modem& m = modems_[i];
    pollfd p{m.master, 0, 0};
    poll(&p, 1, 0);
    const bool present = !(p.revents & POLLHUP);
    if (present == m.hostPresent) return;
    log("modem %d: host %s", i + 1, present ? "opened the tty" : "closed the tty");
    m.hostPresent = present;
    if (present) return;
    if (state_ != CallState::Idle) {
        if (opt_.pair) modems_[1 - i].pendingEvents.push_back(AT_CALL_EVENT_HANGUP);
        endCall("host closed the tty");
    }
    m.toHost.clear();
    resetModem(m);
}

void Line::deliverPending(Modem& m) {
    auto ops = std::move(m.pendingOps);
    m.pendingOps.clear();
    for (int op : ops) handleOp(m, op, m.dialled);
    auto events = std::move(m.pendingEvents);
    m.pendingEvents.clear();
    for (int ev : events) {
        if (m.c2)
            m.c2->callEvent(ev);
        else
            t31_call_event(m.t31, ev);
    }
}

void usage(FILE* f) {
    std::fprintf(
        f,
        "Usage: telvane-virtual-line [options]\n"
        "A Class 1, 2 or 2.0 fax modem on a pseudo-terminal, wired to a software fax machine or a second modem.\n\n"
        "  --tty PATH           symbolic link to create for the modem's tty (twice with --pair)\n"
        "  --answer             the far end answers the host's calls and stores TIFF files (default)\n"
        "  --call FILE.tif      the far end calls the host and sends FILE.tif\n"
        "  --pair               two modems that call each other (give --tty twice)\n"
        "  --receive PATTERN    received files, %%d = call number [received-%%03d.tif]\n"
        "  --id TEXT            far end's station ID [TELVANE LINE]\n"
        "  --busy N             the first N dial attempts find the line busy [0]\n"
        "  --never-answer       dialled calls ring and are never answered\n"
        "  --answer-after S     seconds of ringing before the far end answers [2]\n"
        "  --rings N            rings before a calling far end gives up [10]\n"
        "  --call-gap S         seconds between calls of a calling far end [10]\n"
        "  --dial-timeout S     an unanswered dial ends after S seconds [60]\n"
        "  --fine-only          the far end accepts fine resolution only\n"
        "  --no-ecm             the far end offers no error correction (and so no T.6 coding);\n"
        "                       it does by default (--ecm)\n"
        "  --no-2d              the far end offers neither 2-D (MR) nor T.6 (MMR) coding\n"
        "  --no-t6              the far end offers no T.6 (MMR) coding, 2-D (MR) still\n"
        "  --delay-ms MS        one-way delay of the line [40]\n"
        "  --calls N            stop after N calls [0 = run until SIGINT/SIGTERM]\n"
        "  --log FILE           log AT commands, replies and T.30 events\n"
        "  --class 1|2|2.0      the fax command set the modem speaks [1]; with 2 and 2.0 the\n"
        "                       modem runs T.30 itself\n"
        "  --no-xon             Class 2: never send XON after CONNECT\n"
        "  --reject N           Class 2/2.0: the first N pages sent are rejected (page status 2)\n"
        "  --hangup-after-pages N  the far end hangs up after receiving N pages\n"
        "  --eom-after N        Class 2/2.0: report \"+FET:1\" after received page N\n"
        "  --help\n\n"
        "%s\n"
        "Prints the tty path(s), then one line per call:\n"
        "  call N: received|sent pages=P remote=\"ID\" result=CODE (TEXT) [file=PATH]\n",
        vline::faultUsage());
}

// Every option of the line, each setting its part of `o`.
void declareOptions(telvane::cmdline::Parser& p, Options& o) {
    constexpr int kMax = 1'000'000;
    p.help({"--help", "-h"})
        .value("--tty",
               [&o](const std::string& v) {
                   o.ttys.push_back(v);
                   return true;
               })
        .flag("--answer", o.callMode, false)
        .value("--call",
               [&o](const std::string& v) {
                   o.callMode = true;
                   o.sendFile = v;
                   return true;
               })
        .flag("--pair", o.pair)
        .text("--receive", o.receivePattern)
        .text("--id", o.farId)
        .number("--busy", o.busyFirst, 0, kMax)
        .flag("--never-answer", o.neverAnswer)
        .number("--answer-after", o.answerAfterSeconds, 0, kMax)
        .number("--rings", o.rings, 0, kMax)
        .number("--call-gap", o.callGapSeconds, 0, kMax)
        .number("--dial-timeout", o.dialTimeoutSeconds, 0, kMax)
        .number("--delay-ms", o.delayMs, 0, kMax)
        .flag("--fine-only", o.fineOnly)
        .flag("--ecm", o.ecm, true)
        .flag("--no-ecm", o.ecm, false)
        .flag("--no-2d", o.twoD, false)
        .flag("--no-t6", o.t6, false)
        .number("--calls", o.calls, 0, kMax)
        .value(
            "--class",
            [&o](const std::string& v) {
                o.faxClass = v;
                return v == "1" || v == "2" || v == "2.0";
            },
            "1, 2 or 2.0")
        .flag("--no-xon", o.noXon)
        .number("--reject", o.rejectPages, 0, kMax)
        .number("--hangup-after-pages", o.hangupAfterPages, 0, kMax)
        .number("--eom-after", o.eomAfterPage, 0, kMax)
        .text("--log", o.logPath);
    vline::addFaultOptions(p, o.faults);
}

// The options; an exit status when they end the run (help, or a usage error already reported).
std::optional<int> parseArgs(int argc, char** argv, Options& o) {
    telvane::cmdline::Parser p;
    declareOptions(p, o);
    const telvane::cmdline::ParseResult r = p.parse(argc, argv);
    const char* at = r.argument.c_str();
    switch (r.status) {
    case telvane::cmdline::Status::ok: o.delayMs = std::min(o.delayMs, 1000); return std::nullopt;
    case telvane::cmdline::Status::help: usage(stdout); return 0;
    case telvane::cmdline::Status::missingValue:
        std::fprintf(stderr, "telvane-virtual-line: %s needs a value\n", at);
        return 2;
    case telvane::cmdline::Status::badValue:
        if (r.needs == "a number")
            std::fprintf(stderr, "telvane-virtual-line: bad number for %s: %s\n", at, r.value.c_str());
        else if (r.needs == "a value")
            std::fprintf(stderr, "telvane-virtual-line: bad value for %s: %s\n", at, r.value.c_str());
        else
            std::fprintf(stderr, "telvane-virtual-line: %s takes %s\n", at, r.needs.c_str());
        return 2;
    case telvane::cmdline::Status::unknownOption:
    case telvane::cmdline::Status::unexpectedOperand:
        std::fprintf(stderr, "telvane-virtual-line: unknown option %s (see --help)\n", at);
        return 2;
    }
    return 2;
}

// The options that exclude each other or name files; false (reported) when they cannot be used.
bool checkOptions(Options& o) {
    if (o.callMode && access(o.sendFile.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "telvane-virtual-line: cannot read %s\n", o.sendFile.c_str());
        return false;
    }
    if (o.pair && o.faxClass != "1") {
        std::fprintf(stderr, "telvane-virtual-line: --pair works with Class 1 modems only\n");
        return false;
    }
    if (o.pair && o.callMode) {
        std::fprintf(stderr, "telvane-virtual-line: --pair and --call exclude each other\n");
        return false;
    }
    if (o.farId.size() > 20) o.farId.resize(20);
    if (!o.logPath.empty()) {
        gLog = std::fopen(o.logPath.c_str(), "a");
        if (!gLog) {
            std::fprintf(stderr, "telvane-virtual-line: cannot open log %s\n", o.logPath.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (const std::optional<int> status = parseArgs(argc, argv, o)) return *status;
    if (!checkOptions(o)) return 2;
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    int rc = 0;
    {
        Line line(o);
        if (line.setup())
            line.run();
        else
            rc = 1;
    }
    if (gLog) std::fclose(gLog);
    return rc;
}
