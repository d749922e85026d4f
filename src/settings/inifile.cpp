// INI reading and writing with the Windows profile rules the settings rely on.
#include "settings/inifile.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace telvane::settings {
namespace {

constexpr std::size_t npos = std::string::npos;

// Stray carriage returns count as blanks, so that no name or value ends in one and the file
// reads back as it was written.
std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == npos) return {};
    const auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool equalNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (std::tolower(x) != std::tolower(y)) return false;
    }
    return true;
}

}  // namespace

IniFile IniFile::load(const std::string& path) {
    IniFile refused;
    const auto refuse = [&](const std::string& why) {
        refused.refusal_ = "The settings file " + path + " " + why;
        return refused;
    };
    // No link is followed and a FIFO does not block the open; what it is decides the rest.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return {};
        if (errno == ELOOP) return refuse("is a symbolic link; it is not read. Put the file itself there.");
        return refuse(std::string("cannot be read: ") + std::strerror(errno) + ".");
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return refuse("is not a regular file; it is not read. Put the file itself there.");
    }
    // The bound holds for a file that grows while it is read too.
    std::string data;
    char buf[65536];
    while (true) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            return refuse(std::string("cannot be read: ") + std::strerror(err) + ".");
        }
        if (n == 0) break;
        if (data.size() + static_cast<std::size_t>(n) > kMaxFileSize) {
            ::close(fd);
            return refuse("is larger than " + std::to_string(kMaxFileSize / 1024) +
                          " KiB; it is not a settings file and is not read.");
        }
        data.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return parse(data);
}

void IniFile::throwIfRefused() const {
    if (!refusal_.empty()) throw IniError(refusal_);
}

IniFile IniFile::parse(const std::string& text) {
    IniFile ini;
    if (text.find("\r\n") != npos) ini.eol_ = "\r\n";
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == npos) end = text.size();
        std::string raw = text.substr(pos, end - pos);
        while (!raw.empty() && raw.back() == '\r') raw.pop_back();
        pos = end + 1;

        Line line;
        line.raw = raw;
        const std::string t = trim(raw);
        if (!t.empty() && t.front() == '[') {
            const auto close = t.find(']');
            if (close != npos) {
                line.kind = Line::Section;
                line.name = trim(t.substr(1, close - 1));
            }
        } else if (!t.empty() && t.front() != ';') {
            const auto eq = t.find('=');
            if (eq != npos && eq > 0) {
                line.kind = Line::Entry;
                line.name = trim(t.substr(0, eq));
                line.value = trim(t.substr(eq + 1));
            }
        }
        ini.lines_.push_back(std::move(line));
    }
    return ini;
}

std::size_t IniFile::findSection(const std::string& section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (lines_[i].kind == Line::Section && equalNoCase(lines_[i].name, section)) return i;
    return npos;
}

std::size_t IniFile::findEntry(std::size_t sectionLine, const std::string& key) const {
    for (std::size_t i = sectionLine + 1; i < lines_.size() && lines_[i].kind != Line::Section; ++i)
        if (lines_[i].kind == Line::Entry && equalNoCase(lines_[i].name, key)) return i;
    return npos;
}

std::optional<std::string> IniFile::value(const std::string& section, const std::string& key) const {
    const auto s = findSection(section);
    if (s == npos) return std::nullopt;
    const auto e = findEntry(s, key);
    if (e == npos) return std::nullopt;
    std::string v = lines_[e].value;
    if (v.size() >= 2 && ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\'')))
        v = v.substr(1, v.size() - 2);
    if (v.size() > kMaxValueLength) v.resize(kMaxValueLength);
    return v;
}

std::string IniFile::readString(const std::string& section, const std::string& key, const std::string& def) const {
    return value(section, key).value_or(def);
}

std::optional<int> IniFile::parseInteger(const std::string& text) {
    const std::string t = trim(text);
    if (t.empty()) return std::nullopt;
    long long v = 0;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        for (std::size_t i = 2; i < t.size(); ++i) {
            const char c = t[i];
            int d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else
                return std::nullopt;
            v = v * 16 + d;
            if (v > 0xFFFFFFFFLL) return std::nullopt;
        }
        return static_cast<int>(static_cast<unsigned int>(v));
    }
    std::size_t i = 0;
    bool negative = false;
    if (t[0] == '-' || t[0] == '+') {
        negative = t[0] == '-';
        i = 1;
    }
    if (i == t.size()) return std::nullopt;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9') return std::nullopt;
        v = v * 10 + (t[i] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) return std::nullopt;
    }
    v = negative ? -v : v;
    if (v > INT_MAX || v < INT_MIN) return std::nullopt;
    return static_cast<int>(v);
}

int IniFile::readInteger(const std::string& section, const std::string& key, int def) const {
    const auto v = value(section, key);
    if (!v) return def;
    return parseInteger(*v).value_or(def);
}

bool IniFile::readBool(const std::string& section, const std::string& key, bool def) const {
    return readInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::writeString(const std::string& section, const std::string& key, const std::string& value) {
    std::string v = value;
    for (char& c : v)
        if (c == '\r' || c == '\n') c = ' ';
    auto s = findSection(section);
    if (s == npos) {
        if (!lines_.empty() && !trim(lines_.back().raw).empty()) lines_.push_back(Line{});
        Line header;
        header.kind = Line::Section;
        header.name = section;
        lines_.push_back(header);
        s = lines_.size() - 1;
    }
    const auto e = findEntry(s, key);
    if (e != npos) {
        lines_[e].value = v;
        return;
    }
    // Insert after the section's last entry, before any blank lines that separate it from the next one.
    std::size_t at = s + 1;
    for (std::size_t i = s + 1; i < lines_.size() && lines_[i].kind != Line::Section; ++i)
        if (!trim(lines_[i].raw).empty() || lines_[i].kind == Line::Entry) at = i + 1;
    Line entry;
    entry.kind = Line::Entry;
    entry.name = key;
    entry.value = v;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), entry);
}

void IniFile::writeInteger(const std::string& section, const std::string& key, int value) {
    writeString(section, key, std::to_string(value));
}

void IniFile::writeBool(const std::string& section, const std::string& key, bool value) {
    writeString(section, key, value ? "1" : "0");
}

std::string IniFile::text() const {
    std::string out;
    for (const auto& l : lines_) {
        switch (l.kind) {
        case Line::Section: out += "[" + l.name + "]"; break;
        case Line::Entry: out += l.name + "=" + l.value; break;
        case Line::Other: out += l.raw; break;
        }
        out += eol_;
    }
    return out;
}

void IniFile::save(const std::string& path) const {
    throwIfRefused();
    std::string tmp = path + ".XXXXXX";
    const std::string data = text();
    auto fail = [&](int err) {
        ::unlink(tmp.c_str());
        throw IniError("Cannot write the settings file " + path + ": " + std::strerror(err));
    };
    // A new file of a fresh name (O_EXCL, 0600): nothing planted under the name is opened.
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) throw IniError("Cannot write the settings file " + path + ": " + std::strerror(errno));
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            fail(err);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        fail(err);
    }
    if (::close(fd) != 0) fail(errno);
    if (::rename(tmp.c_str(), path.c_str()) != 0) fail(errno);
}

}  // namespace telvane::settings
