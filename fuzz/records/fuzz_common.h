// Shared helpers of the table engine fuzz targets: a private scratch directory per process
// and a sound table (with memos and tags) to combine with fuzzed files.
#pragma once

#include <string>

namespace telvane::records::fuzz {

const std::string& scratchDir();  // ends with '/'
void writeFile(const std::string& path, const unsigned char* data, size_t size);
void writeFile(const std::string& path, const std::string& bytes);
// Bytes of a sound S.DBF, S.FPT and S.CDX (10 records, memos, two tags).
struct SoundFiles {
    std::string dbf, fpt, cdx;
};
const SoundFiles& soundFiles();
// Opens S.DBF in the scratch directory and reads every record and memo; errors are expected.
void useTable(bool withIndex);

}  // namespace telvane::records::fuzz
