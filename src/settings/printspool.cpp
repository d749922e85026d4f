// The print spool's places and names (see printspool.h).
#include "settings/printspool.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

namespace telvane::settings {

std::string printSpoolDir(const std::string& user, const std::string& home, const char* spoolRoot) {
    if (user.empty() || user.find('/') != std::string::npos || user == "." || user == "..") return {};
    if (spoolRoot && *spoolRoot) return std::string(spoolRoot) + "/" + user;
    if (home.empty() || home[0] != '/') return {};
    return home + "/.local/share/telvane/printjobs";
}

bool isPrintJobName(const std::string& name) {
    std::string stem;
    for (const char* ext : {".pdf", ".ps"}) {
        const size_t n = std::strlen(ext);
        if (name.size() > n && name.compare(name.size() - n, n, ext) == 0) {
            stem = name.substr(0, name.size() - n);
            break;
        }
    }
    if (stem.size() <= 4 || stem.compare(0, 4, "job-") != 0) return false;
    return stem.find_first_not_of("0123456789", 4) == std::string::npos;
}

std::string makePrivateDir(const std::string& dir, uid_t uid) {
    if (dir.empty() || dir[0] != '/') return "not an absolute path: " + dir;
    for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        const std::string part = slash == std::string::npos ? dir : dir.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return part + ": " + std::strerror(errno);
        if (slash == std::string::npos) break;
    }
    struct stat st {};
    if (lstat(dir.c_str(), &st) != 0) return dir + ": " + std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return dir + " is not a directory";
    if (st.st_uid != uid) return dir + " belongs to another user";
    if ((st.st_mode & 077) != 0 && chmod(dir.c_str(), 0700) != 0) return dir + ": " + std::strerror(errno);
    return {};
}

}  // namespace telvane::settings
