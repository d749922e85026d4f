// Crash points and power cuts, operation by operation: an append with a memo, a delete that
// empties a leaf, an append that splits leaves and an interior node, a bulk deletion, a pack, a
// reindex, the one-write replacement of every tag, and an edit of a field no key uses.
// Kill: each operation runs again and again in a child process that ends itself (_exit) just
// before its N-th change to a file (creation, write, truncation, sync, rename, removal,
// directory sync), for N = 1, 2, ... until the operation completes. After each stop the files
// are read as they are, without repairing anything: every record committed before is there
// once, the operation's own change is there whole or not at all, and an index the engine would
// trust as it is agrees with the records. Then the engine's check may find only index problems,
// and after the repairing open and close the check finds nothing and the index is trusted.
// Where a kill leaves something to repair, the repairing open is killed before each of its own
// changes in turn and the same holds after it.
// Power cut: every change of each operation is recorded; the states a power cut can leave are
// built from the files as last synced plus any one of the writes made since (or all but one of
// them), just before each sync and after the operation; each must open to the records
// committed, each once, with the index agreeing. A stamp in such a state is taken as matching
// the table whenever counts agree, as on a file system whose times did not move.
#include "records/cdx_file.h"
#include "records/file_io.h"
#include "records/table.h"
#include "records/xb_error.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace telvane::records {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

// --- the log and what the test expects of it --------------------------------------------------

const std::vector<FieldDef> kFields{{"ID", FieldType::Numeric, 8, 0},        {"DATEREC", FieldType::Date, 8, 0},
                                    {"TIMEREC", FieldType::Character, 5, 0}, {"FROM", FieldType::Character, 20, 0},
                                    {"PAGES", FieldType::Numeric, 2, 0},     {"NOTE", FieldType::Memo, 10, 0}};
constexpr size_t kRecordLength = 1 + 8 + 8 + 5 + 20 + 2 + 10;
const char* const kTable = "LOG.DBF";

struct Rec {
    std::string date, time, from, memo;
    int pages = 0;
    bool deleted = false;
    bool operator==(const Rec&) const = default;
};
using Model = std::map<int, Rec>;  // by ID

// A tag as the test computes it from the records, independently of the engine.
struct TagDef {
    const char* name;
    const char* key;
    bool descending;
    bool notDeleted;
    std::function<std::string(const Rec&)> keyOf;
};

std::string upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string padded(std::string s, size_t n) {
    s.resize(n, ' ');
    return s;
}

const std::vector<TagDef>& logTags() {
    static const std::vector<TagDef> tags{
        {"DATETIME", "DTOS(DATEREC)+TIMEREC", true, true,
         [](const Rec& r) { return padded(r.date, 8) + padded(r.time, 5); }},
        {"DATEND", "DTOS(DATEREC)+TIMEREC", false, true,
         [](const Rec& r) { return padded(r.date, 8) + padded(r.time, 5); }},
        {"FROM", "UPPER(FROM)", true, true, [](const Rec& r) { return upper(padded(r.from, 20)); }}};
    return tags;
}

// The set that replaceTags puts in place of logTags.
const std::vector<TagDef>& newTags() {
    static const std::vector<TagDef> tags{
        logTags()[0], logTags()[2], {"FROMDAY", "UPPER(FROM)+DTOS(DATEREC)", false, false, [](const Rec& r) {
                                         return upper(padded(r.from, 20)) + padded(r.date, 8);
                                     }}};
    return tags;
}

std::string memoOf(int id) {
    return id % 10 == 0 ? "{\\rtf1 fax " + std::to_string(id) + std::string(size_t(id % 300), 'x') + "}" : "";
}

Rec recOf(int id, std::mt19937& rng) {
    Rec r;
    char buf[16];
    std::snprintf(buf, sizeof buf, "2%03u%02u%02u", unsigned(20 + rng() % 5), unsigned(1 + rng() % 12),
                  unsigned(1 + rng() % 28));
    r.date = buf;
    std::snprintf(buf, sizeof buf, "%02u:%02u", unsigned(rng() % 24), unsigned(rng() % 60));
    r.time = buf;
    static const char* names[] = {"Acme Ltd", "bravo", "Charlie Fax", "delta", "ECHO 5", "", "Foxtrot"};
    r.from = std::string(names[rng() % 7]) + " " + std::to_string(rng() % 50);
    r.pages = int(rng() % 20);
    r.memo = memoOf(id);
    return r;
}

