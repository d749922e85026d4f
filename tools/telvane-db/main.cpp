// telvane-db: command-line access to the program's xBase tables for users and support.
// Commands: info, dump, create, append, delete, pack, reindex, check, recover. Exit status 0
// on success, 1 when a problem was found (bad file, bad input, failed check), 2 on a usage error.
#include "cmdline/arguments.h"
#include "json.h"
#include "records/fax_tables.h"
#include "records/record_set.h"
#include "records/table.h"
#include "records/xb_error.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

using namespace telvane::records;
using telvane::dbtool::JsonError;
using telvane::dbtool::jsonEscape;
using telvane::dbtool::JsonValue;
using telvane::dbtool::parseFlatObject;

namespace {

constexpr int kOk = 0;
constexpr int kProblem = 1;
constexpr int kUsage = 2;

const char* kHelp = R"(Usage: telvane-db COMMAND [ARGUMENTS]

Commands:
  info FILE.DBF        header, fields, record counts, memo file and index tags
  dump FILE.DBF [--json|--csv] [--order TAG] [--all]
                       print the records (with memo text); --order walks a tag,
                       --all includes records marked for deletion
  create DIR           create the four empty tables as the program does
  append FILE.DBF      add records read from standard input, one JSON object per
                       line, e.g. {"SUBJECT": "Hello", "PAGES": 2, "SENT": true}
                       (dates as "2025-01-31"); nothing is added if a line is bad
  delete FILE.DBF RECNO
                       mark a record for deletion
  pack FILE.DBF        remove marked records for good and rebuild the index
  reindex FILE.DBF     build the index anew (for the program's tables: the tags
                       of Rebuild Indexes); marked records stay until a pack
  check FILE.DBF       check that table, memo file and index agree; notes on what
                       an interrupted program left (and the next open settles)
                       do not count as problems
  recover FILE.DBF     add back the whole records that an interrupted append left
                       after the table's end (kept in FILE.DBF.extra, .extra.2, ...)
  --help               this text

Exit status: 0 success, 1 problem found, 2 usage error.
)";

// Warnings of the table engine (index not written, memo dropped): shown, and remembered so
// that a command whose own work failed can say so in its exit status.
int warningCount = 0;

void showWarning(const std::string& message) {
    ++warningCount;
    std::cerr << "telvane-db: warning: " << message << "\n";
}

int usage(const std::string& message) {
    std::cerr << "telvane-db: " << message << "\nTry 'telvane-db --help'.\n";
    return kUsage;
}

std::string typeText(uint8_t v) {
    if (v == 0xF5) return "0xF5 (FoxPro 2.x with memo)";
    if (v == 0x03) return "0x03 (FoxPro 2.x / dBASE III, no memo)";
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", v);
    return buf;
}

std::string isoDate(const Date& d) {
    if (d.isEmpty()) return "";
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
    return buf;
}

std::string rtrim(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}

std::string ltrim(std::string s) {
    const size_t i = s.find_first_not_of(' ');
    return i == std::string::npos ? std::string() : s.substr(i);
}

// Field value as display text (UTF-8); raw is the whole record.
std::string fieldText(const Table& t, size_t i, const std::string& raw) {
    const FieldDef& f = t.fields()[i];
    const std::string v = raw.substr(size_t(t.fieldOffset(int(i))), size_t(f.width));
    switch (f.type) {
    case FieldType::Character: return cp1252ToUtf8(rtrim(v));
    case FieldType::Numeric:
    case FieldType::Float: return ltrim(rtrim(v));
    case FieldType::Logical:
        return v[0] == 'T' || v[0] == 't' || v[0] == 'Y' || v[0] == 'y' ? "T" : (v[0] == ' ' || v[0] == '?' ? "" : "F");
    case FieldType::Date: return isoDate(Date::fromDtos(v));
    case FieldType::Memo: return cp1252ToUtf8(t.readMemo(v));
    }
    return "";
}

// Field text for dump: an unreadable memo is marked in its place (and counted) instead of
// ending the listing.
std::vector<std::string> badFields;

