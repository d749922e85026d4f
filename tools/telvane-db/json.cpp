// Flat JSON object parsing and string escaping.
#include "json.h"

#include <cctype>

namespace telvane::dbtool {

namespace {

class Parser {
public:
    explicit Parser(const std::string& s) : s_(s) {}

    std::vector<std::pair<std::string, JsonValue>> object() {
        std::vector<std::pair<std::string, JsonValue>> out;
        skip();
        expect('{');
        skip();
        if (peek() == '}') {
            ++p_;
        } else {
            while (true) {
                skip();
                if (peek() != '"') throw JsonError(p_, "expected a field name in double quotes");
                std::string key = string();
                skip();
                expect(':');
                skip();
                out.emplace_back(std::move(key), value());
                skip();
                if (peek() == ',') {
                    ++p_;
                    continue;
                }
                expect('}');
                break;
            }
        }
        skip();
        if (p_ != s_.size()) throw JsonError(p_, "unexpected text after the object");
        return out;
    }

private:
    char peek() const { return p_ < s_.size() ? s_[p_] : '\0'; }
    void skip() {
        while (p_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[p_]))) ++p_;
    }
    void expect(char c) {
        if (peek() != c) throw JsonError(p_, std::string("expected '") + c + "'");
        ++p_;
    }

    static void utf8(std::string& out, unsigned cp) {
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }

    unsigned hex4() {
        if (p_ + 4 > s_.size()) throw JsonError(p_, "incomplete \\u escape");
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[p_++];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v |= unsigned(c - 'A' + 10);
            else
                throw JsonError(p_ - 1, "bad hex digit in \\u escape");
        }
        return v;
    }

    std::string string() {
        expect('"');
        std::string out;
        while (true) {
            if (p_ >= s_.size()) throw JsonError(p_, "text is not closed");
            const char c = s_[p_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) throw JsonError(p_ - 1, "control character in text");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (p_ >= s_.size()) throw JsonError(p_, "text is not closed");
            const char e = s_[p_++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned cp = hex4();
                if (cp >= 0xD800 && cp < 0xDC00 && p_ + 1 < s_.size() && s_[p_] == '\\' && s_[p_ + 1] == 'u') {
                    p_ += 2;
                    const unsigned lo = hex4();
                    if (lo < 0xDC00 || lo > 0xDFFF) throw JsonError(p_, "bad surrogate pair");
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                }
                utf8(out, cp);
                break;
            }
            default: throw JsonError(p_ - 1, std::string("unknown escape \\") + e);
            }
        }
    }

    JsonValue value() {
        JsonValue v;
        const char c = peek();
        if (c == '"') {
            v.kind = JsonValue::String;
            v.text = string();
        } else if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) {
            const size_t b = p_;
            ++p_;
            while (p_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[p_])) || s_[p_] == '.' ||
                                      s_[p_] == 'e' || s_[p_] == 'E' || s_[p_] == '+' || s_[p_] == '-'))
                ++p_;
            v.kind = JsonValue::Number;
            v.text = s_.substr(b, p_ - b);
        } else if (s_.compare(p_, 4, "true") == 0) {
            v.kind = JsonValue::Bool;
            v.boolean = true;
            p_ += 4;
        } else if (s_.compare(p_, 5, "false") == 0) {
            v.kind = JsonValue::Bool;
            p_ += 5;
        } else if (s_.compare(p_, 4, "null") == 0) {
            p_ += 4;
        } else {
            throw JsonError(p_, "expected a text, number, true, false or null value");
        }
        return v;
    }

    const std::string& s_;
    size_t p_ = 0;
};

}  // namespace

std::vector<std::pair<std::string, JsonValue>> parseFlatObject(const std::string& line) {
    return Parser(line).object();
}

std::string jsonEscape(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

}  // namespace telvane::dbtool
