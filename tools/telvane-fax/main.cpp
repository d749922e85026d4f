// telvane-fax: headless fax sender and receiver on the engine's components, for scripted faxing
// and for tests. Progress texts go to standard error; errors end with the engine's code and text
// and exit status 1. SIGINT/SIGTERM cancel the session cleanly (the port is always closed).
// A received fax that fails before any page was confirmed to the sender leaves no file; one that
// fails later keeps its confirmed pages and is reported incomplete (exit status 3).
#include "faximage/ovffile.h"
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <sys/stat.h>

#include "cmdline/arguments.h"
#include "settings/dialnumber.h"
#include "transport/comport.h"
#include "transport/fax/faxsession.h"
#include "errors/errors.h"
#include "documents.h"

using namespace telvane;
using namespace telvane::transport;

namespace {

std::atomic<bool> gInterrupted{false};
void onSignal(int) { gInterrupted = true; }

void usage(std::FILE* f) {
    std::fputs(
        "Usage:\n"
        "  telvane-fax send --device PATH --number N [--class 1|2|2.0|auto] [--bps N]\n"
        "                   [--station-id ID] [--header TEXT] [--cover FILE]\n"
        "                   [--dial-attempts N] [--retry-wait S] [--dial-wait S] FILE...\n"
        "                   FILE: a fax file (.ovf) or a document converted on the fly\n"
        "                   (PDF, PostScript, TIFF, text, RTF, BMP, PCX, DCX)\n"
        "  telvane-fax receive --device PATH --dir DIR [--answer-on-ring N] [--one-fax]\n"
        "                   [--class 1|2|2.0|auto] [--station-id ID] [--bps N]\n"
        "Common options: --ecm / --no-ecm (offer error correction and T.6 coding, or not;\n"
        "  off by default; 2-D coding (MR) is offered and used whenever the far end takes it,\n"
        "  with error correction or without), --trace FILE (port byte\n"
        "  trace), --log FILE (dispatch log), --history FILE (fax history lines), --help\n"
        "Exit status: 0 when the fax was sent (or received with --one-fax), 1 on a fax error,\n"
        "2 on bad usage, 3 when a fax was received incomplete (the pages confirmed to the\n"
        "sender are kept in the file listed on standard output).\n",
        f);
}

struct Options {
    std::string mode, device, number, cls = "1", stationId, header, cover, dir, trace, log, history;
    long bps = 14400;
    int answerOnRing = 1, dialAttempts = 3;
    long retryWait = 60, dialWait = 60;
    bool oneFax = false;
    bool ecm = false;
    std::vector<std::string> files;
};

// The options of both modes; false on bad usage (an unknown option is named on standard error).
bool parseArgs(int argc, char** argv, Options& o) {
    if (argc < 2) return false;
    o.mode = argv[1];
    if (o.mode == "--help" || o.mode == "-h") {
        usage(stdout);
        std::exit(0);
    }
    constexpr long kMax = std::numeric_limits<int>::max();
    cmdline::Parser p;
    p.help({"--help", "-h"})
        .text("--device", o.device)
        .text("--number", o.number)
        .text("--class", o.cls)
        .number("--bps", o.bps, -kMax, kMax)
        .text("--station-id", o.stationId)
        .text("--header", o.header)
        .text("--cover", o.cover)
        .text("--dir", o.dir)
        .text("--trace", o.trace)
        .text("--log", o.log)
        .text("--history", o.history)
        .number("--answer-on-ring", o.answerOnRing, -int(kMax), int(kMax))
        .number("--dial-attempts", o.dialAttempts, -int(kMax), int(kMax))
        .number("--retry-wait", o.retryWait, -kMax, kMax)
        .number("--dial-wait", o.dialWait, -kMax, kMax)
        .flag("--one-fax", o.oneFax)
        .flag("--ecm", o.ecm, true)
        .flag("--no-ecm", o.ecm, false)
        .operands(o.files);
    const cmdline::ParseResult r = p.parse(argc, argv, 2);
    if (r.status == cmdline::Status::help) {
        usage(stdout);
        std::exit(0);
    }
    if (r.status == cmdline::Status::unknownOption)
        std::fprintf(stderr, "telvane-fax: unknown option %s\n", r.argument.c_str());
    if (!r.ok() || o.device.empty()) return false;
    if (o.mode == "send" && !settings::isFaxNumberWellFormed(o.number)) {
        std::fprintf(stderr, "telvane-fax: the fax number \"%s\" holds characters a modem cannot dial\n",
                     o.number.c_str());
        return false;
    }
    if (o.mode == "send") return !o.number.empty() && (!o.files.empty() || !o.cover.empty());
    if (o.mode == "receive") return !o.dir.empty();
    return false;
}

bool parseClass(const std::string& s, TFaxClass& c) {
    if (s == "1")
        c = fcClass1;
    else if (s == "2")
        c = fcClass2;
    else if (s == "2.0")
        c = fcClass2_0;
    else if (s == "auto")
        c = fcDetect;
    else
        return false;
    return true;
}

// Waits for the finish event, passing a cancel on SIGINT/SIGTERM.
class Finisher {
public:
    void done(int code) {
        std::lock_guard lock(mu_);
        code_ = code;
        done_ = true;
        cv_.notify_all();
    }
    int wait(TOvxCustomAbstractFax& fax) {
        std::unique_lock lock(mu_);
        bool cancelled = false;
        while (!done_) {
            cv_.wait_for(lock, std::chrono::milliseconds(100));
            if (gInterrupted && !cancelled) {
                cancelled = true;
                lock.unlock();
                fax.CancelSession();
                lock.lock();
            }
        }
        return code_;
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    bool done_ = false;
    int code_ = 0;
};

// One call's parts: the port, the machine of the mode, the history and what the events report.
struct Session {
    explicit Session(const Options& options) : o(options) {}
    TOvxCustomAbstractFax& fax() { return o.mode == "send" ? static_cast<TOvxCustomAbstractFax&>(sender) : receiver; }