std::string dumpText(const Table& t, size_t i, const std::string& raw, uint32_t recno) {
    try {
        return fieldText(t, i, raw);
    } catch (const EXbError& e) {
        badFields.push_back("record " + std::to_string(recno) + ", field " + t.fields()[i].name + ": " + e.what());
        return "<unreadable memo>";
    }
}

std::string jsonValue(const Table& t, size_t i, const std::string& raw, uint32_t recno) {
    const std::string text = dumpText(t, i, raw, recno);
    switch (t.fields()[i].type) {
    case FieldType::Numeric:
    case FieldType::Float: return text.empty() ? "null" : text;
    case FieldType::Logical: return text.empty() ? "null" : (text == "T" ? "true" : "false");
    case FieldType::Date: return text.empty() ? "null" : jsonEscape(text);
    default: return jsonEscape(text);
    }
}

std::string csvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string lastUpdate(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char h[4] = {};
    in.read(reinterpret_cast<char*>(h), 4);
    const int year = h[1] >= 100 ? 1900 + h[1] : (h[1] < 80 ? 2000 + h[1] : 1900 + h[1]);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, h[2], h[3]);
    return buf;
}

int cmdInfo(const std::string& path) {
    auto t = Table::openForReading(path);
    std::ifstream in(path, std::ios::binary);
    unsigned char h[32] = {};
    in.read(reinterpret_cast<char*>(h), 32);
    uint32_t marked = 0;
    for (uint32_t r = 1; r <= t->recordCount(); ++r) marked += t->isDeleted(r);
    std::cout << "Table: " << path << "\n"
              << "  Type: " << typeText(h[0]) << "\n"
              << "  Last update: " << lastUpdate(path) << "\n"
              << "  Records: " << t->recordCount() << " (" << t->recordCount() - marked << " live, " << marked
              << " marked for deletion)\n"
              << "  Header length: " << (h[8] | h[9] << 8) << ", record length: " << t->recordLength() << "\n"
              << "  Flags: " << int(h[28]) << ((h[28] & 1) ? " (structural index)" : "")
              << ", code page mark: " << int(h[29]) << (h[29] == 3 ? " (Windows-1252)" : "") << "\n"
              << "Fields:\n";
    char line[128];
    std::snprintf(line, sizeof line, "  %-3s %-10s %-4s %5s %3s %6s\n", "#", "Name", "Type", "Width", "Dec", "Offset");
    std::cout << line;
    for (size_t i = 0; i < t->fields().size(); ++i) {
        const FieldDef& f = t->fields()[i];
        std::snprintf(line, sizeof line, "  %-3zu %-10s %-4c %5d %3d %6d\n", i + 1, f.name.c_str(), char(f.type),
                      f.width, f.decimals, t->fieldOffset(int(i)));
        std::cout << line;
    }
    if (t->hasMemo()) std::cout << "Memo file: " << t->fptPath() << "\n";
    if (t->tagCount() == 0) {
        std::cout << "Index: none\n";
    } else {
        std::cout << "Index: " << t->cdxPath() << "\n";
        for (int i = 1; i <= t->tagCount(); ++i) {
            const TagInfo ti = t->tagInfo(i);
            std::cout << "  " << i << " " << ti.name << "  key \"" << ti.keyExpression << "\"";
            if (!ti.forExpression.empty()) std::cout << "  for \"" << ti.forExpression << "\"";
            std::cout << "  " << (ti.descending ? "descending" : "ascending") << "  length " << ti.keyLength
                      << "  keys " << t->tagKeys(i).size() << "\n";
        }
    }
    if (!t->indexNote().empty()) std::cout << "Note: " << t->indexNote() << "\n";
    return kOk;
}

