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
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <sys/stat.h>

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
        "Common options: --trace FILE (port byte trace), --log FILE (dispatch log),\n"
        "  --history FILE (fax history lines), --help\n"
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
    std::vector<std::string> files;
};

bool parseArgs(int argc, char** argv, Options& o) {
    if (argc < 2) return false;
    o.mode = argv[1];
    if (o.mode == "--help" || o.mode == "-h") {
        usage(stdout);
        std::exit(0);
    }
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        auto number = [&](long& out) {
            std::string v;
            if (!value(v)) return false;
            char* end = nullptr;
            out = std::strtol(v.c_str(), &end, 10);
            return end && *end == '\0' && !v.empty();
        };
        long n = 0;
        if (a == "--help" || a == "-h") {
            usage(stdout);
            std::exit(0);
        } else if (a == "--device") {
            if (!value(o.device)) return false;
        } else if (a == "--number") {
            if (!value(o.number)) return false;
        } else if (a == "--class") {
            if (!value(o.cls)) return false;
        } else if (a == "--bps") {
            if (!number(o.bps)) return false;
        } else if (a == "--station-id") {
            if (!value(o.stationId)) return false;
        } else if (a == "--header") {
            if (!value(o.header)) return false;
        } else if (a == "--cover") {
            if (!value(o.cover)) return false;
        } else if (a == "--dir") {
            if (!value(o.dir)) return false;
        } else if (a == "--trace") {
            if (!value(o.trace)) return false;
        } else if (a == "--log") {
            if (!value(o.log)) return false;
        } else if (a == "--history") {
            if (!value(o.history)) return false;
        } else if (a == "--answer-on-ring") {
            if (!number(n)) return false;
            o.answerOnRing = static_cast<int>(n);
        } else if (a == "--dial-attempts") {
            if (!number(n)) return false;
            o.dialAttempts = static_cast<int>(n);
        } else if (a == "--retry-wait") {
            if (!number(o.retryWait)) return false;
        } else if (a == "--dial-wait") {
            if (!number(o.dialWait)) return false;
        } else if (a == "--one-fax") {
            o.oneFax = true;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "telvane-fax: unknown option %s\n", a.c_str());
            return false;
        } else {
            o.files.push_back(a);
        }
    }
    if (o.device.empty()) return false;
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
    // Documents become fax files before the modem is touched, so a bad file never costs a call.
    DocumentConverter documents;
    auto toFaxFile = [&](std::string& file) {
        std::string error;
        file = documents.faxFileFor(file, error);
        if (file.empty()) std::fprintf(stderr, "telvane-fax: %s\n", error.c_str());
        return !file.empty();
    };
    for (std::string& file : o.files)
        if (!toFaxFile(file)) return 1;
    if (!o.cover.empty() && !toFaxFile(o.cover)) return 1;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    TOvxComPort port;
    port.setDevicePath(o.device);
    port.setComNumber(1);
    port.setAutoOpen(false);
    port.setPromptForPort(false);
    port.setTraceSize(200000);
    port.setLogSize(1000000);

    TOvxSendFax sender;
    TOvxReceiveFax receiver;
    TOvxCustomAbstractFax& fax = o.mode == "send" ? static_cast<TOvxCustomAbstractFax&>(sender) : receiver;
    fax.setComPort(&port);
    fax.setFaxClass(cls);
    fax.DesiredBPS = o.bps;
    fax.setStationID(o.stationId);
    fax.ExitOnError = o.mode == "send";
    TOvxFaxLog history;
    history.FaxHistoryName = o.history;
    fax.FaxLog = &history;

    Finisher finisher;
    int lastProgress = 0;
    bool partial = false;  // a fax was kept with part of its pages
    fax.OnFaxStatus = [&](TOvxAbstractFax& cp, bool, bool) {
        const int p = cp.faxProgress();
        if (p != lastProgress && !ovxStatusText(p).empty()) {
            lastProgress = p;
            std::fprintf(stderr, "%s\n", ovxStatusText(p).c_str());
        }
    };
    fax.OnFaxLog = [&](TOvxAbstractFax& cp, int code) {
        if (code == lfaxReceiveOk) {
            std::fprintf(stderr, "Received from \"%s\"\n",
                         telvane::faximage::escapeControlBytes(cp.remoteID()).c_str());
            std::printf("%s\n", cp.FaxFile().c_str());
        } else if (code == lfaxReceivePartial) {
            // The call ended after some pages were confirmed to the sender: those are kept.
            partial = true;
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
    };
    fax.OnFaxError = [&](TOvxAbstractFax&, int code) {
        std::fprintf(stderr, "telvane-fax: error %d: %s\n", code, ovxErrorText(code).c_str());
    };
    fax.OnFaxFinish = [&](TOvxAbstractFax&, int code) { finisher.done(code); };

    try {
        if (!o.trace.empty()) port.setTracing(tlOn);
        if (!o.log.empty()) port.setLogging(tlOn);
        port.setOpen(true);
    } catch (const EOvxException& e) {
        std::fprintf(stderr, "telvane-fax: error %d: %s (%s)\n", e.ErrorCode(), ovxErrorText(e.ErrorCode()).c_str(),
                     e.what());
        return 1;
    }

    int code = 0;
    try {
        if (o.mode == "send") {
            sender.FaxFileList = o.files;
            sender.PhoneNumber = o.number;
            sender.CoverFile = o.cover;
            sender.HeaderLine = o.header;
            sender.DialAttempts = o.dialAttempts;
            sender.setDialRetryWait(o.retryWait);
            sender.setDialWait(o.dialWait);
            sender.StartSend();
        } else {
            receiver.setDestinationDir(o.dir);
            receiver.AnswerOnRing = o.answerOnRing;
            receiver.OneFax = o.oneFax;
            receiver.ConstantStatus = true;
            receiver.StartReceive();
        }
        code = finisher.wait(fax);
        static const char* const kClassNames[] = {"unknown", "not detected", "Class 1", "Class 2", "Class 2.0"};
        std::fprintf(stderr, "Fax class used: %s\n", kClassNames[fax.sessionClass()]);
    } catch (const EOvxException& e) {
        // The exception's own text names what was wrong (such as the missing directory).
        const std::string what = e.what();
        std::fprintf(stderr, "telvane-fax: error %d: %s\n", e.ErrorCode(),
                     what.empty() ? ovxErrorText(e.ErrorCode()).c_str() : what.c_str());
        code = e.ErrorCode();
    }
    dumpTraces(port, o);
    try {
        port.setOpen(false);
    } catch (const EOvxException&) {}
    if (o.mode == "receive" && code == ecCancelRequested && gInterrupted) return partial ? 3 : 0;
    if (partial) return 3;
    return code == 0 ? 0 : 1;
}
