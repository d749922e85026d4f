// Resolution of the data directory.
#include "shell/programdir.h"

#include "shell/installpaths.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

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

}  // namespace

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
    if (!exeDir.empty() && !isInstalledLayout(executablePath) && ::access(exeDir.c_str(), W_OK) == 0)
        return withSlash(exeDir.string());
    std::string base;
    if (const char* xdg = nonEmptyEnv("XDG_DATA_HOME"))
        base = xdg;
    else if (const char* home = nonEmptyEnv("HOME"))
        base = std::string(home) + "/.local/share";
    else
        base = "/tmp";
    const std::string dir = withSlash(base) + "telvane/";
    fs::create_directories(dir, ec);
    return dir;
}

void setProgramDir(const std::string& dir) { g_programDir = withSlash(dir); }
const std::string& ProgramDir() { return g_programDir; }
std::string receiveDir() { return g_programDir + "receive/"; }

}  // namespace telvane
