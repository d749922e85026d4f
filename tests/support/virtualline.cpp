// Child processes, the virtual fax line and fax pages for the line tests (see virtualline.h).
#include "support/virtualline.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/pbm.h"

namespace telvane::test {

Child start(const std::vector<std::string>& argv, const std::string& dir, const std::string& tag) {
    Child c;
    c.Out = dir + "/" + tag + ".out";
    c.Err = dir + "/" + tag + ".err";
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        const int out = open(c.Out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(c.Err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (chdir(dir.c_str()) != 0) _exit(126);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    c.Pid = pid;
    return c;
}

int wait(Child& c, int seconds) {
    if (c.Pid <= 0) return -1;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
        if (waitpid(c.Pid, &status, WNOHANG) == c.Pid) {
            c.Pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(c.Pid, SIGKILL);
    waitpid(c.Pid, &status, 0);
    c.Pid = -1;
    return -1;
}

void signal(const Child& c, int sig) {
    if (c.Pid > 0) kill(c.Pid, sig);
}

std::string slurp(const std::string& path) { return readFile(path); }

bool waitForPath(const std::string& path, int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        if (std::filesystem::exists(path)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool waitForText(const std::string& path, const std::string& text, int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        if (slurp(path).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

Child startVirtualLine(const std::string& dir, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {toolPath("telvane-virtual-line")};
    argv.insert(argv.end(), args.begin(), args.end());
    return start(argv, dir, "line");
}

VirtualLine::VirtualLine(const std::string& dir, const std::vector<std::string>& args) : tty_(dir + "/modem") {
    std::vector<std::string> argv = {"--tty", tty_, "--log", dir + "/line.log"};
    for (const auto& a : args)
        if (a == "--pair") tty2_ = dir + "/modem2";
    if (!tty2_.empty()) argv.insert(argv.end(), {"--tty", tty2_});
    argv.insert(argv.end(), args.begin(), args.end());
    child_ = startVirtualLine(dir, argv);
    if (waitForPath(tty_, 5) && !tty2_.empty()) waitForPath(tty2_, 5);
}

int VirtualLine::stop() {
    if (child_.Pid <= 0) return status_;
    signal(child_, SIGTERM);
    status_ = wait(child_, 30);
    return status_;
}

void writeTestPagePbm(const std::string& path, int page) {
    const int w = 1728, h = 160, stride = w / 8;
    std::string bits;
    for (int y = 0; y < h; ++y) {
        std::string row(stride, '\0');
        if (y >= kEfaxHeaderRows && (y / 16) % 2 == 1)
            for (int x = 0; x < stride; ++x)
                if ((x / (6 + page * 3)) % 4 == page % 4) row[static_cast<size_t>(x)] = static_cast<char>(0xFF);
        bits += row;
    }
    writePbm(path, w, h, bits.data());
}

namespace {
int run(const std::vector<std::string>& argv, const TempDir& dir) {
    static int n = 0;
    Child c = start(argv, dir.pathNoSlash(), "conv" + std::to_string(n++));
    return wait(c, 60);
}
}  // namespace

void makePage(const std::string& ovf, const std::string& text, bool fine, const TempDir& dir, int linesPerPage) {
    const std::string txt = ovf + ".txt";
    std::ofstream(txt) << text;
    std::vector<std::string> argv = {toolPath("telvane-faxconv"), "to-fax", txt, ovf};
    if (linesPerPage > 0) {
        argv.push_back("--lines-per-page");
        argv.push_back(std::to_string(linesPerPage));
    }
    if (fine) argv.push_back("--fine");
    run(argv, dir);
}

std::vector<std::string> faxPages(const std::string& ovf, const TempDir& dir) {
    std::vector<std::string> pages;
    for (int p = 1; p < 50; ++p) {
        const std::string pbm = ovf + "." + std::to_string(p) + ".pbm";
        if (run({toolPath("telvane-faxconv"), "from-fax", ovf, pbm, "--page", std::to_string(p)}, dir) != 0) break;
        pages.push_back(slurp(pbm));
    }
    return pages;
}

std::vector<std::string> tiffPages(const std::string& tif, const TempDir& dir) {
    std::vector<std::string> pages;
    const std::string prefix = tif + ".split.";
    run({"tiffsplit", tif, prefix}, dir);
    for (char a = 'a'; a <= 'z'; ++a) {
        const std::string part = prefix + "aa" + a + ".tif";
        if (!std::filesystem::exists(part)) break;
        const std::string pbm = part + ".pbm";
        run({"sh", "-c", "tifftopnm '" + part + "' > '" + pbm + "' 2>/dev/null"}, dir);
        pages.push_back(slurp(pbm));
    }
    return pages;
}

}  // namespace telvane::test
