// Scratch directories for tests (see tempdir.h).
#include "support/tempdir.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <stdlib.h>

namespace fs = std::filesystem;

namespace telvane::test {

TempDir::TempDir(const std::string& tag) {
    std::string pattern = (fs::temp_directory_path() / (tag + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a directory from " + pattern);
    path_ = pattern + "/";
}

TempDir::~TempDir() {
    std::error_code ec;
    // A test may have taken the owner's rights away to provoke an error; give them back first.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (it->is_directory(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::vector<std::string> TempDir::names() const {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(path_, ec)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

void TempDir::write(const std::string& name, const std::string& bytes) const { writeFile(path_ + name, bytes); }

std::string TempDir::read(const std::string& name) const { return readFile(path_ + name); }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace telvane::test
