// The line tests' helpers: our tools, the peers and the virtual fax line (telvane-virtual-line) as
// child processes with time limits, short fax files made with telvane-faxconv, and fax files and
// TIFFs decoded into PBM pages to compare (support/pbm.h compares them).
#pragma once

#include <string>
#include <vector>

#include "support/peers.h"
#include "support/tempdir.h"

namespace telvane::test {

struct Child {
    int Pid = -1;
    std::string Out, Err;  // files receiving stdout and stderr
};

// Starts `argv` in `dir` (its own process group, no standard input) with stdout/stderr into files
// in `dir` named after `tag`.
Child start(const std::vector<std::string>& argv, const std::string& dir, const std::string& tag);
// Waits at most `seconds`; kills the child (SIGKILL) when it is still running. Returns the exit
// status (128 + signal when a signal ended it), or -1 when it had to be killed.
int wait(Child& c, int seconds);
void signal(const Child& c, int sig);
std::string slurp(const std::string& path);
// Waits until `path` exists (or `seconds` pass).
bool waitForPath(const std::string& path, int seconds);
// Waits until the file at `path` contains `text`.
bool waitForText(const std::string& path, const std::string& text, int seconds);
inline std::string bin(const std::string& tool) { return toolPath(tool); }

// Starts telvane-virtual-line in `dir` with the options `args` (its output in line.out and line.err).
Child startVirtualLine(const std::string& dir, const std::vector<std::string>& args);

// A running virtual line whose modems are the ttys `dir`/modem (and `dir`/modem2 with "--pair"),
// logging to `dir`/line.log; stopped when the object dies.
class VirtualLine {
public:
    VirtualLine(const std::string& dir, const std::vector<std::string>& args);
    ~VirtualLine() { stop(); }
    VirtualLine(const VirtualLine&) = delete;
    VirtualLine& operator=(const VirtualLine&) = delete;

    // Ends the line (SIGTERM) and returns its exit status as wait() does; later calls return it again.
    int stop();
    const std::string& tty() const { return tty_; }
    const std::string& tty2() const { return tty2_; }
    std::string output() const { return slurp(child_.Out); }

private:
    Child child_;
    std::string tty_, tty2_;
    int status_ = -1;
};

// efax draws its own header line over the top rows of every page it sends.
inline constexpr int kEfaxHeaderRows = 32;
// A short 1728-pel page as a PBM file: sparse blocks whose place depends on `page`, so that pages
// differ, below kEfaxHeaderRows white rows.
void writeTestPagePbm(const std::string& path, int page);

// A one-page fax file of a few text lines, standard or fine (telvane-faxconv to-fax).
// linesPerPage 0: a full-length page.
void makePage(const std::string& ovf, const std::string& text, bool fine, const TempDir& dir, int linesPerPage = 12);
// PBM files (whole) of every page of a fax file / of a TIFF.
std::vector<std::string> faxPages(const std::string& ovf, const TempDir& dir);
std::vector<std::string> tiffPages(const std::string& tif, const TempDir& dir);

}  // namespace telvane::test
