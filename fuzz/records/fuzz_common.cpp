// Scratch directory and the sound table used by the fuzz targets.
#include "fuzz_common.h"

#include "records/record_set.h"
#include "records/table.h"
#include "records/xb_error.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace telvane::records::fuzz {

const std::string& scratchDir() {
    static const std::string dir = [] {
        std::string t = "/tmp/telvane-fuzz-" + std::to_string(getpid()) + "-XXXXXX";
        if (!mkdtemp(t.data())) std::abort();
        return t + "/";
    }();
    return dir;
}

void writeFile(const std::string& path, const unsigned char* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

void writeFile(const std::string& path, const std::string& bytes) {
    writeFile(path, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

static std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

const SoundFiles& soundFiles() {
    static const SoundFiles files = [] {
        const std::string p = scratchDir() + "SOUND.DBF";
        Table::create(p, {{"NAME", FieldType::Character, 12, 0},
                          {"DAY", FieldType::Date, 8, 0},
                          {"N", FieldType::Numeric, 4, 1},
                          {"OK", FieldType::Logical, 1, 0},
                          {"MEMO", FieldType::Memo, 10, 0}});
        {
            auto t = Table::open(p);
            for (int i = 0; i < 10; ++i) {
                std::string r = " NAME" + std::to_string(i * 37 % 11);
                r.resize(13, ' ');
                r += "2024010" + std::to_string(i % 9 + 1) + " 1.5T" + t->writeMemo("memo " + std::to_string(i));
                t->appendRecord(r);
            }
            t->addTag("NAME", "UPPER(NAME)", ".not. deleted()", false);
            t->addTag("DAY", "DAY", "", true);
        }
        const std::string base = scratchDir() + "SOUND.";
        return SoundFiles{readAll(base + "DBF"), readAll(base + "FPT"), readAll(base + "CDX")};
    }();
    return files;
}

void useTable(bool withIndex) {
    const std::string path = scratchDir() + "S.DBF";
    try {
        auto t = withIndex ? Table::open(path) : Table::openWithoutIndex(path);
        for (uint32_t r = 1; r <= t->recordCount(); ++r) {
            const std::string raw = t->readRecord(r);
            for (size_t f = 0; f < t->fields().size(); ++f) {
                if (t->fields()[f].type == FieldType::Memo) {
                    try {
                        t->readMemo(std::string_view(raw).substr(size_t(t->fieldOffset(int(f))), 10));
                    } catch (const EXbError&) {}
                }
            }
        }
        t->close();
        RecordSet rs;
        rs.setDirectory(scratchDir());
        rs.setTableName("S.DBF");
        rs.open();
        for (rs.first(); !rs.eof(); rs.next()) rs.currentRow();
        rs.close();
    } catch (const EXbError&) {}
}

}  // namespace telvane::records::fuzz