int cmdDump(const std::string& path, const std::string& format, const std::string& order, bool all) {
    auto t = Table::openForReading(path);
    std::vector<uint32_t> recnos;
    if (order.empty()) {
        for (uint32_t r = 1; r <= t->recordCount(); ++r) recnos.push_back(r);
    } else {
        const int tag = t->findTag(order);
        if (!tag) {
            std::cerr << "telvane-db: " << path << " has no tag " << order << "\n";
            return kProblem;
        }
        t->tagKeys(tag).forEach([&](std::string_view, uint32_t r) { recnos.push_back(r); });
        if (t->tagInfo(tag).descending) std::reverse(recnos.begin(), recnos.end());
    }
    const auto& fields = t->fields();
    if (format == "csv") {
        std::cout << "_RECNO,_DELETED";
        for (const auto& f : fields) std::cout << "," << f.name;
        std::cout << "\n";
    }
    for (uint32_t r : recnos) {
        const std::string raw = t->readRecord(r);
        const bool marked = raw[0] == '*';
        if (marked && !all) continue;
        if (format == "json") {
            std::cout << "{\"_recno\": " << r << ", \"_deleted\": " << (marked ? "true" : "false");
            for (size_t i = 0; i < fields.size(); ++i)
                std::cout << ", " << jsonEscape(fields[i].name) << ": " << jsonValue(*t, i, raw, r);
            std::cout << "}\n";
        } else if (format == "csv") {
            std::cout << r << "," << (marked ? "*" : "");
            for (size_t i = 0; i < fields.size(); ++i) std::cout << "," << csvField(dumpText(*t, i, raw, r));
            std::cout << "\n";
        } else {
            std::cout << "#" << r << (marked ? " (marked for deletion)" : "") << "\n";
            for (size_t i = 0; i < fields.size(); ++i)
                std::cout << "  " << fields[i].name << ": " << dumpText(*t, i, raw, r) << "\n";
        }
    }
    if (!badFields.empty()) {
        std::cout.flush();
        for (const auto& b : badFields) std::cerr << "telvane-db: " << b << "\n";
        std::cerr << "telvane-db: " << badFields.size() << " field(s) could not be read\n";
        return kProblem;
    }
    return kOk;
}

int cmdCreate(std::string dir) {
    if (!dir.empty() && dir.back() != '/') dir += '/';
    int failures = 0;
    auto make = [&](bool (*open)(const std::string&, RecordSet&, TXbAccess&), const TableSpec& spec) {
        RecordSet rs;
        TXbAccess xb;
        const bool existed = std::ifstream(dir + spec.fileName).good();
        if (!open(dir, rs, xb)) {
            std::cerr << "telvane-db: cannot create " << dir << spec.fileName
                      << (xb.lastError().empty() ? "" : ": " + xb.lastError()) << "\n";
            ++failures;
            return;
        }
        std::cout << dir << spec.fileName << (existed ? " (already there)" : " created") << "\n";
    };
    make(OpenFaxDBF, faxTableSpec());
    make(OpenRecFaxDBF, recTableSpec());
    make(OpenCoverDBF, coverTableSpec());
    make(OpenPhoneDBF, phoneTableSpec());
    return failures ? kProblem : kOk;
}

void splitPath(const std::string& path, std::string& dir, std::string& name) {
    const auto slash = path.rfind('/');
    dir = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

void setValue(RecordSet& rs, const std::string& name, const JsonValue& v) {
    FieldRef f = rs.fieldByName(name);
    if (f.isCalculated()) throw EXbError("field " + name + " cannot be set");
    switch (v.kind) {
    case JsonValue::Null: f.clear(); return;
    case JsonValue::Bool:
        if (f.type() != FieldType::Logical) throw EXbError("field " + f.name() + " is not logical");
        f.setBoolean(v.boolean);
        return;
    case JsonValue::Number:
        if (f.type() != FieldType::Numeric && f.type() != FieldType::Float)
            throw EXbError("field " + f.name() + " is not numeric");
        f.setString(v.text);
        return;
    case JsonValue::String:
        if (f.type() == FieldType::Date && v.text.size() == 10 && v.text[4] == '-' && v.text[7] == '-') {
            f.setString(v.text.substr(0, 4) + v.text.substr(5, 2) + v.text.substr(8, 2));
        } else if (f.type() == FieldType::Memo) {
            f.setString(utf8ToCp1252(v.text));
        } else {
            f.setString(v.text);
        }
        return;
    }
}

using Row = std::vector<std::pair<std::string, JsonValue>>;

// The JSON lines of standard input; false (each bad line named) when any line is not a flat object.
bool readRows(std::vector<Row>& rows) {
    std::string line;
    int lineNo = 0;
    int bad = 0;
    while (std::getline(std::cin, line)) {
        ++lineNo;
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        try {
            rows.push_back(parseFlatObject(line));
        } catch (const JsonError& e) {
            std::cerr << "telvane-db: line " << lineNo << ", " << e.what() << "\n";
            ++bad;
        }
    }
    return bad == 0;
}

// Every row is tried in the edit buffer first, so that a bad value adds nothing at all.
bool rowsFit(RecordSet& rs, const std::vector<Row>& rows) {
    int bad = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        rs.append();
        try {
            for (const auto& [k, v] : rows[i]) setValue(rs, k, v);
        } catch (const EXbError& e) {
            std::cerr << "telvane-db: record " << i + 1 << ": " << e.what() << "\n";
            ++bad;
        }
        rs.cancel();
    }
    return bad == 0;
}

