// One scratch directory type for every test: a fresh directory under the system's temporary
// directory (private to the user), removed with everything in it when the object dies; and whole
// files read and written.
#pragma once

#include <string>
#include <vector>

namespace telvane::test {

class TempDir {
public:
    explicit TempDir(const std::string& tag = "telvane-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }  // ends with '/'
    const std::string& dir() const { return path_; }   // the same, as data directories are passed
    std::string pathNoSlash() const { return path_.substr(0, path_.size() - 1); }  // without the final '/'
    std::string file(const std::string& name) const { return path_ + name; }
    std::string operator/(const std::string& name) const { return path_ + name; }

    // Sorted names of the entries (files and directories) directly in the directory.
    std::vector<std::string> names() const;
    void write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const;  // "" when the file cannot be read

private:
    std::string path_;
};

// Whole files: the bytes of `path` ("" when it cannot be read); `bytes` written as the file `path`.
std::string readFile(const std::string& path);
bool writeFile(const std::string& path, const std::string& bytes);

}  // namespace telvane::test
