// An output file written under a hidden temporary name beside its final path and renamed into
// place only when complete: a failed or killed conversion leaves no partial file and keeps an
// existing one intact.
#pragma once

#include <cstddef>
#include <string>

namespace telvane::faximage {

class PendingFile {
public:
    explicit PendingFile(const std::string& path);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& tmp() const { return tmp_; }
    // Writes all of `size` bytes; a fax error code (ecOK on success).
    int write(const void* data, std::size_t size);
    int write(const std::string& s) { return write(s.data(), s.size()); }
    std::size_t written() const { return written_; }
    // Closes the descriptor (for writers that reopen the temporary by name) without removing.
    void release();
    // Closes and renames into place. The file gets the mode a plain create would have given it
    // (that of the file it replaces, else 0666 less the umask), not the temporary's 0600.
    int commit();

private:
    std::string path_, tmp_;
    int fd_ = -1;
    std::size_t written_ = 0;
    bool committed_ = false;
};

}  // namespace telvane::faximage
