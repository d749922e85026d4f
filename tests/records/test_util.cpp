// Scratch directories and file helpers for the table engine tests.
#include "test_util.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace telvane::records::test {

std::string readFile(const std::string& path) { return telvane::test::ReadFile(path); }

bool exists(const std::string& path) { return std::filesystem::exists(path); }

void writeFile(const std::string& path, const std::string& bytes) { telvane::test::WriteFile(path, bytes); }

std::string hex(const std::string& text) {
    std::string out;
    int nibble = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            continue;
        if (nibble < 0) {
            nibble = v;
        } else {
            out += char(nibble * 16 + v);
            nibble = -1;
        }
    }
    return out;
}

std::string pad(std::string s, size_t n) {
    s.resize(n, ' ');
    return s;
}

}  // namespace telvane::records::test
