// Helpers of the spell-check tests: the scratch directory, whole-file reads and writes, dictionary bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/tempdir.h"

namespace telvane::spell::test {

using TempDir = telvane::test::TempDir;

inline std::string readAll(const std::string& path) { return telvane::test::readFile(path); }
inline void writeAll(const std::string& path, const std::string& bytes) { telvane::test::writeFile(path, bytes); }

// Bytes of a header and of nodes, written out field by field as the file format lays them.
inline std::string le32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}
inline std::string headerBytes(uint32_t used, uint32_t nodeSlots, uint32_t words, uint8_t kind, uint32_t offset) {
    return le32(used) + le32(nodeSlots) + le32(words) + std::string(1, static_cast<char>(kind)) + le32(offset);
}
inline std::string nodeBytes(uint16_t child, uint8_t bits) {
    return std::string{static_cast<char>(child & 0xFF), static_cast<char>(child >> 8), static_cast<char>(bits)};
}

inline std::string mainDictionaryFile() { return TELVANE_BINARY_DIR "/bin/tvn.dct"; }

}  // namespace telvane::spell::test