int cmdAppend(const std::string& path) {
    std::vector<Row> rows;
    std::string dir, name;
    splitPath(path, dir, name);
    RecordSet rs;
    if (readRows(rows)) {
        rs.setDirectory(dir);
        rs.setTableName(name);
        rs.open();
    }
    if (!rs.active() || !rowsFit(rs, rows)) {
        std::cerr << "telvane-db: nothing was added\n";
        return kProblem;
    }
    size_t added = 0;
    try {
        for (const auto& row : rows) {
            rs.append();
            for (const auto& [k, v] : row) setValue(rs, k, v);
            rs.post();
            ++added;
        }
    } catch (const EXbError& e) {
        // The records before this one are stored; saying how many lets the user retry the rest.
        try {
            rs.cancel();
            rs.close();
        } catch (const EXbError&) {}
        std::cerr << "telvane-db: " << e.what() << "\n"
                  << "telvane-db: " << added << " of " << rows.size() << " record(s) added (the first " << added
                  << " lines); the others were not\n";
        return kProblem;
    }
    // The rows are stored once posted; an index that cannot be written is only a warning.
    rs.close();
    std::cout << rows.size() << " record(s) added\n";
    return kOk;
}

int cmdDelete(const std::string& path, const std::string& recnoText) {
    char* end = nullptr;
    const unsigned long recno = std::strtoul(recnoText.c_str(), &end, 10);
    if (recnoText.empty() || *end != '\0' || recno == 0) return usage("RECNO must be a record number from 1 up");
    auto t = Table::open(path);
    if (recno > t->recordCount()) {
        std::cerr << "telvane-db: " << path << " has no record " << recno << " (it holds " << t->recordCount() << ")\n";
        return kProblem;
    }
    t->setDeleted(uint32_t(recno), true);
    t->close();
    std::cout << "record " << recno << " marked for deletion\n";
    return kOk;
}

int cmdPack(const std::string& path) {
    auto t = Table::open(path);
    const uint32_t before = t->recordCount();
    t->pack();
    std::cout << before - t->recordCount() << " record(s) removed, " << t->recordCount() << " left\n";
    t->close();
    return kOk;
}

const TableSpec* specFor(const std::string& name) {
    for (const TableSpec* s : allTableSpecs()) {
        if (upperCp1252(name) == s->fileName) return s;
    }
    return nullptr;
}

// The Rebuild Indexes tags of one of the program's tables, written as one new index file.
void rebuildProgramTags(Table& t, const TableSpec& spec) {
    std::vector<TagInfo> tags;
    for (const auto& tag : spec.rebuild) {
        TagInfo info;
        info.name = tag.name;
        info.keyExpression = tag.keyExpression;
        info.forExpression = tag.forCondition;
        info.descending = tag.descending;
        tags.push_back(info);
    }
    t.replaceTags(tags);
}

