// The virtual fax line in real time: AT smoke test through our own port, call progress
// (busy, abandoned dial), and efax sending a two-page fax to the software fax machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "comport.h"
#include "modemwait.h"

using namespace ovx;
namespace fs = std::filesystem;

namespace {

std::string BinDir()
{
    const char* bin = std::getenv("TELVANE_BIN");
    return bin ? bin : TELVANE_BINARY_DIR "/bin";
}

bool HaveTool(const std::string& name)
{
    return std::system(("command -v " + name + " > /dev/null 2>&1").c_str()) == 0;
}

std::string Slurp(const fs::path& p)
{
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

fs::path TempDir(const std::string& name)
{
    const fs::path dir = fs::temp_directory_path() / ("telvane-" + name + "-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// Runs telvane-virtual-line with the given options; stops it on destruction.
class VirtualLine {
public:
    VirtualLine(const fs::path& dir, std::vector<std::string> args) : out_(dir / "line.out")
    {
        tty_ = dir / "modem";
        std::vector<std::string> argv = {BinDir() + "/telvane-virtual-line", "--tty", tty_.string(),
                                         "--log", (dir / "line.log").string()};
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
            for (auto& a : argv)
                cargs.push_back(a.data());
            cargs.push_back(nullptr);
            execv(cargs[0], cargs.data());
            _exit(127);
        }
        for (int i = 0; i < 500 && !(fs::exists(tty_) && (tty2_.empty() || fs::exists(tty2_))); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~VirtualLine() { Stop(); }
    int Stop()
    {
        if (pid_ <= 0)
            return status_;
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
std::string Command(TOvxComPort& port, const std::string& cmd, const std::string& until, int64_t ticks = 36)
{
    WriteString(port, cmd);
    const bool ok = WaitForString(port, until, ticks, false, true);
    return ok ? "found" : "timeout";
}

void OpenPort(TOvxComPort& port, const fs::path& tty)
{
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
bool ReadPbm(const fs::path& p, Pbm& out)
{
    std::ifstream f(p, std::ios::binary);
    std::string magic;
    f >> magic;
    if (magic != "P4")
        return false;
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
        if (!f.read(row.data(), stride))
            return false;
        out.Rows.push_back(row);
    }
    return true;
}

// efax draws its own header line over the top rows of every page it sends.
constexpr int kHeaderRows = 32;

void WritePagePbm(const fs::path& p, int page)
{
    const int w = 1728, h = 160, stride = w / 8;
    std::ofstream f(p, std::ios::binary);
    f << "P4\n" << w << " " << h << "\n";
    for (int y = 0; y < h; ++y) {
        std::string row(stride, '\0');
        // Sparse blocks whose place depends on the page, so the pages differ and stay short.
        if (y >= kHeaderRows && (y / 16) % 2 == 1)
            for (int x = 0; x < stride; ++x)
                if ((x / (6 + page * 3)) % 4 == page % 4)
                    row[static_cast<size_t>(x)] = static_cast<char>(0xFF);
        f.write(row.data(), stride);
    }
}

bool White(const std::string& row) { return row.find_first_not_of('\0') == std::string::npos; }

// Finds the image of `sent` below its header rows inside `got` at some row offset (efax adds
// lines of its own at the top; efix pads the decoded page with white rows at the bottom).
// Everything in `got` below the match must be white. Returns the offset or -1.
int FindRows(const Pbm& sent, const Pbm& got)
{
    if (sent.Width != got.Width)
        return -1;
    int used = sent.Height;
    while (used > 0 && White(sent.Rows[static_cast<size_t>(used - 1)]))
        --used;
    for (int off = 0; off + used <= got.Height && off <= 64; ++off) {
        bool same = true;
        for (int y = kHeaderRows; y < used && same; ++y)
            same = sent.Rows[static_cast<size_t>(y)] == got.Rows[static_cast<size_t>(y + off)];
        for (int y = off + used; y < got.Height && same; ++y)
            same = White(got.Rows[static_cast<size_t>(y)]);
        if (same && used > 0)
            return off;
    }
    return -1;
}

int Shell(const std::string& cmd) { return std::system(cmd.c_str()); }

} // namespace

TEST(VirtualLine, AnswersAtAndListsClass1ThroughOurPort)
{
    const fs::path dir = TempDir("vl-smoke");
    VirtualLine line(dir, {});
    ASSERT_TRUE(fs::exists(line.Tty())) << "the line did not create its tty";
    TOvxComPort port;
    OpenPort(port, line.Tty());
    EXPECT_EQ(Command(port, "AT\r", "OK"), "found");
    WriteString(port, "ATE0\r");
    ASSERT_TRUE(WaitForString(port, "OK", 36, false, true));
    WriteString(port, "AT+FCLASS=?\r");
    ASSERT_TRUE(WaitForString(port, "OK", 36, false, true));
    // WaitForString consumed through OK; the class list came before it. Ask again and peek.
    WriteString(port, "AT+FCLASS=?\r");
    ASSERT_TRUE(WaitForString(port, "0,1,1.0", 36, false, false));
    ASSERT_TRUE(WaitForString(port, "OK", 36, false, true));
    // Garbage does not upset the modem.
    port.PutString(std::string("\x01\xff\x7f garbage +++ \x10\x03\r", 20));
    EXPECT_EQ(Command(port, "AT\r", "OK"), "found");
    // The host closing the tty resets the modem; a new host finds it answering again.
    port.SetOpen(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    port.SetOpen(true);
    EXPECT_EQ(Command(port, "AT\r", "OK"), "found");
    port.SetOpen(false);
    EXPECT_EQ(line.Stop(), 0);
    EXPECT_NE(Slurp(dir / "line.log").find("host> AT+FCLASS=?"), std::string::npos);
    if (!HasFailure())
        fs::remove_all(dir);
}

TEST(VirtualLine, BusyThenAbandonedDial)
{
    const fs::path dir = TempDir("vl-busy");
    VirtualLine line(dir, {"--busy", "1", "--never-answer"});
    ASSERT_TRUE(fs::exists(line.Tty()));
    TOvxComPort port;
    OpenPort(port, line.Tty());
    EXPECT_EQ(Command(port, "ATE0+FCLASS=1\r", "OK"), "found");
    EXPECT_EQ(Command(port, "ATDT5551234\r", "BUSY", 91), "found");
    WriteString(port, "ATDT5551234\r");
    DelayTicks(20, false);
    EXPECT_EQ(Command(port, "\r", "NO CARRIER"), "found");   // any character ends the dial
    EXPECT_EQ(Command(port, "AT\r", "OK"), "found");
    port.SetOpen(false);
    line.Stop();
    EXPECT_NE(line.Output().find("call 1: busy"), std::string::npos);
    if (!HasFailure())
        fs::remove_all(dir);
}

TEST(VirtualLine, ModemPairRingsAnswersAndHangsUp)
{
    const fs::path dir = TempDir("vl-pair");
    VirtualLine line(dir, {"--pair"});
    ASSERT_TRUE(fs::exists(line.Tty2()));
    TOvxComPort a, b;
    OpenPort(a, line.Tty());
    OpenPort(b, line.Tty2());
    EXPECT_EQ(Command(a, "ATE0+FCLASS=1\r", "OK"), "found");
    EXPECT_EQ(Command(b, "ATE0+FCLASS=1\r", "OK"), "found");
    WriteString(a, "ATDT42\r");
    EXPECT_TRUE(WaitForString(b, "RING", 36, false, false));
    WriteString(b, "ATA\r");
    // The answering modem connects after its answer tone; the caller once it hears V.21.
    EXPECT_TRUE(WaitForString(b, "CONNECT", 182, false, false));
    EXPECT_TRUE(WaitForString(a, "CONNECT", 182, false, false));
    // The caller is receiving V.21 frames now: a character ends that, then it can hang up.
    EXPECT_EQ(Command(a, "\r", "OK"), "found");
    EXPECT_EQ(Command(a, "ATH\r", "OK"), "found");
    EXPECT_TRUE(WaitForString(b, "NO CARRIER", 91, false, false));
    a.SetOpen(false);
    b.SetOpen(false);
    line.Stop();
    EXPECT_NE(line.Output().find("call 1: pair call ended"), std::string::npos) << line.Output();
    if (!HasFailure())
        fs::remove_all(dir);
}

TEST(VirtualLine, EfaxSendsTwoPagesToTheSoftwareFaxMachine)
{
    for (const char* tool : {"efax", "efix", "tiffsplit", "tifftopnm"})
        if (!HaveTool(tool))
            GTEST_SKIP() << tool << " is not installed";
    const fs::path dir = TempDir("vl-efax");
    for (int page = 1; page <= 2; ++page) {
        const std::string base = (dir / ("p" + std::to_string(page))).string();
        WritePagePbm(base + ".pbm", page);
        ASSERT_EQ(Shell("efix -i pbm -o fax " + base + ".pbm > " + base + ".g3 2>/dev/null"), 0);
        // What efax will actually send, decoded back.
        ASSERT_EQ(Shell("efix -i fax -o pbm " + base + ".g3 > " + base + "-sent.pbm 2>/dev/null"), 0);
    }
    VirtualLine line(dir, {"--receive", (dir / "rx-%d.tif").string(), "--id", "SOFT FAX", "--answer-after", "1"});
    ASSERT_TRUE(fs::exists(line.Tty()));
    const std::string efax = "cd " + dir.string() + " && timeout 55 efax -d " + line.Tty().string() +
                             " -o1 -l 'EFAX TEST' -t 5551234 p1.g3 p2.g3 > efax.out 2>&1";
    ASSERT_EQ(Shell(efax), 0) << Slurp(dir / "efax.out");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(line.Stop(), 0);
    const std::string out = line.Output();
    EXPECT_NE(out.find("call 1: received pages=2 remote=\"EFAX TEST\" result=0 (OK)"), std::string::npos) << out;
    ASSERT_TRUE(fs::exists(dir / "rx-1.tif"));
    ASSERT_EQ(Shell("cd " + dir.string() + " && tiffsplit rx-1.tif rxpage"), 0);
    std::vector<fs::path> pages;   // tiffsplit's suffixes differ between versions: take them in order
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind("rxpage", 0) == 0)
            pages.push_back(e.path());
    std::sort(pages.begin(), pages.end());
    ASSERT_EQ(pages.size(), 2u);
    Pbm sent[2];
    for (int page = 0; page < 2; ++page) {
        const fs::path got = dir / ("got" + std::to_string(page + 1) + ".pbm");
        ASSERT_EQ(Shell("tifftopnm " + pages[static_cast<size_t>(page)].string() + " > " + got.string() + " 2>/dev/null"), 0);
        Pbm received;
        ASSERT_TRUE(ReadPbm(dir / ("p" + std::to_string(page + 1) + "-sent.pbm"), sent[page]));
        ASSERT_TRUE(ReadPbm(got, received));
        EXPECT_GE(FindRows(sent[page], received), 0) << "page " << page + 1 << " differs from what was sent";
    }
    EXPECT_NE(sent[0].Rows, sent[1].Rows);
    if (!HasFailure())
        fs::remove_all(dir);
}

TEST(VirtualLine, SoftwareFaxMachineCallsAndEfaxReceives)
{
    for (const char* tool : {"efax", "efix"})
        if (!HaveTool(tool))
            GTEST_SKIP() << tool << " is not installed";
    const fs::path dir = TempDir("vl-call");
    WritePagePbm(dir / "page.pbm", 3);
    ASSERT_EQ(Shell("cd " + dir.string() + " && efix -i pbm -o tiffg3 page.pbm > page.tif 2>/dev/null"), 0);
    ASSERT_EQ(Shell("cd " + dir.string() + " && efix -i tiffg3 -o pbm page.tif > sent.pbm 2>/dev/null"), 0);
    VirtualLine line(dir, {"--call", (dir / "page.tif").string(), "--id", "SOFT SENDER", "--call-gap", "1",
                           "--calls", "1"});
    ASSERT_TRUE(fs::exists(line.Tty()));
    const std::string efax = "cd " + dir.string() + " && timeout 55 efax -d " + line.Tty().string() +
                             " -o1 -l 'EFAX RX' -r rx > efax.out 2>&1";
    ASSERT_EQ(Shell(efax), 0) << Slurp(dir / "efax.out");
    line.Stop();
    const std::string out = line.Output();
    EXPECT_NE(out.find("call 1: sent pages=1 remote=\"EFAX RX\" result=0 (OK)"), std::string::npos) << out;
    ASSERT_TRUE(fs::exists(dir / "rx.001"));
    ASSERT_EQ(Shell("cd " + dir.string() + " && efix -i fax -o pbm rx.001 > got.pbm 2>/dev/null"), 0);
    Pbm sent, got;
    ASSERT_TRUE(ReadPbm(dir / "sent.pbm", sent));
    ASSERT_TRUE(ReadPbm(dir / "got.pbm", got));
    EXPECT_GE(FindRows(sent, got), 0) << "the received page differs from the TIFF sent";
    if (!HasFailure())
        fs::remove_all(dir);
}
