// Documents attached to an outgoing fax (PDF, PostScript, TIFF, PNG/JPEG/BMP/PCX/DCX images, plain
// text, RTF), sent after the cover sheet and the typed document. Each is copied into the data
// directory's "documents/" directory under a name made here, so the fax never depends on the
// original file, and is converted to fine-resolution fax pages (1728 pels) by telvane-faxconv run
// as a child process under its own limits. The fax's list of documents lives in its RTFDOC memo as
// one ignorable RTF group per document, {\*\tvndocument NAME PAGES HEXTITLE}, which every RTF
// reader skips: the outgoing log keeps its fields, and the list moves with the record (clone,
// pack, rebuild) and reaches Resend and View alike.
// A copy is removed when no live record names it any more (a clone shares its original's copies).
// Guarantees: the directory is 0700 and every copy 0600, created exclusively (never over a file);
// a name read back from a memo is used only when it has the form this module gives (no path ever
// comes from a memo); a document that cannot be converted is refused with a message naming it and
// leaves no copy and no output file behind.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace telvane::records {
class Table;
}

namespace telvane::render {

struct FaxDocument {
    std::string storedName;  // file name in documentsDir()
    std::string title;       // the original file's name, shown to the user (UTF-8)
    int pages = 0;
};

// dataDir ("/" at the end) + "documents/".
std::string documentsDir(const std::string& dataDir);
// The extensions a document may have (lower case, without the dot).
const std::vector<std::string>& documentExtensions();
bool isDocumentFile(const std::string& path);

// Copies `source` into the documents directory and converts the copy once, which checks it and
// counts its pages. Empty with `error` set (naming the document) when it cannot be read. May run on
// any thread: when `*stop` turns true the conversion is ended, no copy is kept and `error` stays
// empty. `title` is the name the user is shown (the source's file name when empty).
std::optional<FaxDocument> storeDocument(const std::string& dataDir, const std::string& source, std::string& error,
                                         const std::atomic<bool>* stop = nullptr, const std::string& title = {});
// Removes a stored copy (nothing when the name is not one of ours).
void removeStoredDocument(const std::string& dataDir, const FaxDocument& document);
// Removes the copies that no record of the outgoing table names any more (a fax saved without a
// document it had, deleted or cleaned up); a copy a clone shares stays while either names it.
// The table is put on disk first, so that a crash never leaves a record naming a removed copy;
// when that fails, or a record's list cannot be read, nothing is removed. Records marked deleted
// name nothing (deletion is final). Call it only while no fax editor holds copies it has not
// stored yet. Returns the number of copies removed.
int removeUnnamedDocuments(const std::string& dataDir, records::Table& faxTable);

// Converts a stored document into the fax file `outOvf`; its pages, or -1 with `error` set (naming
// the document) and no output file left. `*stop` turning true ends it (-1, `error` empty).
int convertDocument(const std::string& dataDir, const FaxDocument& document, const std::string& outOvf,
                    std::string& error, const std::atomic<bool>* stop = nullptr);

// `rtf` with its document groups replaced by those of `documents` (placed before the closing brace).
std::string withDocuments(std::string_view rtf, const std::vector<FaxDocument>& documents);
// The documents an RTF text lists, in order; groups that are malformed or name no file of ours are skipped.
std::vector<FaxDocument> documentsIn(std::string_view rtf);

}  // namespace telvane::render
