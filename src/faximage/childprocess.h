// A converter run as a child process under limits: in a process group of its own that is killed
// whole when the child overruns its time or a terminating signal ends this program (see
// signalcleanup.h), dying with its parent (PR_SET_PDEATHSIG), with an address-space limit
// (RLIMIT_AS) and a file-size limit (RLIMIT_FSIZE, a larger file ends it with SIGXFSZ). A caller
// on another thread may end it early through a stop flag (the group is killed within 50 ms).
#pragma once

#include <atomic>
#include <cstdint>
#include <csignal>
#include <string>
#include <vector>

namespace telvane::faximage {

struct ChildLimits {
    int seconds = 0;                          // wall-clock time; 0 = none
    std::uint64_t memoryBytes = 0;            // address space; 0 = none
    std::uint64_t fileBytes = 0;              // size of any file it writes; 0 = none
    int deathSignal = SIGKILL;                // what the child gets when this process ends
    std::string tmpDir;                       // the child's TMPDIR; empty = this process's
    const std::atomic<bool>* stop = nullptr;  // when it turns true the child is killed; may be null
};

struct ChildResult {
    bool started = false;  // false: the program could not be run
    bool timedOut = false;
    bool stopped = false;  // killed because the stop flag turned true
    int status = 0;        // as from waitpid
    bool exitedWith(int code) const;
    bool killedBy(int sig) const;
};

// Makes a private directory "$TMPDIR/NAME-PID-XXXXXX" (or under /tmp) for a conversion's work,
// first removing this user's directories of the same NAME whose process is gone (a run killed
// outright). Empty when it cannot be made.
std::string makeWorkDir(const std::string& name);

// The program `name` beside the running executable when it is there and executable, else `name`
// alone for a PATH search (an installed tree and the build tree keep their programs together).
std::string siblingProgram(const std::string& name);

// Runs argv[0] (searched on PATH) with argv and waits for it within the limits.
ChildResult runChild(const std::vector<std::string>& argv, const ChildLimits& limits);

}  // namespace telvane::faximage
