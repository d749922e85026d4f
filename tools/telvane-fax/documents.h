// Documents given to `telvane-fax send` that are not fax files (PDF, PostScript, TIFF, text,
// RTF, images) are converted with telvane-faxconv, found beside this program or on PATH, into
// fine-resolution fax files in a private temporary directory that is removed with the object, or
// by a terminating signal, which also ends a running conversion.
#pragma once

#include <string>

class DocumentConverter {
public:
    DocumentConverter() = default;
    DocumentConverter(const DocumentConverter&) = delete;
    DocumentConverter& operator=(const DocumentConverter&) = delete;
    ~DocumentConverter();

    // `path` itself when it is a fax file (.ovf), else the converted file; empty with `error`
    // set when the conversion failed.
    std::string faxFileFor(const std::string& path, std::string& error);

private:
    std::string tempDir_;
    int tempSlot_ = -1;  // the directory's removal on a terminating signal
    int count_ = 0;
};
