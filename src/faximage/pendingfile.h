// An output file written under a hidden temporary name beside its final path and renamed into
// place only when complete: a failed or killed conversion leaves no partial file and keeps an
// existing one intact. The temporary is held under an exclusive lock while it is written and is
// removed by a terminating signal (see signalcleanup.h); one left by a run killed outright is
// removed by the next writer of the same output (see openPendingTemp).
#pragma once

#include <cstddef>
#include <string>

namespace telvane::faximage {

// Files untouched for this long, and unlocked, are no running writer's (a writer holds its lock
// and writes at least every page; a conversion draws a page within minutes at most).
constexpr int kAbandonedPendingSeconds = 600;

// Opens a new hidden temporary ".NAME.XXXXXX" beside `path` for writing (its name into `tmp`),
// locked and registered for removal on a terminating signal (`signalSlot`); first removes the
// abandoned temporaries of the same output: regular files of this user with the same pattern, not
// locked by a writer and untouched for kAbandonedPendingSeconds. Returns the descriptor or -1.
int openPendingTemp(const std::string& path, std::string& tmp, int& signalSlot);

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
    int signalSlot_ = -1;
    std::size_t written_ = 0;
    bool committed_ = false;
};

}  // namespace telvane::faximage
