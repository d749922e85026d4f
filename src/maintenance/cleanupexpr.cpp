#include "maintenance/cleanupexpr.h"

#include "records/xb_types.h"

namespace telvane::maintenance {

std::string xbTextLiteral(const std::string& bytes) {
    if (bytes.empty()) return "\"\"";
    std::string out;
    size_t i = 0;
    while (i < bytes.size()) {
        // The longest run from i that lacks one of the two delimiters, quoted with that one.
        const size_t dq = bytes.find('"', i);
        const size_t sq = bytes.find('\'', i);
        const size_t dqRun = (dq == std::string::npos ? bytes.size() : dq) - i;
        const size_t sqRun = (sq == std::string::npos ? bytes.size() : sq) - i;
        const bool useDouble = dqRun >= sqRun;
        const size_t run = useDouble ? dqRun : sqRun;
        const char quote = useDouble ? '"' : '\'';
        if (!out.empty()) out += '+';
        out += quote;
        out.append(bytes, i, run);
        out += quote;
        i += run;
    }
    return out;
}

std::string beforeDateExpression(const std::string& dateField, const QDate& date) {
    const std::string mdy = date.toString(QStringLiteral("MM/dd/yyyy")).toStdString();
    return "(" + dateField + "<CTOD(\"" + mdy + "\")) .and. (.not. EMPTY(" + dateField + "))";
}

namespace {
std::string trimBlanks(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    const size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}
}  // namespace

std::string matchValue(const QString& typed) {
    // Upper-cased by the engine's own rule, so the value compares like UPPER() of the stored text.
    return records::upperCp1252(trimBlanks(records::utf8ToCp1252(typed.trimmed().toStdString())));
}

std::string matchExpression(const std::string& field, const QString& typed, bool exact) {
    const std::string value = matchValue(typed);
    if (value.empty()) return {};
    if (exact) return "ALLTRIM(UPPER(" + field + "))==" + xbTextLiteral(value);
    return xbTextLiteral(value) + "$ALLTRIM(UPPER(" + field + "))";
}

}  // namespace telvane::maintenance
