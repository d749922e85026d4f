// On-the-fly conversion of documents to fax files for sending.
#include "documents.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string lowerExtension(const std::string& path) {
    std::string ext = fs::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

// telvane-faxconv beside the running program, else the name for a PATH search.
std::string faxconvProgram() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const fs::path sibling = self.parent_path() / "telvane-faxconv";
        if (::access(sibling.c_str(), X_OK) == 0) return sibling.string();
    }
    return "telvane-faxconv";
}

}  // namespace

DocumentConverter::~DocumentConverter() {
    if (tempDir_.empty()) return;
    std::error_code ec;
    fs::remove_all(tempDir_, ec);
}

std::string DocumentConverter::faxFileFor(const std::string& path, std::string& error) {
    if (lowerExtension(path) == ".ovf") return path;
    if (::access(path.c_str(), R_OK) != 0) {
        error = "cannot read '" + path + "'";
        return {};
    }
    if (tempDir_.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/telvane-fax-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (!::mkdtemp(name.data())) {
            error = "cannot create a temporary directory";
            return {};
        }
        tempDir_ = name.data();
    }
    const std::string out = tempDir_ + "/document" + std::to_string(++count_) + ".ovf";
    const std::string program = faxconvProgram();
    const char* argv[] = {program.c_str(), "to-fax", path.c_str(), out.c_str(), "--fine", nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) {
        error = "cannot run telvane-faxconv to convert '" + path + "'";
        return {};
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = "could not convert '" + path + "' to a fax file";
        return {};
    }
    return out;
}
