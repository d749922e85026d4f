// Converter children under limits (see childprocess.h).
#include "faximage/childprocess.h"

#include "faximage/signalcleanup.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace telvane::faximage {

namespace {

void limit(int resource, std::uint64_t bytes) {
    if (bytes == 0) return;
    const struct rlimit r { rlim_t(bytes), rlim_t(bytes) };
    ::setrlimit(resource, &r);
}

constexpr int kStopPollMs = 50;

// Waits until the child has ended, without reaping it: true when it has; false when `timeoutMs`
// (-1: none) ran out or `*stop` turned true first.
bool endsWithin(pid_t pid, int timeoutMs, const std::atomic<bool>* stop) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    const auto left = [&] {
        if (timeoutMs < 0) return -1;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return int(std::max<long long>(ms, 0));
    };
    const auto stopped = [stop] { return stop && stop->load(); };
    // The longest single wait: until the deadline, cut into slices when a stop flag is watched.
    const auto nextWait = [&] {
        const int l = left();
        if (!stop) return l;
        return l < 0 ? kStopPollMs : std::min(l, kStopPollMs);
    };
    const bool blocking = timeoutMs < 0 && !stop;
    const int pidfd = blocking ? -1 : int(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        bool ended = false;
        for (;;) {
            if (stopped()) break;
            struct pollfd p {
                pidfd, POLLIN, 0
            };
            const int n = ::poll(&p, 1, nextWait());
            if (n < 0 && errno == EINTR) continue;
            if (n != 0) {
                ended = true;
                break;
            }
            if (left() == 0) break;
        }
        ::close(pidfd);
        return ended;
    }
    // Without a limit, or without pidfd (old kernel): look at the child every 50 ms.
    for (;;) {
        siginfo_t info{};
        const int r = ::waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT | (blocking ? 0 : WNOHANG));
        if (r == 0 && info.si_pid == pid) return true;
        if (r < 0 && errno != EINTR) return true;
        if (stopped() || left() == 0) return false;
        if (!blocking) ::usleep(kStopPollMs * 1000);
    }
}

}  // namespace

std::string makeWorkDir(const std::string& name) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string base = tmp && *tmp ? tmp : "/tmp";
    const std::string prefix = name + "-";
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(base, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (entry.compare(0, prefix.size(), prefix) != 0) continue;
        const long pid = std::strtol(entry.c_str() + prefix.size(), nullptr, 10);
        struct stat st {};
        if (pid <= 0 || pid == ::getpid() || ::lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
            st.st_uid != ::geteuid())
            continue;
        if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH) {
            std::error_code removeEc;
            std::filesystem::remove_all(it->path(), removeEc);
        }
    }
    std::string dir = base + "/" + prefix + std::to_string(::getpid()) + "-XXXXXX";
    return ::mkdtemp(dir.data()) ? dir : std::string();
}

std::string siblingProgram(const std::string& name) {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const std::filesystem::path sibling = self.parent_path() / name;
        if (::access(sibling.c_str(), X_OK) == 0) return sibling.string();
    }
    return name;
}

bool ChildResult::exitedWith(int code) const {
    return started && !timedOut && !stopped && WIFEXITED(status) && WEXITSTATUS(status) == code;
}
bool ChildResult::killedBy(int sig) const {
    return started && !timedOut && !stopped && WIFSIGNALED(status) && WTERMSIG(status) == sig;
}

ChildResult runChild(const std::vector<std::string>& argv, const ChildLimits& limits) {
    ChildResult result;
    if (argv.empty()) return result;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (limits.tmpDir.empty() || std::strncmp(*e, "TMPDIR=", 7) != 0) env.emplace_back(*e);
    if (!limits.tmpDir.empty()) env.push_back("TMPDIR=" + limits.tmpDir);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return result;
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(ready[0]);
        ::close(ready[1]);
        return result;
    }
    if (pid == 0) {
        // Only async-signal-safe calls until exec; the pipe closes on exec, or carries errno.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, limits.deathSignal);
        if (::getppid() != parent) ::_exit(127);
        limit(RLIMIT_AS, limits.memoryBytes);
        limit(RLIMIT_FSIZE, limits.fileBytes);
        ::signal(SIGXFSZ, SIG_DFL);
        ::execvpe(args[0], args.data(), envp.data());
        const int err = errno;
        if (::write(ready[1], &err, sizeof err) < 0) ::_exit(127);
        ::_exit(127);
    }
    ::setpgid(pid, pid);  // also here, so the group exists before anything is killed
    const int slot = killGroupOnSignal(pid);
    ::close(ready[1]);
    int err = 0;
    ssize_t got;
    while ((got = ::read(ready[0], &err, sizeof err)) < 0 && errno == EINTR) {}
    ::close(ready[0]);
    result.started = got == 0;
    const bool ended = endsWithin(pid, result.started && limits.seconds > 0 ? limits.seconds * 1000 : -1,
                                  result.started ? limits.stop : nullptr);
    result.stopped = !ended && limits.stop && limits.stop->load();
    result.timedOut = !ended && !result.stopped;
    ::kill(-pid, SIGKILL);  // the child's own children, and the child itself when it overran
    while (::waitpid(pid, &result.status, 0) < 0 && errno == EINTR) {}
    forgetOnSignal(slot);
    return result;
}

}  // namespace telvane::faximage
