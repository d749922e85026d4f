// Resolution of the data directory.
#include "settings/programdir.h"

#include "settings/installpaths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace telvane::settings {
namespace {

std::string g_programDir;

std::string withSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

const char* nonEmptyEnv(const char* name) {
    const char* v = std::getenv(name);
    return (v && *v) ? v : nullptr;
}

// The home directory of the account, for a run without $HOME.
std::string accountHome() {
    struct passwd pw {};
    struct passwd* found = nullptr;
    char buf[4096];
    if (::getpwuid_r(::geteuid(), &pw, buf, sizeof buf, &found) != 0 || !found || !found->pw_dir) return {};
    std::string dir = found->pw_dir;
    return dir == "/" ? std::string() : dir;
}

std::string octalMode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

std::string withoutSlash(std::string dir) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

// Makes `dir` the private data directory: created 0700 when missing; otherwise it must be a
// directory reached without a link at its last component and owned by this user, and it is
// tightened to 0700 when others may use it. A directory of another user is refused: its owner
// could read the faxes or plant links, so it cannot be made safe from here. Returns false with
// the reason in `report`; on success `report` tells of a tightening, if any.
bool makePrivateDir(const std::string& dirPath, std::string& report) {
    const std::string dir = withoutSlash(dirPath);
    const std::string advice = " Set TELVANE_HOME to a private directory of your own.";
    std::error_code ec;
    const std::filesystem::path parent = std::filesystem::path(dir).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        report = "cannot create the data directory " + dir + ": " + std::strerror(errno) + "." + advice;
        return false;
    }
    // Opened without following a link, so the checks and the tightening apply to what is used.
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        const int err = errno;
        if (fd >= 0) ::close(fd);
        struct stat lst {};
        const bool link = ::lstat(dir.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode);
        report = "the data directory " + dir +
                 (link ? " is a symbolic link."
                       : (err == ENOTDIR ? std::string(" is not a directory.")
                                         : ": " + std::string(std::strerror(err)) + ".")) +
                 advice;
        return false;
    }
    const mode_t mode = st.st_mode & 07777;
    if (st.st_uid != ::geteuid()) {
        ::close(fd);
        report = "the data directory " + dir + " belongs to another user (uid " + std::to_string(st.st_uid) +
                 ", mode " + octalMode(mode) + ")" + ((mode & 022) != 0 ? " and others can write to it." : ".") +
                 advice;
        return false;
    }
    if ((mode & 077) != 0) {
        if (::fchmod(fd, 0700) != 0) {
            report = "the data directory " + dir +
                     " is open to other users and cannot be made private: " + std::strerror(errno) + "." + advice;
            ::close(fd);
            return false;
        }
        report =
            "the data directory " + dir + " was open to other users (mode " + octalMode(mode) + "); it is now 0700.";
    }
    ::close(fd);
    return true;
}

}  // namespace

bool isPortableInstallDir(const std::string& dir) {
    if (dir.empty() || dir[0] != '/') return false;
    // Installed programs live under these; their directories are never written, even by root.
    static const char* const systemPrefixes[] = {"/usr", "/bin", "/sbin", "/lib",  "/lib32", "/lib64", "/libx32",
                                                 "/opt", "/etc", "/var",  "/snap", "/nix",   "/app"};
    const std::string d = withSlash(dir);
    for (const char* p : systemPrefixes)
        if (d.compare(0, std::strlen(p) + 1, std::string(p) + "/") == 0) return false;
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    // Only a directory of this user that its owner may write (root ignores the mode bits, so
    // they are checked too) and that is not on a read-only mount.
    if (st.st_uid != ::geteuid() || !(st.st_mode & S_IWUSR)) return false;
    return ::access(dir.c_str(), W_OK) == 0;
}

std::string resolveProgramDir(const std::string& executablePath, std::string* report) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::string said;
    const auto privateDir = [&](const std::string& dir) {
        const bool ok = makePrivateDir(dir, said);
        if (report) *report = said;
        return ok ? withSlash(dir) : std::string();
    };
    if (report) report->clear();
    if (const char* home = nonEmptyEnv("TELVANE_HOME")) return privateDir(home);
    const fs::path exeDir = fs::absolute(fs::path(executablePath), ec).parent_path();
    // An installed program (PREFIX/bin beside PREFIX/share/telvane) is never portable, even when
    // its bin/ happens to be writable (root running /usr/bin/telvane).
    if (!exeDir.empty() && !isInstalledLayout(executablePath) && isPortableInstallDir(exeDir.string()))
        return withSlash(exeDir.string());
    std::string base;
    if (const char* xdg = nonEmptyEnv("XDG_DATA_HOME"))
        base = xdg;
    else if (const char* home = nonEmptyEnv("HOME"))
        base = std::string(home) + "/.local/share";
    else if (std::string home = accountHome(); !home.empty())
        base = home + "/.local/share";
    else {
        if (report) *report = "no private data directory: set HOME or TELVANE_HOME.";
        return {};  // never a shared directory such as /tmp
    }
    return privateDir(withSlash(base) + "telvane");
}

void setProgramDir(const std::string& dir) { g_programDir = withSlash(dir); }
const std::string& ProgramDir() { return g_programDir; }
std::string receiveDir() { return g_programDir + "receive/"; }

}  // namespace telvane::settings
