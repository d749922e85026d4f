// Helpers for the table engine tests: scratch directories, file bytes and field images, the
// shape of an index tree, the output of a child process.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "records/cdx_file.h"
#include "support/tempdir.h"

namespace telvane::records::test {

using TempDir = telvane::test::TempDir;

std::string readFile(const std::string& path);
bool exists(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
// Bytes from a hex string; blanks and '|' are ignored.
std::string hex(const std::string& text);
// s cut or filled with blanks to n characters, as a character field stores it.
std::string pad(std::string s, size_t n);
// Offsets of the nodes of a tag's tree in an index file's bytes, level by level from the root.
std::vector<std::vector<uint32_t>> levelsOf(const std::string& cdx, const CdxTagHeader& tag);
// Everything read from fd until its end (a child process's pipe).
std::string readAll(int fd);

// A child process running run(fd), which writes to fd and ends with _exit; out reads what it
// writes.
struct Child {
    pid_t pid;
    int out;
};
Child forkChild(const std::function<void(int fd)>& run);
// Everything the child wrote, once it has ended; its wait status in *status.
std::string finishChild(const Child& child, int* status);

}  // namespace telvane::records::test
