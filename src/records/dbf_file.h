// DBF layer: the FoxPro 2.x table file (header, field descriptors, fixed-length records).
// Opening validates the header against the file so that a damaged file gives an error naming
// it instead of a crash. Appends write the record (and the end-of-file mark) before the record
// count, so a process killed in between leaves the table as it was before the append. A header
// that counts more records than the file holds (a power cut can keep the count's sector and
// lose the new end of the file) is read with the whole records present; countShortfall() says
// how many were missing.
#pragma once

#include "records/file_io.h"
#include "records/xb_types.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace telvane::records {

class DbfFile {
public:
    static constexpr uint8_t kVersionNoMemo = 0x03;
    static constexpr uint8_t kVersionFoxMemo = 0xF5;
    static constexpr uint8_t kFlagStructuralCdx = 0x01;
    static constexpr uint8_t kCodePage1252 = 0x03;

    // Writes a new empty table file (EXbError when the name is taken). Validates the field list
    // (names, types, widths).
    static void create(const std::string& path, const std::vector<FieldDef>& fields);
    static std::string headerBytes(const std::vector<FieldDef>& fields, uint32_t records, uint8_t flags);
    static void validateFields(const std::vector<FieldDef>& fields, const std::string& path);
    // Opens and validates; lock = exclusive use; readOnly opens the file for reading only.
    static std::unique_ptr<DbfFile> open(const std::string& path, bool lock = true, bool readOnly = false);

    const std::string& path() const { return file_.path(); }
    const std::vector<FieldDef>& fields() const { return fields_; }
    const std::vector<int>& offsets() const { return offsets_; }
    uint32_t recordCount() const { return count_; }
    int recordLength() const { return recordLength_; }
    int headerLength() const { return headerLength_; }
    uint8_t version() const { return version_; }
    uint8_t flags() const { return flags_; }
    bool hasMemo() const;
    // Bytes past the last counted record other than the end-of-file mark (left by an interrupted append).
    uint64_t trailingBytes() const;
    // Those bytes themselves (to keep a copy before an append writes over them).
    std::string trailing() const;
    // Takes those bytes off: the file ends with the last counted record and the end-of-file mark.
    void cutTrailing();
    // Records the header counted beyond the whole records in the file (0 when none).
    uint32_t countShortfall() const { return shortfall_; }
    // Writes the count of the records present into the header (after a shortfall).
    void writeCount();

    void read(uint32_t recno, char* out) const;
    // Reads records first..first+count-1 into out (count * recordLength bytes).
    void readRange(uint32_t first, uint32_t count, std::string& out) const;
    void write(uint32_t recno, const char* record);
    uint32_t append(const char* record);
    void setFlags(uint8_t flags);
    void sync();
    // True when something was written since the last sync.
    bool unsynced() const { return unsynced_; }
    uint64_t changedNs() const { return file_.changedNs(); }
    void close() { file_.close(); }

private:
    DbfFile() = default;
    void touchHeader();

    io::File file_;
    std::vector<FieldDef> fields_;
    std::vector<int> offsets_;
    uint32_t count_ = 0;
    int recordLength_ = 0;
    int headerLength_ = 0;
    uint8_t version_ = 0;
    uint8_t flags_ = 0;
    bool touched_ = false;
    bool unsynced_ = false;
    uint32_t shortfall_ = 0;
};

}  // namespace telvane::records
