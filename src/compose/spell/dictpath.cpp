// Path lookup of the spelling dictionaries.
#include "compose/spell/dictpath.h"

#include <unistd.h>

#include <climits>
#include <sys/stat.h>

namespace telvane::spell {

namespace {

bool IsFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string ExecutableDir() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string path(buf, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

std::string MainDictionaryPath(const std::string& dataDir) {
    if (!dataDir.empty() && IsFile(dataDir + kMainDictionaryFile)) return dataDir + kMainDictionaryFile;
    const std::string beside = ExecutableDir() + kMainDictionaryFile;
    if (IsFile(beside)) return beside;
    // An installed program: PREFIX/bin/telvane and PREFIX/share/telvane/tvn.dct.
    const std::string shared = ExecutableDir() + "../share/telvane/" + kMainDictionaryFile;
    if (IsFile(shared)) return shared;
#ifdef TELVANE_DICT_INSTALL_DIR
    const std::string installed = std::string(TELVANE_DICT_INSTALL_DIR) + "/" + kMainDictionaryFile;
    if (IsFile(installed)) return installed;
#endif
    return beside;
}

std::string UserDictionaryPath(const std::string& dataDir) { return dataDir + kUserDictionaryFile; }

}  // namespace telvane::spell
