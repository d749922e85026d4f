// Scratch directories and file helpers for the table engine tests.
#include "test_util.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "records/file_io.h"

namespace telvane::records::test {

std::string readFile(const std::string& path) { return telvane::test::readFile(path); }

bool exists(const std::string& path) { return std::filesystem::exists(path); }

void writeFile(const std::string& path, const std::string& bytes) { telvane::test::writeFile(path, bytes); }

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

std::vector<std::vector<uint32_t>> levelsOf(const std::string& cdx, const CdxTagHeader& tag) {
    const auto* p = reinterpret_cast<const unsigned char*>(cdx.data());
    std::vector<std::vector<uint32_t>> levels{{tag.root}};
    while (!(io::le16(p + levels.back()[0]) & 2)) {
        std::vector<uint32_t> next;
        for (uint32_t n : levels.back()) {
            for (int i = 0; i < io::le16(p + n + 2); ++i)
                next.push_back(
                    io::be32(p + n + 12 + size_t(i) * size_t(tag.keyLength + 8) + size_t(tag.keyLength) + 4));
        }
        levels.push_back(next);
    }
    return levels;
}

Child forkChild(const std::function<void(int fd)>& run) {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("no pipe for a child process");
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("no child process");
    if (pid == 0) {
        ::close(fds[0]);
        run(fds[1]);
        _exit(0);
    }
    ::close(fds[1]);
    return {pid, fds[0]};
}

std::string finishChild(const Child& child, int* status) {
    const std::string out = readAll(child.out);
    ::close(child.out);
    ::waitpid(child.pid, status, 0);
    return out;
}

std::string readAll(int fd) {
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, size_t(n));
    return out;
}

}  // namespace telvane::records::test
