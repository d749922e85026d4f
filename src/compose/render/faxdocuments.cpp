// Documents attached to an outgoing fax (see faxdocuments.h).
#include "compose/render/faxdocuments.h"

#include "faximage/childprocess.h"
#include "faximage/ovffile.h"
#include "records/file_io.h"
#include "records/table.h"
#include "records/xb_error.h"

#include <QImage>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <system_error>

namespace telvane::render {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kGroupWord = "{\\*\\tvndocument ";
constexpr std::size_t kStoredStemLength = 16;
// Page of a fine fax at 1728 pels: 8.5 x 11 inches at 204 x 196 pels per inch.
constexpr int kFaxWidth = 1728;
constexpr int kFaxHeight = 2156;

std::string lowerExtension(const std::string& path) {
    std::string ext = fs::path(path).extension().string();
    if (!ext.empty()) ext.erase(0, 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

bool isRasterPicture(const std::string& ext) { return ext == "png" || ext == "jpg" || ext == "jpeg"; }

bool isStoredName(std::string_view name) {
    if (name.size() < kStoredStemLength + 2 || name[kStoredStemLength] != '.') return false;
    for (std::size_t i = 0; i < kStoredStemLength; ++i) {
        const char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    const std::string ext(name.substr(kStoredStemLength + 1));
    const auto& known = documentExtensions();
    return std::find(known.begin(), known.end(), ext) != known.end();
}

std::string newStoredName(const std::string& ext) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::random_device random;
    std::string name;
    for (std::size_t i = 0; i < kStoredStemLength; ++i) name += kHex[random() & 15];
    return name + "." + ext;
}

std::string hex(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

std::optional<std::string> unhex(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    const auto nibble = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = nibble(text[i]), lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += char(hi * 16 + lo);
    }
    return out;
}

bool makePrivateDir(const std::string& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return false;
    return (st.st_mode & 0777) == 0700 || ::chmod(dir.c_str(), 0700) == 0;
}

// Copies a regular file into a new file created exclusively with mode 0600.
bool copyPrivate(const std::string& source, const std::string& target, std::string& reason) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        reason = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        reason = "not a regular file";
        return false;
    }
    const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
        reason = std::strerror(errno);
        ::close(in);
        return false;
    }
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer + done, std::size_t(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok) break;
    }
    if (!ok) reason = std::strerror(errno);
    ok = ::fsync(out) == 0 && ok;
    ok = ::close(out) == 0 && ok;
    ::close(in);
    if (!ok) {
        if (reason.empty()) reason = "the copy could not be written";
        std::remove(target.c_str());
    }
    return ok;
}

int ovfPageCount(const std::string& path) {
    std::uint8_t header[faximage::kOvfFileHeaderSize];
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return -1;
    const bool read = std::fread(header, 1, sizeof header, f) == sizeof header;
    std::fclose(f);
    faximage::OvfFileHeader h;
    return read && faximage::decodeFileHeader(header, h) ? h.pageCount : -1;
}

// A PNG or JPEG picture as a one-bit BMP fitted to the fax page (aspect kept, never enlarged
// beyond the page), which telvane-faxconv then takes as it is.
bool pictureToBitmap(const std::string& picture, const std::string& bitmap) {
    QImage image;
    if (!image.load(QString::fromStdString(picture))) return false;
    // Pels are 204 wide and 196 high per inch; the picture is taken at 200 dots per inch.
    const QSize fitted = QSize(image.width() * 204 / 200, image.height() * 196 / 200)
                             .scaled(kFaxWidth, kFaxHeight, Qt::KeepAspectRatio)
                             .boundedTo(QSize(kFaxWidth, kFaxHeight));
    QImage page(kFaxWidth, std::max(fitted.height(), 1), QImage::Format_RGB32);
    page.fill(Qt::white);
    const QImage scaled = image.convertToFormat(QImage::Format_ARGB32)
                              .scaled(std::max(fitted.width(), 1), std::max(fitted.height(), 1), Qt::IgnoreAspectRatio,
                                      Qt::SmoothTransformation);
    for (int y = 0; y < scaled.height(); ++y)
        for (int x = 0; x < scaled.width(); ++x) {
            const QRgb c = scaled.pixel(x, y);
            // Transparent pels are paper.
            const int a = qAlpha(c);
            const int g = (qGray(c) * a + 255 * (255 - a)) / 255;
            page.setPixel((kFaxWidth - scaled.width()) / 2 + x, y, qRgb(g, g, g));
        }
    const QImage mono = page.convertToFormat(QImage::Format_Mono, Qt::MonoOnly | Qt::OrderedDither);
    return mono.save(QString::fromStdString(bitmap), "BMP");
}

}  // namespace

