// Helpers of the virtual-line tests: running the line, talking to its modems, comparing pages.
#pragma once

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "transport/comport.h"
#include "transport/modemwait.h"

namespace telvane::transport::linetest {

namespace fs = std::filesystem;

inline std::string BinDir() {
    const char* bin = std::getenv("TELVANE_BIN");
    return bin ? bin : TELVANE_BINARY_DIR "/bin";
}

inline bool HaveTool(const std::string& name) {
    return std::system(("command -v " + name + " > /dev/null 2>&1").c_str()) == 0;
}

inline std::string Slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

inline fs::path TempDir(const std::string& name) {
    const fs::path dir = fs::temp_directory_path() / ("telvane-" + name + "-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// Runs telvane-virtual-line with the given options; stops it on destruction.
class VirtualLine {
public:
    VirtualLine(const fs::path& dir, std::vector<std::string> args) : out_(dir / "line.out") {
        tty_ = dir / "modem";
        std::vector<std::string> argv = {BinDir() + "/telvane-virtual-line", "--tty", tty_.string(), "--log",
                                         (dir / "line.log").string()};
        if (std::find(args.begin(), args.end(), "--pair") != args.end()) {
            tty2_ = dir / "modem2";
            argv.push_back("--tty");
            argv.push_back(tty2_.string());
        }
        argv.insert(argv.end(), args.begin(), args.end());
        pid_ = fork();
        if (pid_ == 0) {
            FILE* f = std::freopen(out_.c_str(), "w", stdout);
            (void)f;
            std::vector<char*> cargs;
            for (auto& a : argv) cargs.push_back(a.data());
            cargs.push_back(nullptr);
            execv(cargs[0], cargs.data());
            _exit(127);
        }
        for (int i = 0; i < 500 && !(fs::exists(tty_) && (tty2_.empty() || fs::exists(tty2_))); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~VirtualLine() { Stop(); }
    int Stop() {
        if (pid_ <= 0) return status_;
        kill(pid_, SIGTERM);
        waitpid(pid_, &status_, 0);
        pid_ = -1;
        return status_;
    }
    const fs::path& Tty() const { return tty_; }
    const fs::path& Tty2() const { return tty2_; }
    std::string Output() const { return Slurp(out_); }

private:
    fs::path tty_, tty2_, out_;
    pid_t pid_ = -1;
    int status_ = -1;
};

// Sends a command and collects everything up to the final OK/ERROR/BUSY... result.
inline std::string Command(TOvxComPort& port, const std::string& cmd, const std::string& until, int64_t ticks = 36) {
    WriteString(port, cmd);
    const bool ok = WaitForString(port, until, ticks, false, true);
    return ok ? "found" : "timeout";
}

inline void OpenPort(TOvxComPort& port, const fs::path& tty) {
    port.SetDevicePath(tty.string());
    port.SetAutoOpen(false);
    port.SetInSize(8192);
    port.SetOutSize(8192);
    port.SetHWFlowOptions(hwfUseRTS | hwfRequireCTS);
    port.SetOpen(true);
}

struct Pbm {
    int Width = 0, Height = 0;
    std::vector<std::string> Rows;
};

// Reads a raw (P4) PBM file.
inline bool ReadPbm(const fs::path& p, Pbm& out) {
    std::ifstream f(p, std::ios::binary);
    std::string magic;
    f >> magic;
    if (magic != "P4") return false;
    auto skip = [&] {
        while (f.peek() == '#' || std::isspace(f.peek())) {
            if (f.peek() == '#')
                f.ignore(1 << 20, '\n');
            else
                f.get();
        }
    };
    skip();
    f >> out.Width;
    skip();
    f >> out.Height;
    f.get();
    const int stride = (out.Width + 7) / 8;
    for (int y = 0; y < out.Height; ++y) {
        std::string row(static_cast<size_t>(stride), '\0');
        if (!f.read(row.data(), stride)) return false;
        out.Rows.push_back(row);
    }
    return true;
}

// efax draws its own header line over the top rows of every page it sends.
inline constexpr int kHeaderRows = 32;

inline void WritePagePbm(const fs::path& p, int page) {
    const int w = 1728, h = 160, stride = w / 8;
    std::ofstream f(p, std::ios::binary);
    f << "P4\n" << w << " " << h << "\n";
    for (int y = 0; y < h; ++y) {
        std::string row(stride, '\0');
        // Sparse blocks whose place depends on the page, so the pages differ and stay short.
        if (y >= kHeaderRows && (y / 16) % 2 == 1)
            for (int x = 0; x < stride; ++x)
                if ((x / (6 + page * 3)) % 4 == page % 4) row[static_cast<size_t>(x)] = static_cast<char>(0xFF);
        f.write(row.data(), stride);
    }
}

inline bool White(const std::string& row) { return row.find_first_not_of('\0') == std::string::npos; }

// Finds the image of `sent` below its header rows inside `got` at some row offset (efax adds
// lines of its own at the top; efix pads the decoded page with white rows at the bottom).
// Everything in `got` below the match must be white. Returns the offset or -1.
inline int FindRows(const Pbm& sent, const Pbm& got) {
    if (sent.Width != got.Width) return -1;
    int used = sent.Height;
    while (used > 0 && White(sent.Rows[static_cast<size_t>(used - 1)])) --used;
    for (int off = 0; off + used <= got.Height && off <= 64; ++off) {
        bool same = true;
        for (int y = kHeaderRows; y < used && same; ++y)
            same = sent.Rows[static_cast<size_t>(y)] == got.Rows[static_cast<size_t>(y + off)];
        for (int y = off + used; y < got.Height && same; ++y) same = White(got.Rows[static_cast<size_t>(y)]);
        if (same && used > 0) return off;
    }
    return -1;
}

inline int Shell(const std::string& cmd) { return std::system(cmd.c_str()); }

}  // namespace telvane::transport::linetest
