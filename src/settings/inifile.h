// An INI file kept as its lines, so that a save writes back everything it read: unknown sections,
// unknown keys, comments and even unreadable lines survive. Section and key names compare without
// case; the first occurrence of a duplicated section or key is the one read and written.
// Values are bytes (no encoding is assumed) and are read as at most 1023 characters.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace telvane::settings {

class IniError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class IniFile {
public:
    static constexpr std::size_t kMaxValueLength = 1023;

    // The largest settings file read. A full one is a few kilobytes, and even every key at its
    // longest value stays far below this; anything larger is not a settings file.
    static constexpr std::size_t kMaxFileSize = 1024 * 1024;

    // Loads a file; a missing file gives an empty one. Never throws and never blocks: a file that
    // is not read (a link, a FIFO or device, a file over kMaxFileSize, an unreadable one) gives an
    // empty one that remembers why, and refuses to be saved so that nothing is overwritten.
    static IniFile load(const std::string& path);
    static IniFile parse(const std::string& text);

    std::optional<std::string> value(const std::string& section, const std::string& key) const;
    std::string readString(const std::string& section, const std::string& key, const std::string& def) const;
    // Decimal, or hexadecimal when the value is longer than two characters and starts with 0x/0X;
    // anything else that is not a whole number yields the default.
    int readInteger(const std::string& section, const std::string& key, int def) const;
    bool readBool(const std::string& section, const std::string& key, bool def) const;

    void writeString(const std::string& section, const std::string& key, const std::string& value);
    void writeInteger(const std::string& section, const std::string& key, int value);
    void writeBool(const std::string& section, const std::string& key, bool value);

    // Why load() did not read the file; empty when it was read or missing.
    const std::string& refusal() const { return refusal_; }
    // Throws IniError with refusal() when load() did not read the file.
    void throwIfRefused() const;

    std::string text() const;
    // Writes the file through a new private temporary in the same directory and a rename (which
    // replaces a link rather than following it), so a failed save leaves the old file whole.
    // Throws IniError naming the file when the system refuses the write or the file was refused.
    void save(const std::string& path) const;

    // Parses an integer by the rules of readInteger; nullopt when it is not a number.
    static std::optional<int> parseInteger(const std::string& text);

private:
    struct Line {
        enum Kind { Section, Entry, Other } kind = Other;
        std::string raw;    // the line as read (without its end), used for Other lines
        std::string name;   // section name or key
        std::string value;  // entry value
    };
    std::vector<Line> lines_;
    std::string eol_ = "\n";
    std::string refusal_;

    // Index of the first header of a section, or npos.
    std::size_t findSection(const std::string& section) const;
    std::size_t findEntry(std::size_t sectionLine, const std::string& key) const;
};

}  // namespace telvane::settings