std::string documentsDir(const std::string& dataDir) { return dataDir + "documents/"; }

const std::vector<std::string>& documentExtensions() {
    static const std::vector<std::string> kExtensions = {"pdf",  "ps",  "eps", "tif", "tiff", "png",  "jpg",
                                                         "jpeg", "bmp", "pcx", "dcx", "txt",  "text", "rtf"};
    return kExtensions;
}

bool isDocumentFile(const std::string& path) {
    const std::string ext = lowerExtension(path);
    const auto& known = documentExtensions();
    return std::find(known.begin(), known.end(), ext) != known.end();
}

std::optional<FaxDocument> storeDocument(const std::string& dataDir, const std::string& source, std::string& error,
                                         const std::atomic<bool>* stop, const std::string& title) {
    FaxDocument document;
    document.title = title.empty() ? fs::path(source).filename().string() : title;
    const std::string named = "The document \"" + document.title + "\"";
    if (!isDocumentFile(source)) {
        error = named +
                " is of a kind Telvane cannot fax (PDF, PostScript, TIFF, PNG, JPEG, BMP, PCX, DCX, text "
                "and RTF can be faxed).";
        return std::nullopt;
    }
    const std::string dir = documentsDir(dataDir);
    if (!makePrivateDir(dir)) {
        error = "The directory " + dir + " for documents could not be made private: " + std::strerror(errno) + ".";
        return std::nullopt;
    }
    std::string reason;
    for (int attempt = 0; document.storedName.empty(); ++attempt) {
        const std::string name = newStoredName(lowerExtension(source));
        if (copyPrivate(source, dir + name, reason)) {
            document.storedName = name;
        } else if (errno != EEXIST || attempt == 8) {
            error = named + " cannot be read: " + reason + ".";
            return std::nullopt;
        }
    }
    const std::string workDir = faximage::makeWorkDir("telvane-document");
    const std::string probe = (workDir.empty() ? dir : workDir + "/") + document.storedName + ".ovf";
    document.pages = convertDocument(dataDir, document, probe, error, stop);
    std::remove(probe.c_str());
    if (!workDir.empty()) {
        std::error_code ec;
        fs::remove_all(workDir, ec);
    }
    if (document.pages <= 0) {
        removeStoredDocument(dataDir, document);
        if (error.empty() && !(stop && stop->load())) error = named + " has no pages.";
        return std::nullopt;
    }
    return document;
}

void removeStoredDocument(const std::string& dataDir, const FaxDocument& document) {
    if (isStoredName(document.storedName)) std::remove((documentsDir(dataDir) + document.storedName).c_str());
}

int removeUnnamedDocuments(const std::string& dataDir, records::Table& faxTable) {
    std::set<std::string, std::less<>> named;
    try {
        faxTable.flush();
        const int field = faxTable.fieldIndex("RTFDOC");
        if (field < 0) return 0;
        const int offset = faxTable.fieldOffset(field);
        const int width = faxTable.fields()[std::size_t(field)].width;
        for (uint32_t recno = 1; recno <= faxTable.recordCount(); ++recno) {
            if (faxTable.isDeleted(recno)) continue;
            const std::string record = faxTable.readRecord(recno);
            const std::string rtf =
                faxTable.readMemo(std::string_view(record).substr(std::size_t(offset), std::size_t(width)));
            // Every name a group starts with, even of a group that is otherwise malformed.
            for (std::size_t at = rtf.find(kGroupWord); at != std::string::npos; at = rtf.find(kGroupWord, at)) {
                at += kGroupWord.size();
                named.insert(rtf.substr(at, std::min(rtf.find_first_of(" }", at), rtf.size()) - at));
            }
        }
    } catch (const records::EXbError&) {
        return 0;
    }
    int removed = 0;
    std::error_code ec;
    for (auto it = fs::directory_iterator(documentsDir(dataDir), ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!isStoredName(name) || named.count(name)) continue;
        try {
            records::io::removeFile(it->path().string());
            ++removed;
        } catch (const records::EXbError&) {
            // Left for the next time.
        }
    }
    return removed;
}

