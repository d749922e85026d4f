// Cleanup on terminating signals (see signalcleanup.h).
#include "faximage/signalcleanup.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <ctime>
#include <unistd.h>

namespace telvane::faximage {

namespace {

enum Kind : int { kFree = 0, kTaken = -1, kFile = 1, kDirectory = 2, kGroup = 3 };

struct Slot {
    std::atomic<int> kind{kFree};
    pid_t group = 0;
    char path[PATH_MAX] = {};
};
std::array<Slot, 16> g_slots;

struct FailMessage {
    std::atomic<int> sig{0};
    char text[1024] = {};
};
std::array<FailMessage, 4> g_messages;

constexpr std::array<int, 3> kTerminating{SIGINT, SIGTERM, SIGHUP};

int takeSlot() {
    for (std::size_t i = 0; i < g_slots.size(); ++i) {
        int expected = kFree;
        if (g_slots[i].kind.compare_exchange_strong(expected, kTaken)) return int(i);
    }
    return -1;
}

// Empties a directory, with the directories in it to a depth of three, and removes it.
bool removeDirectoryAt(int parent, const char* name, int depth) {
    alignas(8) static char bufs[4][8192];
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        char* buf = bufs[depth];
        bool removed = true;
        while (removed) {  // removing while reading may skip entries: read again until none is left
            removed = false;
            ::lseek(fd, 0, SEEK_SET);
            ssize_t n;
            while ((n = ::getdents64(fd, buf, sizeof bufs[0])) > 0)
                for (ssize_t off = 0; off < n;) {
                    const auto* d = reinterpret_cast<const struct dirent64*>(buf + off);
                    off += d->d_reclen;
                    const char* entry = d->d_name;
                    if (entry[0] == '.' && (entry[1] == 0 || (entry[1] == '.' && entry[2] == 0))) continue;
                    if (d->d_type == DT_DIR && depth < 3) {
                        removed |= removeDirectoryAt(fd, entry, depth + 1);
                    } else {
                        removed |= ::unlinkat(fd, entry, 0) == 0;
                    }
                }
        }
        ::close(fd);
    }
    return ::unlinkat(parent, name, AT_REMOVEDIR) == 0;
}

// A child group is asked to end first (SIGTERM, so that a converter removes its own files and
// stops its own children before this process removes the directories they work in); whatever is
// left after two seconds is killed.
void endGroups() {
    for (Slot& s : g_slots)
        if (s.kind.load() == kGroup) ::kill(-s.group, SIGTERM);
    for (int tick = 0; tick < 200; ++tick) {
        bool waiting = false;
        for (Slot& s : g_slots)
            if (s.kind.load() == kGroup) waiting |= ::waitpid(s.group, nullptr, WNOHANG) == 0;
        if (!waiting) break;
        const struct timespec pause { 0, 10 * 1000 * 1000 };
        ::nanosleep(&pause, nullptr);
    }
    for (Slot& s : g_slots)
        if (s.kind.load() == kGroup) ::kill(-s.group, SIGKILL);
}

void cleanUp() {
    endGroups();
    for (Slot& s : g_slots)
        if (s.kind.load() == kFile) ::unlink(s.path);
    for (Slot& s : g_slots)
        if (s.kind.load() == kDirectory) removeDirectoryAt(AT_FDCWD, s.path, 0);
}

void cleanUpAndDie(int sig) {
    cleanUp();
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

void cleanUpAndFail(int sig) {
    cleanUp();
    for (const FailMessage& m : g_messages)
        if (m.sig.load() == sig) {
            const std::size_t len = std::strlen(m.text);
            if (::write(STDERR_FILENO, m.text, len) < 0) break;
        }
    ::_exit(1);
}

void install(int sig, void (*handler)(int), bool onlyOverDefault) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) != 0) return;
    if (onlyOverDefault && old.sa_handler != SIG_DFL) return;
    struct sigaction act {};
    act.sa_handler = handler;
    sigemptyset(&act.sa_mask);
    for (int other : kTerminating) sigaddset(&act.sa_mask, other);
    ::sigaction(sig, &act, nullptr);
}

}  // namespace

int removeOnSignal(const std::string& path, bool directory) {
    if (path.empty() || path.size() >= PATH_MAX) return -1;
    const int i = takeSlot();
    if (i < 0) return -1;
    std::memcpy(g_slots[std::size_t(i)].path, path.c_str(), path.size() + 1);
    g_slots[std::size_t(i)].kind.store(directory ? kDirectory : kFile);
    return i;
}

int killGroupOnSignal(pid_t group) {
    if (group <= 1) return -1;
    const int i = takeSlot();
    if (i < 0) return -1;
    g_slots[std::size_t(i)].group = group;
    g_slots[std::size_t(i)].kind.store(kGroup);
    return i;
}

void forgetOnSignal(int slot) {
    if (slot >= 0 && std::size_t(slot) < g_slots.size()) g_slots[std::size_t(slot)].kind.store(kFree);
}

void cleanUpOnSignals() {
    static std::atomic<bool> installed{false};
    if (installed.exchange(true)) return;
    for (int sig : kTerminating) install(sig, cleanUpAndDie, true);
}

void failOnSignal(int sig, const std::string& message) {
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, sig);
    ::sigprocmask(SIG_BLOCK, &block, &old);
    FailMessage* slot = nullptr;
    for (FailMessage& m : g_messages)
        if (m.sig.load() == sig) slot = &m;
    for (FailMessage& m : g_messages)
        if (!slot && m.sig.load() == 0) slot = &m;
    if (slot) {
        const std::size_t len = std::min(message.size(), sizeof slot->text - 2);
        std::memcpy(slot->text, message.data(), len);
        slot->text[len] = '\n';
        slot->text[len + 1] = 0;
        slot->sig.store(sig);
        install(sig, cleanUpAndFail, false);
    }
    ::sigprocmask(SIG_SETMASK, &old, nullptr);
}

}  // namespace telvane::faximage