std::string rawRecord(Table& t, int id, const Rec& r) {
    char idText[16];
    std::snprintf(idText, sizeof idText, "%8d", id);
    char pages[8];
    std::snprintf(pages, sizeof pages, "%2d", r.pages);
    return std::string(r.deleted ? "*" : " ") + idText + padded(r.date, 8) + padded(r.time, 5) + padded(r.from, 20) +
           pages + t.writeMemo(r.memo);
}

std::string rtrim(std::string s) {
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

// The records as read without changing any file; error names what is wrong with them.
struct Seen {
    Model model;
    std::vector<std::pair<uint32_t, Rec>> rows;  // by record number
    std::string error;
};

Seen readRecords(Table& t) {
    Seen s;
    for (uint32_t r = 1; r <= t.recordCount(); ++r) {
        const std::string raw = t.readRecord(r);
        Rec rec;
        rec.deleted = raw[0] == '*';
        const int id = std::atoi(raw.substr(1, 8).c_str());
        rec.date = rtrim(raw.substr(9, 8));
        rec.time = rtrim(raw.substr(17, 5));
        rec.from = rtrim(raw.substr(22, 20));
        rec.pages = std::atoi(raw.substr(42, 2).c_str());
        try {
            rec.memo = t.readMemo(raw.substr(44, 10));
        } catch (const EXbError& e) {
            s.error += "record " + std::to_string(r) + ": " + e.what() + "\n";
        }
        if (!s.model.emplace(id, rec).second) s.error += "record " + std::to_string(id) + " appears twice\n";
        s.rows.emplace_back(r, rec);
    }
    return s;
}

CdxEntries expectedKeys(const Seen& s, const TagDef& tag) {
    CdxEntries out;
    for (const auto& [r, rec] : s.rows) {
        if (tag.notDeleted && rec.deleted) continue;
        out.emplace_back(tag.keyOf(rec), r);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Differences between the tags the table holds and those computed here ("" when they agree);
// the table must hold exactly one of the given sets of tags.
std::string compareTags(const Table& t, const Seen& s, const std::vector<const std::vector<TagDef>*>& sets) {
    for (const auto* set : sets) {
        if (int(set->size()) != t.tagCount()) continue;
        std::string out;
        for (const TagDef& d : *set) {
            const int n = t.findTag(d.name);
            if (!n) {
                out += std::string("no tag ") + d.name + "\n";
                continue;
            }
            CdxEntries got;
            t.tagKeys(n).forEach([&](std::string_view k, uint32_t r) { got.emplace_back(std::string(k), r); });
            if (got != expectedKeys(s, d))
                out += std::string("tag ") + d.name + ": " + std::to_string(got.size()) + " keys, the records give " +
                       std::to_string(expectedKeys(s, d).size()) + "\n";
        }
        if (out.empty()) return "";
        if (set == sets.back()) return out;
    }
    return "the table holds " + std::to_string(t.tagCount()) + " tags, none of the expected sets\n";
}

// What the engine would take as it is: a stamp describing the table file, no undo file. While a
// committed pack is pending, the table is its new file.
bool indexTrustedAsItIs(std::string dbf, const std::string& cdx) {
    if (!test::exists(cdx) || test::exists(CdxUpdater::undoPath(cdx))) return false;
    if (test::exists(dbf + ".pack") && test::exists(dbf + ".new")) dbf += ".new";
    CdxStamp stored;
    if (!CdxReader(cdx).stamp(stored)) return false;
    const std::string head = readFile(dbf).substr(0, 12);
    struct stat st {};
    ::stat(dbf.c_str(), &st);
    const auto* h = reinterpret_cast<const unsigned char*>(head.data());
    CdxStamp now{io::le32(h + 4), io::le16(h + 8), io::le16(h + 10),
                 uint64_t(st.st_ctim.tv_sec) * 1000000000ull + uint64_t(st.st_ctim.tv_nsec), 0};
    return stampDescribes(stored, now);
}

std::string join(const std::vector<std::string>& v) {
    std::string out;
    for (const auto& s : v) out += s + "\n";
    return out;
}

// --- operations --------------------------------------------------------------------------------

enum class Stage { Killed, PowerCut, Completed };

struct Operation {
    Operation(std::string n, std::function<void(const std::string&)> base, std::function<void(Table&)> r,
              std::function<bool(const Model&, Stage)> a)
        : name(std::move(n)), makeBase(std::move(base)), run(std::move(r)), accept(std::move(a)) {}
    std::string name;
    std::function<void(const std::string& dir)> makeBase;  // files of the table before it
    std::function<void(Table&)> run;
    // Whether the records seen may be there: after a kill or a power cut in the middle of the
    // operation, or after it completed.
    std::function<bool(const Model& seen, Stage stage)> accept;
    std::vector<const std::vector<TagDef>*> tagSets{&logTags()};
    // What the completed operation must have done to the DATEND tree: the nodes per level
    // before and after (empty: no condition).
    std::function<bool(const std::vector<size_t>& before, const std::vector<size_t>& after)> shape;
};

// A log of n records with the three tags of the incoming log, written whole.
Model makeLog(const std::string& dir, int n, unsigned seed) {
    Table::create(dir + kTable, kFields);
    auto t = Table::open(dir + kTable);
    std::mt19937 rng(seed);
    Model m;
    for (int id = 1; id <= n; ++id) {
        m[id] = recOf(id, rng);
        t->appendRecord(rawRecord(*t, id, m[id]));
    }
    for (const TagDef& d : logTags()) t->addTag(d.name, d.key, d.notDeleted ? ".not. deleted()" : "", d.descending);
    t->close();
    return m;
}

uint32_t recnoOf(Table& t, int id) {
    for (uint32_t r = 1; r <= t.recordCount(); ++r) {
        if (std::atoi(t.readRecord(r).substr(1, 8).c_str()) == id) return r;
    }
    throw EXbError("no record with ID " + std::to_string(id));
}

// Nodes per level of a tag's tree, from the root down.
std::vector<size_t> levelSizes(const std::string& cdx, const std::string& tagName) {
    std::vector<size_t> out;
    const CdxReader reader(cdx);
    for (const auto& h : reader.tags()) {
        if (h.name != tagName) continue;
        for (const auto& level : test::levelsOf(readFile(cdx), h)) out.push_back(level.size());
    }
    return out;
}

// Keys in the last leaf of a tag, read from the index file.
int keysInLastLeaf(const std::string& cdx, const std::string& tagName) {
    const std::string bytes = readFile(cdx);
    const CdxReader reader(cdx);
    for (const auto& h : reader.tags()) {
        if (h.name == tagName)
            return io::le16(reinterpret_cast<const unsigned char*>(bytes.data()) +
                            test::levelsOf(bytes, h).back().back() + 2);
    }
    return -1;
}

constexpr int kRecords = 200;      // most operations' log
constexpr int kBigRecords = 1500;  // a full interior node above the date tags' first leaves

struct Bases {
    Model log;                  // kRecords records
    Model big;                  // kBigRecords records
    Model lone;                 // the log plus appends until the last date leaf holds one key
    int loneId = 0;             // the record alone in that leaf
    Model marked;               // the log with every 9th record marked
    std::vector<int> bulkPlan;  // records of three years, in record order
};

Bases& bases() {
    static Bases b = [] {
        Bases out;
        TempDir d, b;
        out.log = makeLog(d.path(), kRecords, 7);
        out.big = makeLog(b.path(), kBigRecords, 7);
        // One fax a session, each newer than all: the last leaf of the date tags fills and
        // splits, and the fax that splits it is alone in the new leaf.
        TempDir l;
        out.lone = makeLog(l.path(), kRecords, 7);
        std::mt19937 rng(99);
        for (int id = 1001; id < 1400; ++id) {
            auto t = Table::open(l.file(kTable));
            Rec r = recOf(id, rng);
            char day[16];
            std::snprintf(day, sizeof day, "2030%02d%02d", 1 + (id - 1001) / 28 % 12, 1 + (id - 1001) % 28);
            r.date = day;
            out.lone[id] = r;
            t->appendRecord(rawRecord(*t, id, r));
            t->close();
            if (keysInLastLeaf(l.file("LOG.CDX"), "DATEND") == 1) {
                out.loneId = id;
                break;
            }
        }
        out.marked = out.log;
        for (auto& [id, r] : out.marked) r.deleted = id % 9 == 0;
        for (const auto& [id, r] : out.log) {
            if (r.date >= "2021" && r.date < "2024") out.bulkPlan.push_back(id);
        }
        return out;
    }();
    return b;
}

void makeLoneBase(const std::string& dir) {
    makeLog(dir, kRecords, 7);
    for (int id = 1001; id <= bases().loneId; ++id) {
        auto t = Table::open(dir + kTable);
        t->appendRecord(rawRecord(*t, id, bases().lone.at(id)));
    }
}

void makeMarkedBase(const std::string& dir) {
    makeLog(dir, kRecords, 7);
    auto t = Table::open(dir + kTable);
    for (int id = 9; id <= kRecords; id += 9) t->setDeleted(recnoOf(*t, id), true);
}

Model withRecord(Model m, int id, Rec r) {
    m[id] = std::move(r);
    return m;
}

Rec newFax(const std::string& date) {
    std::mt19937 rng(5);
    Rec r = recOf(2000, rng);
    r.date = date;
    return r;
}

std::vector<Operation> operations() {
    std::vector<Operation> ops;
    const Model& log = bases().log;
    const auto beforeOrAfter = [](Model before, Model after) {
        return [before, after](const Model& seen, Stage stage) {
            return seen == after || (stage != Stage::Completed && seen == before);
        };
    };
    const auto logBase = [](const std::string& dir) { makeLog(dir, kRecords, 7); };
    {
        const Rec r = newFax("20250601");
        ops.emplace_back(
            "append with a memo", logBase, [r](Table& t) { t.appendRecord(rawRecord(t, 2000, r)); },
            beforeOrAfter(log, withRecord(log, 2000, r)));
    }
    {
        // The earliest day: the first leaf of the date tags and the full interior node above it.
        const Rec r = newFax("20191231");
        const Model& big = bases().big;
        Operation op{
            "append that splits a leaf and its parent", [](const std::string& dir) { makeLog(dir, kBigRecords, 7); },
            [r](Table& t) { t.appendRecord(rawRecord(t, 2000, r)); }, beforeOrAfter(big, withRecord(big, 2000, r))};
        op.shape = [](const std::vector<size_t>& before, const std::vector<size_t>& after) {
            return before.size() == 3 && after.size() == 3 && after[1] == before[1] + 1 && after[2] == before[2] + 1;
        };
        ops.push_back(op);
    }
    {
        const int id = bases().loneId;
        Model after = bases().lone;
        after[id].deleted = true;
        Operation op{"delete that empties a leaf", makeLoneBase, [id](Table& t) { t.setDeleted(recnoOf(t, id), true); },
                     beforeOrAfter(bases().lone, after)};
        op.shape = [](const std::vector<size_t>& before, const std::vector<size_t>& after) {
            return !before.empty() && after.size() == before.size() && after.back() + 1 == before.back();
        };
        ops.push_back(op);
    }
    {
        const std::vector<int> plan = bases().bulkPlan;
        Operation op{"bulk deletion of three years", logBase,
                     [plan](Table& t) {
                         for (int id : plan) t.setDeleted(recnoOf(t, id), true);
                     },
                     [log, plan](const Model& seen, Stage stage) {
                         // The marks come in order: some first ones are set (all once completed);
                         // a power cut can keep any of those not yet synced.
                         Model m = log;
                         if (stage == Stage::PowerCut) {
                             for (int id : plan) m[id].deleted = seen.count(id) && seen.at(id).deleted;
                             return seen == m;
                         }
                         for (size_t k = 0;; ++k) {
                             if (seen == m && (stage == Stage::Killed || k == plan.size())) return true;
                             if (k == plan.size()) return false;
                             m[plan[k]].deleted = true;
                         }
                     }};
        op.shape = [](const std::vector<size_t>& before, const std::vector<size_t>& after) {
            return !before.empty() && after.size() == before.size() && after.back() < before.back();
        };
        ops.push_back(op);
    }
    {
        Model after = bases().marked;
        for (auto it = after.begin(); it != after.end();) it = it->second.deleted ? after.erase(it) : std::next(it);
        ops.emplace_back(
            "pack", makeMarkedBase, [](Table& t) { t.pack(); }, beforeOrAfter(bases().marked, after));
    }
    ops.emplace_back(
        "reindex", logBase, [](Table& t) { t.reindex(); }, beforeOrAfter(log, log));
    {
        Operation op{"replacement of every tag", logBase,
                     [](Table& t) {
                         std::vector<TagInfo> tags;
                         for (const TagDef& d : newTags()) {
                             TagInfo i;
                             i.name = d.name;
                             i.keyExpression = d.key;
                             i.forExpression = d.notDeleted ? ".not. deleted()" : "";
                             i.descending = d.descending;
                             tags.push_back(i);
                         }
                         t.replaceTags(tags);
                     },
                     beforeOrAfter(log, log)};
        op.tagSets = {&logTags(), &newTags()};
        ops.push_back(op);
    }
    {
        Model after = log;
        after[150].pages = 99;
        ops.emplace_back(
            "edit of a field no key uses", logBase,
            [](Table& t) {
                std::string raw = t.readRecord(recnoOf(t, 150));
                raw.replace(42, 2, "99");
                t.writeRecord(recnoOf(t, 150), raw);
            },
            beforeOrAfter(log, after));
    }
    return ops;
}

// Checks a table left by an interrupted (or completed) operation: first as it is, then through
// the engine's check, the repairing open and the check again. Returns what is wrong. After a
// power cut the check may also find a record count ahead of the file (the open corrects it).
std::string verifyLeftState(const std::string& dir, const Operation& op, Stage stage) {
    const bool powerCut = stage == Stage::PowerCut;
    std::ostringstream bad;
    const std::string dbf = dir + kTable;
    const std::string cdx = dir + "LOG.CDX";
    try {
        // As it is, changing nothing.
        {
            const bool trusted = indexTrustedAsItIs(dbf, cdx);
            if (stage == Stage::Completed && !trusted) bad << "the completed operation left its index unstamped\n";
            auto t = Table::openForReading(dbf);
            const Seen s = readRecords(*t);
            bad << s.error;
            if (!op.accept(s.model, stage)) bad << "the records read as they are are not those committed\n";
            if (trusted) {
                CdxReader reader(cdx);
                for (const auto& h : reader.tags()) bad << join(reader.verify(h, ' ', t->recordCount()));
                if (t->indexNote() != "") bad << "a stamped index was not read as it is: " << t->indexNote() << "\n";
            }
            bad << compareTags(*t, s, op.tagSets);
            // A change of the index in place is all or nothing: the trees as the next open
            // reads them (an interrupted change undone) are whole, old or new.
            if (test::exists(cdx)) {
                std::string bytes = CdxReader::load(cdx);
                CdxUpdater::undoInMemory(cdx, bytes);
                CdxReader reader(cdx, bytes);
                for (const auto& h : reader.tags()) bad << join(reader.verify(h, ' '));
            }
        }
        // The engine's check: nothing but index problems, which the open repairs.
        for (const std::string& p : Table::check(dbf)) {
            const bool shortCount = powerCut && p.find("did not reach the disk") != std::string::npos;
            if (p.find("LOG.CDX") == std::string::npos && !shortCount) bad << "check: " << p << "\n";
        }
        {
            auto t = Table::open(dbf);
            const Seen s = readRecords(*t);
            bad << s.error;
            if (!op.accept(s.model, stage)) bad << "the records after the repairing open are not those committed\n";
            bad << compareTags(*t, s, op.tagSets);
            t->close();
        }
        const auto problems = Table::check(dbf);
        if (!problems.empty()) bad << "check after the repair:\n" << join(problems);
        if (!indexTrustedAsItIs(dbf, cdx)) bad << "the repaired index is not stamped for the table\n";
    } catch (const std::exception& e) {
        bad << "threw: " << e.what() << "\n";
    }
    return bad.str();
}

// --- kill before each change ---------------------------------------------------------------

int gStopAt = 0;
int gChanges = 0;
int gReport = -1;

const char* kindName(io::Change c) {
    switch (c) {
    case io::Change::Create: return "create";
    case io::Change::Write: return "write";
    case io::Change::Truncate: return "truncate";
    case io::Change::Sync: return "sync";
    case io::Change::Rename: return "rename";
    case io::Change::Remove: return "remove";
    case io::Change::SyncDirectory: return "dirsync";
    }
    return "?";
}

void stopBeforeChange(const io::ChangeInfo& c) {
    if (++gChanges != gStopAt) return;
    const std::string what = std::string(kindName(c.kind)) + " " + io::baseName(c.path) + "\n";
    if (::write(gReport, what.data(), what.size()) < 0) _exit(4);
    _exit(42);
}

void clearDir(const std::string& dir) {
    for (const auto& e : std::filesystem::directory_iterator(dir)) std::filesystem::remove_all(e.path());
}

std::map<std::string, std::string> snapshot(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        files[e.path().filename().string()] = readFile(e.path().string());
    return files;
}

// Writes a state into dir (the base files before each run, or what a stop left); a stamp whose
// counts match the table is made to match its time too, as a stamp written for it would.
void putState(const std::string& dir, const std::map<std::string, std::string>& files) {
    clearDir(dir);
    for (const auto& [name, bytes] : files) writeFile(dir + name, bytes);
    const std::string cdx = dir + "LOG.CDX", dbf = dir + kTable;
    if (!test::exists(cdx) || !test::exists(dbf)) return;
    CdxStamp stamp;
    try {
        if (!CdxReader(cdx).stamp(stamp)) return;
    } catch (const EXbError&) {
        return;
    }
    const std::string head = readFile(dbf);
    const auto* h = reinterpret_cast<const unsigned char*>(head.data());
    if (head.size() < 12 || stamp.records != io::le32(h + 4) || stamp.headerLength != io::le16(h + 8) ||
        stamp.recordLength != io::le16(h + 10))
        return;
    struct stat st {};
    ::stat(dbf.c_str(), &st);
    stamp.tableChanged = uint64_t(st.st_ctim.tv_sec) * 1000000000ull + uint64_t(st.st_ctim.tv_nsec);
    stamp.stampedAt = st.st_ctim.tv_sec + 100;
    io::File f;
    f.open(cdx, false);
    CdxUpdater::markClean(f, stamp);
}

// Runs work in a child process that stops itself (_exit) just before its n-th change to a file.
// Returns the child's exit status: 0 when work completed, 42 when it was stopped (report: the
// change it stopped before), 3 when it threw (report: why); -1 when it did not exit.
int runStoppedAt(int n, const std::function<void()>& work, std::string& report) {
    const test::Child child = test::forkChild([&](int fd) {
        gStopAt = n;
        gReport = fd;
        io::setChangeObserver(stopBeforeChange);
        try {
            work();
        } catch (const std::exception& e) {
            const std::string what = std::string("threw ") + e.what() + "\n";
            if (::write(fd, what.data(), what.size()) < 0) _exit(4);
            _exit(3);
        }
    });
    int status = 0;
    report = test::finishChild(child, &status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Whether a kill left something for the next open to repair: a file beside the table's own
// three (an undo file, a pending pack, ...) or bytes after the last counted record.
bool leftForRepair(const std::string& dir) {
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name != kTable && name != "LOG.FPT" && name != "LOG.CDX") return true;
    }
    const std::string dbf = readFile(dir + kTable);
    const auto* h = reinterpret_cast<const unsigned char*>(dbf.data());
    return dbf.size() > size_t(io::le16(h + 8)) + size_t(io::le32(h + 4)) * io::le16(h + 10) + 1;
}

TEST(CrashPoints, EveryOperationKilledBeforeEachChange) {
    ASSERT_NE(bases().loneId, 0) << "no appended fax ended alone in a leaf";
    std::ostringstream summary;
    for (const Operation& op : operations()) {
        TempDir base;
        op.makeBase(base.path());
        const auto files = snapshot(base.path());
        TempDir dir;
        const auto runOp = [&] {
            auto t = Table::open(dir.file(kTable));
            op.run(*t);
            t->close();
        };
        std::map<std::string, int> kinds;
        std::vector<int> toRepair;  // kill points that leave something for the open to repair
        int points = 0;
        for (int n = 1;; ++n) {
            putState(dir.path(), files);
            std::string report;
            const int status = runStoppedAt(n, runOp, report);
            if (status == 0) {
                if (op.shape) {
                    EXPECT_TRUE(
                        op.shape(levelSizes(base.file("LOG.CDX"), "DATEND"), levelSizes(dir.file("LOG.CDX"), "DATEND")))
                        << op.name << ": the index tree did not change as the operation should: "
                        << ::testing::PrintToString(levelSizes(base.file("LOG.CDX"), "DATEND")) << " to "
                        << ::testing::PrintToString(levelSizes(dir.file("LOG.CDX"), "DATEND"));
                }
                EXPECT_EQ(verifyLeftState(dir.path(), op, Stage::Completed), "") << op.name << ": completed";
                break;
            }
            ASSERT_EQ(status, 42) << op.name << " at point " << n << ": " << report;
            ++points;
            ++kinds[report.substr(0, report.find(' '))];
            if (leftForRepair(dir.path())) toRepair.push_back(n);
            const std::string bad = verifyLeftState(dir.path(), op, Stage::Killed);
            ASSERT_EQ(bad, "") << op.name << ": killed before point " << n << " (" << report << ")";
        }
        // The open that repairs what a kill left is killed in turn before each of its changes,
        // after the middle one of those kills (the state left is put back each time, its stamp
        // taken as describing the table where the counts agree): a repair cut short is repaired
        // by the next open as well.
        int repairPoints = 0;
        const int n = toRepair.empty() ? 0 : toRepair[toRepair.size() / 2];
        if (n) {
            putState(dir.path(), files);
            std::string report;
            ASSERT_EQ(runStoppedAt(n, runOp, report), 42) << op.name << " at point " << n << ": " << report;
            const auto left = snapshot(dir.path());
            for (int m = 1;; ++m) {
                putState(dir.path(), left);
                const int status = runStoppedAt(
                    m, [&] { Table::open(dir.file(kTable))->close(); }, report);
                if (status == 0) break;
                ASSERT_EQ(status, 42) << op.name << ": the repair after point " << n << ", at its point " << m << ": "
                                      << report;
                ++repairPoints;
                const std::string bad = verifyLeftState(dir.path(), op, Stage::Killed);
                ASSERT_EQ(bad, "") << op.name << ": killed before point " << n << ", its repair before point " << m
                                   << " (" << report << ")";
            }
        }
        summary << op.name << ": " << points << " points (";
        for (const auto& [k, c] : kinds) summary << k << " " << c << ", ";
        summary << "), " << toRepair.size() << " leave a repair; " << repairPoints << " points in the repair after "
                << (n ? "point " + std::to_string(n) : std::string("none")) << "\n";
    }
    std::cout << summary.str();
}

// --- power cut -------------------------------------------------------------------------------

struct Recorded {
    io::Change kind;
    std::string path, to;
    uint64_t offset;
    std::string data;
};
std::vector<Recorded>* gRecord = nullptr;

void recordChange(const io::ChangeInfo& c) {
    gRecord->push_back({c.kind, io::baseName(c.path), c.to ? io::baseName(*c.to) : std::string(), c.offset,
                        c.data ? std::string(static_cast<const char*>(c.data), c.size) : std::string()});
}

struct FileState {
    std::string durable;
    std::vector<const Recorded*> pending;  // writes and truncations since the last sync
};

void applyChange(std::string& content, const Recorded& c) {
    if (c.kind == io::Change::Truncate) {
        content.resize(size_t(c.offset));
        return;
    }
    if (content.size() < c.offset + c.data.size()) content.resize(size_t(c.offset + c.data.size()), '\0');
    content.replace(size_t(c.offset), c.data.size(), c.data);
}

// The files after the first `cut` changes, each as last synced; `keep` decides which of one
// file's unsynced changes reach the disk anyway.
using Keep = std::function<bool(const std::string& file, size_t index, size_t count)>;

std::map<std::string, std::string> diskAfter(const std::map<std::string, std::string>& base,
                                             const std::vector<Recorded>& changes, size_t cut, const Keep& keep) {
    std::map<std::string, FileState> files;
    for (const auto& [name, bytes] : base) files[name].durable = bytes;
    for (size_t i = 0; i < cut; ++i) {
        const Recorded& c = changes[i];
        switch (c.kind) {
        case io::Change::Create: files[c.path] = {}; break;
        case io::Change::Write:
        case io::Change::Truncate: files[c.path].pending.push_back(&c); break;
        case io::Change::Sync: {
            FileState& f = files[c.path];
            for (const Recorded* p : f.pending) applyChange(f.durable, *p);
            f.pending.clear();
            break;
        }
        case io::Change::Rename: {
            FileState moved = std::move(files[c.path]);
            files.erase(c.path);
            files[c.to] = std::move(moved);
            break;
        }
        case io::Change::Remove: files.erase(c.path); break;
        case io::Change::SyncDirectory: break;
        }
    }
    std::map<std::string, std::string> out;
    for (auto& [name, f] : files) {
        std::string content = f.durable;
        for (size_t i = 0; i < f.pending.size(); ++i) {
            if (keep(name, i, f.pending.size())) applyChange(content, *f.pending[i]);
        }
        out[name] = content;
    }
    return out;
}

TEST(CrashPoints, PowerCutKeepsOnlySomeWritesSinceTheLastSync) {
    std::ostringstream summary;
    for (const Operation& op : operations()) {
        TempDir dir;
        op.makeBase(dir.path());
        Table::open(dir.file(kTable))->close();
        const auto base = snapshot(dir.path());
        std::vector<Recorded> changes;
        gRecord = &changes;
        io::setChangeObserver(recordChange);
        {
            auto t = Table::open(dir.file(kTable));
            op.run(*t);
            t->close();
        }
        io::setChangeObserver(nullptr);
        // Just before each sync, and after the operation.
        std::vector<size_t> cuts;
        for (size_t i = 0; i < changes.size(); ++i) {
            if (changes[i].kind == io::Change::Sync || changes[i].kind == io::Change::SyncDirectory) cuts.push_back(i);
        }
        cuts.push_back(changes.size());
        int states = 0;
        TempDir scratch;
        for (size_t cut : cuts) {
            // Which unsynced changes of which file are tried one by one.
            std::map<std::string, size_t> pending;
            diskAfter(base, changes, cut, [&](const std::string& f, size_t, size_t n) {
                pending[f] = n;
                return false;
            });
            std::vector<std::pair<std::string, Keep>> variants{
                {"nothing unsynced", [](const std::string&, size_t, size_t) { return false; }}};
            for (const auto& [file, n] : pending) {
                std::vector<size_t> picks;
                for (size_t i = 0; i < n; ++i) {
                    if (n <= 6 || i < 2 || i + 2 >= n || i == n / 2) picks.push_back(i);
                }
                for (size_t i : picks) {
                    const std::string f = file;
                    variants.push_back(
                        {"only change " + std::to_string(i + 1) + " of " + std::to_string(n) + " to " + f,
                         [f, i](const std::string& g, size_t k, size_t) { return g == f && k == i; }});
                    variants.push_back(
                        {"all but change " + std::to_string(i + 1) + " of " + std::to_string(n) + " to " + f,
                         [f, i](const std::string& g, size_t k, size_t) { return g == f && k != i; }});
                }
            }
            for (const auto& [what, keep] : variants) {
                putState(scratch.path(), diskAfter(base, changes, cut, keep));
                ++states;
                const std::string bad =
                    verifyLeftState(scratch.path(), op, cut == changes.size() ? Stage::Completed : Stage::PowerCut);
                ASSERT_EQ(bad, "") << op.name << ": power cut before change " << cut + 1 << " of " << changes.size()
                                   << ", " << what;
            }
        }
        summary << op.name << ": " << changes.size() << " changes, " << cuts.size() << " cuts, " << states
                << " states\n";
    }
    std::cout << summary.str();
}

}  // namespace
}  // namespace telvane::records
