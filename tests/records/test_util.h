// Helpers for the table engine tests: scratch directories, file bytes and field images.
#pragma once

#include <string>

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

}  // namespace telvane::records::test
