// telvane-cups-backend, installed as the CUPS backend "telvane" (device URI "telvane:/"): hands
// each job of the "Telvane" print queue to the Telvane of the user who printed it.
// cupsd runs it as root (mode 0700) with: job-id user title copies options [file]. It opens the
// job's file, then becomes that user (groups, group, user) before it touches anything of theirs,
// and writes the document into the user's private print spool (settings/printspool.h): directory
// 0700, file 0600, under a temporary name that is synced and renamed, so a job is complete or
// absent, never half there, and never in another user's spool. A job it cannot store is held in
// the CUPS queue (not lost); a job of a user this system does not know is cancelled. Run without
// arguments it names its device for lpinfo.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "settings/printspool.h"

namespace {

// Exit codes of backend(7).
constexpr int kBackendOk = 0;
constexpr int kBackendFailed = 1;
constexpr int kBackendHold = 3;
constexpr int kBackendCancel = 5;

int fail(int code, const std::string& message) {
    std::fprintf(stderr, "ERROR: %s\n", message.c_str());
    return code;
}

bool becomeUser(const passwd& pw) {
    if (geteuid() != 0) return getuid() == pw.pw_uid && geteuid() == pw.pw_uid;
    return initgroups(pw.pw_name, pw.pw_gid) == 0 && setgid(pw.pw_gid) == 0 && setuid(pw.pw_uid) == 0 &&
           getuid() == pw.pw_uid && geteuid() == pw.pw_uid;
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Copies `in` into dir/.job-<id>.part, syncs it and renames it to the job's name, which carries the
// job's title so that the user sees which document it is. Empty on success.
std::string storeJob(int in, const std::string& dir, const std::string& jobId, const std::string& title) {
    const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0) return dir + ": " + std::strerror(errno);
    const std::string part = ".job-" + jobId + ".part";
    unlinkat(dirFd, part.c_str(), 0);  // left by a run that was killed
    const int out = openat(dirFd, part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
        const std::string why = std::strerror(errno);
        close(dirFd);
        return dir + "/" + part + ": " + why;
    }
    char buf[65536];
    std::string head;
    bool ok = true;
    for (;;) {
        const ssize_t n = read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        if (head.size() < 4) head.append(buf, static_cast<size_t>(std::min<ssize_t>(n, 4)));
        if (!writeAll(out, buf, static_cast<size_t>(n))) {
            ok = false;
            break;
        }
    }
    const std::string why = std::strerror(errno);
    ok = ok && !head.empty() && fsync(out) == 0;
    ok = close(out) == 0 && ok;
    const std::string name = telvane::settings::printJobFileName(jobId, title, head.compare(0, 2, "%!") == 0);
    ok = ok && renameat(dirFd, part.c_str(), dirFd, name.c_str()) == 0;
    if (!ok) {
        unlinkat(dirFd, part.c_str(), 0);
        close(dirFd);
        return head.empty() ? "the job is empty" : dir + "/" + name + ": " + why;
    }
    fsync(dirFd);
    close(dirFd);
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 1) {
        std::puts("direct telvane:/ \"Telvane Fax\" \"Telvane (a new fax of the printed document)\"");
        return kBackendOk;
    }
    if (argc != 6 && argc != 7) {
        std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
        return kBackendFailed;
    }
    const std::string jobId = argv[1];
    if (jobId.empty() || jobId.find_first_not_of("0123456789") != std::string::npos)
        return fail(kBackendCancel, "bad job id");
    int in = 0;
    if (argc == 7) {
        in = open(argv[6], O_RDONLY | O_CLOEXEC);
        if (in < 0) return fail(kBackendFailed, std::string("cannot read the job: ") + std::strerror(errno));
    }
    const passwd* found = getpwnam(argv[2]);
    if (!found) return fail(kBackendCancel, std::string("no local user \"") + argv[2] + "\" to hand the fax to");
    const passwd pw = *found;
    const std::string user = pw.pw_name, home = pw.pw_dir ? pw.pw_dir : "";
    if (!becomeUser(pw)) return fail(kBackendHold, "cannot act as user " + user);
    umask(077);
    const std::string dir = telvane::settings::printSpoolDir(user, home, std::getenv("TELVANE_PRINT_SPOOL"));
    if (dir.empty()) return fail(kBackendHold, "user " + user + " has no home directory for the fax spool");
    if (const std::string problem = telvane::settings::makePrivateDir(dir, pw.pw_uid); !problem.empty())
        return fail(kBackendHold, "fax spool: " + problem);
    if (const std::string problem = storeJob(in, dir, jobId, argv[3]); !problem.empty())
        return fail(kBackendHold, "fax spool: " + problem);
    std::fprintf(stderr, "INFO: handed to Telvane of %s\n", user.c_str());
    return kBackendOk;
}
