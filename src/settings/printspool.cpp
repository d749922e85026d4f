// The print spool's places and names (see printspool.h).
#include "settings/printspool.h"

#include <algorithm>
#include <cctype>
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

namespace {

// The job name's parts: "job-<digits>", the title after '-' (may be empty), the extension with its
// dot. False when the name is not a job's.
bool splitJobName(const std::string& name, std::string& id, std::string& title, std::string& ext) {
    for (const char* e : {".pdf", ".ps"}) {
        const size_t n = std::strlen(e);
        if (name.size() > n && name.compare(name.size() - n, n, e) == 0) ext = e;
    }
    if (ext.empty() || name.compare(0, 4, "job-") != 0) return false;
    const std::string stem = name.substr(0, name.size() - ext.size());
    const size_t digitsEnd = std::min(stem.find_first_not_of("0123456789", 4), stem.size());
    if (digitsEnd == 4 || name.find('/') != std::string::npos) return false;
    id = stem.substr(0, digitsEnd);
    if (digitsEnd == stem.size()) return true;
    if (stem[digitsEnd] != '-' || digitsEnd + 1 == stem.size()) return false;
    title = stem.substr(digitsEnd + 1);
    return true;
}

}  // namespace

bool isPrintJobName(const std::string& name) {
    std::string id, title, ext;
    return splitJobName(name, id, title, ext);
}

std::string printJobFileName(const std::string& jobId, const std::string& title, bool postScript) {
    constexpr size_t kMaxTitle = 80;
    std::string t = title;
    // The title's own extension ("letter.rtf"): the stored job is a PDF or PostScript file.
    const size_t dot = t.rfind('.');
    if (dot != std::string::npos && dot > 0 && t.size() - dot - 1 >= 1 && t.size() - dot - 1 <= 5 &&
        std::all_of(t.begin() + long(dot) + 1, t.end(),
                    [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }))
        t.erase(dot);
    for (char& c : t)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '_';
    if (t.size() > kMaxTitle) {
        size_t cut = kMaxTitle;
        while (cut > 0 && (static_cast<unsigned char>(t[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
        t.erase(cut);
    }
    const size_t end = t.find_last_not_of(' ');
    t.erase(end == std::string::npos ? 0 : end + 1);
    const size_t begin = t.find_first_not_of(' ');
    t.erase(0, begin == std::string::npos ? t.size() : begin);
    return "job-" + jobId + (t.empty() ? "" : "-" + t) + (postScript ? ".ps" : ".pdf");
}

std::string printJobTitle(const std::string& name) {
    std::string id, title, ext;
    if (!splitJobName(name, id, title, ext) || title.empty()) return name;
    return title + ext;
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
