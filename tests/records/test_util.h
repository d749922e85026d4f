// Helpers for the table engine tests: scratch directories, file bytes and field images.
#pragma once

#include <string>

namespace telvane::records::test {

// A fresh directory under the system's temporary directory, removed when the object dies.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }  // ends with '/'
    std::string file(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

std::string readFile(const std::string& path);
bool exists(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
// Bytes from a hex string; blanks and '|' are ignored.
std::string hex(const std::string& text);
// s cut or filled with blanks to n characters, as a character field stores it.
std::string pad(std::string s, size_t n);

}  // namespace telvane::records::test
