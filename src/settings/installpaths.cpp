// Locating the shared data directory from the executable's place.
#include "settings/installpaths.h"

#include <filesystem>
#include <system_error>

namespace telvane::settings {
namespace {

namespace fs = std::filesystem;

std::string withSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

fs::path executableDir(const std::string& executablePath) {
    std::error_code ec;
    fs::path exe = fs::absolute(fs::path(executablePath), ec);
    if (ec) return {};
    return exe.lexically_normal().parent_path();
}

fs::path installedShareDir(const fs::path& exeDir) {
    if (exeDir.empty() || exeDir.filename() != "bin") return {};
    fs::path share = exeDir.parent_path() / "share" / "telvane";
    std::error_code ec;
    return fs::is_directory(share, ec) ? share : fs::path();
}

}  // namespace

std::string currentExecutablePath() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.string();
}

bool isInstalledLayout(const std::string& executablePath) {
    return !installedShareDir(executableDir(executablePath)).empty();
}

std::string sharedDataDirFor(const std::string& executablePath) {
    const fs::path exeDir = executableDir(executablePath);
    const fs::path share = installedShareDir(exeDir);
    return withSlash((share.empty() ? exeDir : share).string());
}

const std::string& sharedDataDir() {
    static const std::string dir = sharedDataDirFor(currentExecutablePath());
    return dir;
}

}  // namespace telvane::settings