    const Options& o;
    TOvxComPort port;
    TOvxSendFax sender;
    TOvxReceiveFax receiver;
    TOvxFaxLog history;
    Finisher finisher;
    int lastProgress = 0;
    bool partial = false;  // a fax was kept with part of its pages
};

void dumpTraces(TOvxComPort& port, const Options& o) {
    if (!o.trace.empty()) {
        port.setTraceName(o.trace);
        port.setTracing(tlDump);
    }
    if (!o.log.empty()) {
        port.setLogName(o.log);
        port.setLogging(tlDump);
    }
}

// Documents become fax files before the modem is touched, so a bad file never costs a call.
// The fax files live as long as `documents`.
bool convertDocuments(Options& o, DocumentConverter& documents) {
    auto toFaxFile = [&](std::string& file) {
        std::string error;
        file = documents.faxFileFor(file, error);
        if (file.empty()) std::fprintf(stderr, "telvane-fax: %s\n", error.c_str());
        return !file.empty();
    };
    for (std::string& file : o.files)
        if (!toFaxFile(file)) return false;
    return o.cover.empty() || toFaxFile(o.cover);
}

void setUp(Session& s, TFaxClass cls) {
    const Options& o = s.o;
    s.port.setDevicePath(o.device);
    s.port.setComNumber(1);
    s.port.setAutoOpen(false);
    s.port.setPromptForPort(false);
    s.port.setTraceSize(200000);
    s.port.setLogSize(1000000);
    TOvxCustomAbstractFax& fax = s.fax();
    fax.setComPort(&s.port);
    fax.setFaxClass(cls);
    fax.DesiredBPS = o.bps;
    fax.setDesiredECM(o.ecm);
    fax.setStationID(o.stationId);
    fax.ExitOnError = o.mode == "send";
    s.history.FaxHistoryName = o.history;
    fax.FaxLog = &s.history;
}

// A received fax is listed on standard output; one that failed before any confirmed page is removed.
void reportFaxLog(Session& s, TOvxAbstractFax& cp, int code) {
    if (code == lfaxReceiveOk) {
        std::fprintf(stderr, "Received from \"%s\"\n", telvane::faximage::escapeControlBytes(cp.remoteID()).c_str());
        std::printf("%s\n", cp.FaxFile().c_str());
    } else if (code == lfaxReceivePartial) {
        // The call ended after some pages were confirmed to the sender: those are kept.
        s.partial = true;
        std::fprintf(stderr, "Received %d %s from \"%s\", incomplete: the call ended before the fax did\n",
                     cp.pagesConfirmed(), cp.pagesConfirmed() == 1 ? "page" : "pages",
                     telvane::faximage::escapeControlBytes(cp.remoteID()).c_str());
        std::printf("%s\n", cp.FaxFile().c_str());
    } else if (code == lfaxReceiveFail && !cp.FaxFile().empty()) {
        // No page was confirmed: the engine keeps no file of the call.
        std::error_code ec;
        std::filesystem::remove(cp.FaxFile(), ec);
        std::fprintf(stderr, "Removed the incomplete %s\n", cp.FaxFile().c_str());
    }
    std::fflush(stdout);
}

void reportEvents(Session& s) {
    TOvxCustomAbstractFax& fax = s.fax();
    fax.OnFaxStatus = [&s](TOvxAbstractFax& cp, bool, bool) {
        const int p = cp.faxProgress();
        if (p != s.lastProgress && !errors::ovxStatusText(p).empty()) {
            s.lastProgress = p;
            std::fprintf(stderr, "%s\n", errors::ovxStatusText(p).c_str());
        }
    };
    fax.OnFaxLog = [&s](TOvxAbstractFax& cp, int code) { reportFaxLog(s, cp, code); };
    fax.OnFaxError = [](TOvxAbstractFax&, int code) {
        std::fprintf(stderr, "telvane-fax: error %d: %s\n", code, errors::ovxErrorText(code).c_str());
    };
    fax.OnFaxFinish = [&s](TOvxAbstractFax&, int code) { s.finisher.done(code); };
}

bool openPort(Session& s) {
    try {
        if (!s.o.trace.empty()) s.port.setTracing(tlOn);
        if (!s.o.log.empty()) s.port.setLogging(tlOn);
        s.port.setOpen(true);
    } catch (const errors::EOvxException& e) {
        std::fprintf(stderr, "telvane-fax: error %d: %s (%s)\n", e.ErrorCode(),
                     errors::ovxErrorText(e.ErrorCode()).c_str(), e.what());
        return false;
    }
    return true;
}

void startSend(Session& s) {
    const Options& o = s.o;
    s.sender.FaxFileList = o.files;
    s.sender.PhoneNumber = settings::dialableNumber(o.number);  // dialled as the send dialog dials it
    s.sender.CoverFile = o.cover;
    s.sender.HeaderLine = o.header;
    s.sender.DialAttempts = o.dialAttempts;
    s.sender.setDialRetryWait(o.retryWait);
    s.sender.setDialWait(o.dialWait);
    s.sender.StartSend();
}

void startReceive(Session& s) {
    s.receiver.setDestinationDir(s.o.dir);
    s.receiver.AnswerOnRing = s.o.answerOnRing;
    s.receiver.OneFax = s.o.oneFax;
    s.receiver.ConstantStatus = true;
    s.receiver.StartReceive();
}

// Runs the mode's session on the open port to its end; the engine's finish code.
int runSession(Session& s) {
    try {
        if (s.o.mode == "send")
            startSend(s);
        else
            startReceive(s);
        const int code = s.finisher.wait(s.fax());
        static const char* const kClassNames[] = {"unknown", "not detected", "Class 1", "Class 2", "Class 2.0"};
        std::fprintf(stderr, "Fax class used: %s\n", kClassNames[s.fax().sessionClass()]);
        if (s.fax().connectBPS() > 0) std::fprintf(stderr, "Coding used: %s\n", s.fax().codingText().c_str());
        return code;
    } catch (const errors::EOvxException& e) {
        // The exception's own text names what was wrong (such as the missing directory).
        const std::string what = e.what();
        std::fprintf(stderr, "telvane-fax: error %d: %s\n", e.ErrorCode(),
                     what.empty() ? errors::ovxErrorText(e.ErrorCode()).c_str() : what.c_str());
        return e.ErrorCode();
    }
}

}  // namespace

int main(int argc, char** argv) {
    ::umask(077);  // received faxes, the history file and traces are private
    Options o;
    if (!parseArgs(argc, argv, o)) {
        usage(stderr);
        return 2;
    }
    TFaxClass cls = fcClass1;
    if (!parseClass(o.cls, cls)) {
        std::fprintf(stderr, "telvane-fax: --class takes 1, 2, 2.0 or auto\n");
        return 2;
    }
    DocumentConverter documents;
    if (!convertDocuments(o, documents)) return 1;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    Session s(o);
    setUp(s, cls);
    reportEvents(s);
    if (!openPort(s)) return 1;
    const int code = runSession(s);
    dumpTraces(s.port, o);
    try {
        s.port.setOpen(false);
    } catch (const errors::EOvxException&) {}
    if (o.mode == "receive" && code == errors::ecCancelRequested && gInterrupted) return s.partial ? 3 : 0;
    if (s.partial) return 3;
    return code == 0 ? 0 : 1;
}