int cmdReindex(const std::string& path) {
    std::string dir, name;
    splitPath(path, dir, name);
    auto t = Table::open(path);
    if (const TableSpec* spec = specFor(name))
        rebuildProgramTags(*t, *spec);
    else
        t->reindex();
    if (t->indexPending()) {
        // Writing the index is this command's whole work.
        std::cerr << "telvane-db: " << t->cdxPath() << " was not written; the table is unchanged\n";
        return kProblem;
    }
    std::cout << t->tagCount() << " tag(s) built in " << t->cdxPath() << "\n";
    t->close();
    return kOk;
}

int cmdCheck(const std::string& path) {
    std::vector<std::string> notes;
    const auto problems = Table::check(path, &notes);
    if (problems.empty()) {
        std::cout << path << ": table, memo file and index agree\n";
    } else {
        std::cout << path << ": " << problems.size() << " problem(s)\n";
        for (const auto& p : problems) std::cout << "  " << p << "\n";
    }
    for (const auto& n : notes) std::cout << "  note: " << n << "\n";
    return problems.empty() ? kOk : kProblem;
}

int cmdRecover(const std::string& path) {
    auto t = Table::open(path);
    const auto copies = Table::extraFiles(path);
    if (copies.empty()) std::cout << path << ": no records were cut off; nothing to recover\n";
    for (const auto& copy : copies) {
        const uint32_t added = t->recoverExtra(copy);
        std::cout << added << " record(s) recovered from " << copy << " (now removed)\n";
    }
    t->close();
    return kOk;
}

// dump FILE.DBF [--json|--csv] [--order TAG] [--all]
int runDump(const std::vector<std::string>& args) {
    std::string file, format = "text", order;
    bool all = false;
    bool secondFile = false;
    telvane::cmdline::Parser p;
    p.flag("--json", [&] { format = "json"; })
        .flag("--csv", [&] { format = "csv"; })
        .flag("--all", all)
        .text("--order", order, "a tag name")
        .operands([&](const std::string& a) {
            secondFile = !file.empty();
            if (!secondFile) file = a;
            return !secondFile;
        });
    const telvane::cmdline::ParseResult r = p.parse(std::vector<std::string>(args.begin() + 1, args.end()));
    if (r.status == telvane::cmdline::Status::missingValue) return usage(r.argument + " needs " + r.needs);
    if (r.status == telvane::cmdline::Status::unknownOption) return usage("unknown option " + r.argument);
    if (r.status == telvane::cmdline::Status::unexpectedOperand) return usage("dump takes one file");
    if (file.empty()) return usage("dump needs a file");
    return cmdDump(file, format, order, all);
}

// A command of one FILE argument.
telvane::cmdline::Command onFile(const std::string& name, int (*command)(const std::string&)) {
    return {name, [name, command](const std::vector<std::string>& args) {
                if (args.size() != 2) return usage(name + " takes exactly one argument");
                return command(args[1]);
            }};
}

const std::vector<telvane::cmdline::Command>& commands() {
    static const std::vector<telvane::cmdline::Command> all = {
        onFile("info", cmdInfo),
        onFile("pack", cmdPack),
        onFile("reindex", cmdReindex),
        onFile("check", cmdCheck),
        onFile("append", cmdAppend),
        onFile("create", [](const std::string& dir) { return cmdCreate(dir); }),
        onFile("recover", cmdRecover),
        {"delete",
         [](const std::vector<std::string>& args) {
             if (args.size() != 3) return usage("delete takes FILE.DBF and RECNO");
             return cmdDelete(args[1], args[2]);
         }},
        {"dump", runDump},
    };
    return all;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usage("no command given");
    const std::string cmd = args[0];
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        std::cout << kHelp;
        return kOk;
    }
    // A file-size limit makes writes fail with an error the engine reports, instead of killing.
    std::signal(SIGXFSZ, SIG_IGN);
    Table::setWarningHandler(showWarning);
    try {
        if (const telvane::cmdline::Command* c = telvane::cmdline::findCommand(commands(), cmd)) return c->run(args);
        return usage("unknown command " + cmd);
    } catch (const std::exception& e) {
        std::cerr << "telvane-db: " << e.what() << "\n";
        return kProblem;
    }
}