int convertDocument(const std::string& dataDir, const FaxDocument& document, const std::string& outOvf,
                    std::string& error, const std::atomic<bool>* stop) {
    const std::string named = "The document \"" + document.title + "\"";
    if (!isStoredName(document.storedName)) {
        error = named + " is not stored with this fax.";
        return -1;
    }
    std::string input = documentsDir(dataDir) + document.storedName;
    if (::access(input.c_str(), R_OK) != 0) {
        error = named + " cannot be read: " + std::strerror(errno) + ".";
        return -1;
    }
    const std::string workDir = faximage::makeWorkDir("telvane-document");
    struct WorkDirRemover {
        const std::string& dir;
        ~WorkDirRemover() {
            std::error_code ec;
            if (!dir.empty()) fs::remove_all(dir, ec);
        }
    } remover{workDir};
    if (workDir.empty()) {
        error = named + " could not be converted: no temporary directory could be made.";
        return -1;
    }
    if (isRasterPicture(lowerExtension(input))) {
        const std::string bitmap = workDir + "/picture.bmp";
        if (!pictureToBitmap(input, bitmap)) {
            error = named + " cannot be read: it is not a picture Telvane can open.";
            return -1;
        }
        input = bitmap;
    }
    // telvane-faxconv keeps its own limits; SIGTERM when this program ends lets it remove what it
    // left half done and stop its own children.
    faximage::ChildLimits limits;
    limits.deathSignal = SIGTERM;
    limits.tmpDir = workDir;
    limits.stop = stop;
    const faximage::ChildResult result =
        faximage::runChild({faximage::siblingProgram("telvane-faxconv"), "to-fax", input, outOvf, "--fine"}, limits);
    const int pages = result.started && result.exitedWith(0) ? ovfPageCount(outOvf) : -1;
    if (pages > 0) return pages;
    std::remove(outOvf.c_str());
    if (result.stopped) return -1;
    error = !result.started ? named + " could not be converted: telvane-faxconv could not be run."
                            : named + " cannot be read: it is damaged or not what its name says.";
    return -1;
}

std::string withDocuments(std::string_view rtf, const std::vector<FaxDocument>& documents) {
    std::string out;
    for (std::size_t at = 0;;) {
        const std::size_t group = rtf.find(kGroupWord, at);
        const std::size_t end = group == std::string_view::npos ? group : rtf.find('}', group);
        if (end == std::string_view::npos) {
            out += rtf.substr(at);
            break;
        }
        out += rtf.substr(at, group - at);
        at = end + 1;
    }
    std::string groups;
    for (const FaxDocument& d : documents) {
        if (!isStoredName(d.storedName)) continue;
        groups += std::string(kGroupWord) + d.storedName + " " + std::to_string(d.pages) + " " + hex(d.title) + "}";
    }
    const std::size_t close = out.rfind('}');
    if (close == std::string::npos) return groups.empty() ? out : "{\\rtf1 " + out + groups + "}";
    out.insert(close, groups);
    return out;
}

std::vector<FaxDocument> documentsIn(std::string_view rtf) {
    std::vector<FaxDocument> documents;
    for (std::size_t at = rtf.find(kGroupWord); at != std::string_view::npos; at = rtf.find(kGroupWord, at)) {
        at += kGroupWord.size();
        const std::size_t end = rtf.find('}', at);
        if (end == std::string_view::npos) break;
        const std::string_view body = rtf.substr(at, end - at);
        const std::size_t s1 = body.find(' ');
        const std::size_t s2 = s1 == std::string_view::npos ? s1 : body.find(' ', s1 + 1);
        if (s2 == std::string_view::npos) continue;
        FaxDocument d;
        d.storedName = std::string(body.substr(0, s1));
        const std::string_view pages = body.substr(s1 + 1, s2 - s1 - 1);
        const std::optional<std::string> title = unhex(body.substr(s2 + 1));
        if (!isStoredName(d.storedName) || !title || pages.empty() || pages.size() > 5 ||
            !std::all_of(pages.begin(), pages.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        d.pages = std::stoi(std::string(pages));
        d.title = *title;
        documents.push_back(std::move(d));
    }
    return documents;
}

}  // namespace telvane::render
