// Resolution of the data directory.
#include "settings/programdir.h"

#include "settings/installpaths.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace telvane {
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

// Creates `dir` (mode 0700) when missing; the directory must then belong to this user, not be a
// link, and be closed to others (it is tightened to 0700 when it is not).
bool makePrivateDir(const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return false;
    if ((st.st_mode & 077) != 0 && ::chmod(dir.c_str(), 0700) != 0) return false;
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

std::string resolveProgramDir(const std::string& executablePath) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (const char* home = nonEmptyEnv("TELVANE_HOME")) {
        fs::create_directories(home, ec);
        return withSlash(home);
    }
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
    else
        return {};  // never a shared directory such as /tmp
    const std::string dir = withSlash(base) + "telvane/";
    return makePrivateDir(dir) ? dir : std::string();
}

void setProgramDir(const std::string& dir) { g_programDir = withSlash(dir); }
const std::string& ProgramDir() { return g_programDir; }
std::string receiveDir() { return g_programDir + "receive/"; }

}  // namespace telvane
