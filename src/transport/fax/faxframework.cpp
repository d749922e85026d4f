// Framework rules (see faxframework.h).
#include "transport/fax/faxframework.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <dirent.h>
#include <set>

namespace telvane::transport {

TFaxClassSet parseFaxClasses(std::string_view reply) {
    TFaxClassSet set = 0;
    auto has = [&](std::string_view w) { return reply.find(w) != std::string_view::npos; };
    if (has("1")) set |= faxClassBit(fcClass1);
    if (has("2.0")) {
        set |= faxClassBit(fcClass2_0);
        if (has("2,")) set |= faxClassBit(fcClass2);
    } else if (has("2")) {
        set |= faxClassBit(fcClass2);
    }
    return set;
}

TFaxClass bestFaxClass(TFaxClassSet set) {
    for (TFaxClass c : {fcClass2_0, fcClass2, fcClass1})
        if (set & faxClassBit(c)) return c;
    return fcUnknown;
}

int64_t secondsToTicks(int64_t seconds) { return seconds * 1675 / 92; }
int64_t ticksToSeconds(int64_t ticks) { return (ticks + 9) * 92 / 1675; }

char bitRateDigit(long bps) {
    switch (bps) {
    case 2400: return '0';
    case 4800: return '1';
    case 7200: return '2';
    case 12000: return '4';
    case 14400: return '5';
    default: return '3';
    }
}

std::string defaultInitString(bool detectBusy, bool blindDial) {
    const char x = detectBusy ? (blindDial ? '3' : '4') : (blindDial ? '1' : '2');
    return std::string("ATE0Q0V1X") + x + "S0=0S2=43";
}

std::string normaliseModemInit(std::string_view s) {
    std::string u(s.substr(0, 40));
    for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!u.empty() && u.find("AT") == std::string::npos) u = "AT" + u;
    return u;
}

std::string normaliseDestinationDir(std::string_view s) {
    std::string d(s);
    if (d.empty()) return d;
    if (d.back() == '"') {
        if (d.size() >= 2 && d[d.size() - 2] != '/') d.insert(d.size() - 1, "/");
    } else if (d.back() != '/') {
        d += '/';
    }
    return d;
}

std::string substituteHeader(std::string_view text, const THeaderValues& v) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '$') {
            out += text[i++];
            continue;
        }
        size_t end = i + 1;
        while (end < text.size() && text[end] != ' ') ++end;
        const char key = i + 1 < end ? static_cast<char>(std::toupper(static_cast<unsigned char>(text[i + 1]))) : 0;
        switch (key) {
        case 'D': out += v.Date; break;
        case 'T': out += v.Time; break;
        case 'I': out += v.StationID; break;
        case 'N': out += std::to_string(v.TotalPages); break;
        case 'P': out += std::to_string(v.Page); break;
        case 'R': out += v.Recipient; break;
        case 'S': out += v.Title; break;
        case 'F': out += v.Sender; break;
        default: break;
        }
        i = end;
    }
    return out;
}

std::string shortDate(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%x", &tm);
    return buf;
}

std::string longTime(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%X", &tm);
    return buf;
}

namespace {
std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::set<std::string> upperNamesIn(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = opendir(dir.empty() ? "." : dir.c_str())) {
        while (dirent* e = readdir(d)) names.insert(upper(e->d_name));
        closedir(d);
    }
    return names;
}
}  // namespace

std::string nextReceiveFileName(const std::string& dir, int mode, const std::string& ext, std::time_t now) {
    const auto existing = upperNamesIn(dir);
    auto freeName = [&](const std::string& name) { return !existing.count(upper(name)); };
    // When the usual names are all taken a numbered NONAME name is used, so that no fax ever
    // replaces another.
    auto noName = [&](const std::string& base) {
        if (freeName(base)) return dir + base;
        const std::size_t dot = base.find('.');
        for (int n = 1; n <= 99999; ++n) {
            const std::string name = base.substr(0, dot) + std::to_string(n) + base.substr(dot);
            if (freeName(name)) return dir + name;
        }
        return std::string();
    };
    if (mode != fnCount && mode != fnMonthDay) return noName("noname.ovf");
    std::string prefix = "FAX";
    if (mode == fnMonthDay) {
        std::tm tm{};
        localtime_r(&now, &tm);
        char buf[32];
        std::snprintf(buf, sizeof buf, "%02d%02d", tm.tm_mon + 1, tm.tm_mday);
        prefix = buf;
    }
    for (int n = 1; n <= 9999; ++n) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%04d", n);
        const std::string name = prefix + digits + "." + ext;
        if (freeName(name)) return dir + name;
    }
    return noName("NONAME.OVF");
}

std::string historyLines(int logCode, const THistoryInfo& i) {
    const std::string crlf = "\r\n";
    switch (logCode) {
    case 1: return "Transmit " + i.File + " to " + i.Phone + " started at " + i.DateTime + crlf;
    case 2: return "Transmit to " + i.remoteID + " finished OK at " + i.DateTime + " " + i.hangupCode + crlf + crlf;
    case 3: return "Transmit failed at " + i.DateTime + crlf + "  (" + i.ErrorText + ") " + i.hangupCode + crlf + crlf;
    case 4: return "Receive " + i.File + " from " + i.remoteID + " started at " + i.DateTime + crlf;
    case 5: return "Receive finished OK at " + i.DateTime + crlf + crlf;
    case 6: return "Receive skipped at " + i.DateTime + crlf + crlf;
    case 7: return "Receive failed at " + i.DateTime + crlf + "  (" + i.ErrorText + ")" + crlf + crlf;
    case 8:
        return "Receive incomplete at " + i.DateTime + ", " + std::to_string(i.Pages) +
               (i.Pages == 1 ? " page kept" : " pages kept") + crlf + "  (" + i.ErrorText + ")" + crlf + crlf;
    default: return {};
    }
}

}  // namespace telvane::transport
