// How the outgoing log's open, append-one-and-close and seek scale with its size: logs of
// 100,000 and 1,000,000 records carrying the four Rebuild tags, each built once per run in a
// scratch directory. Times are per operation (wall clock); compare the two sizes to see
// whether an operation depends on the number of records. The opens also report the growth of
// the process's peak resident memory while opening (peak_MB): the trusted open reads the index
// as it is; the open after a crash finds the clean-close stamp gone and checks the whole index
// against the table.
#include "records/cdx_file.h"
#include "records/fax_tables.h"
#include "records/file_io.h"
#include "records/table.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <map>
#include <random>
#include <string>

namespace {

using namespace telvane::records;

std::string scratchDir() {
    std::string t = (std::filesystem::temp_directory_path() / "telvane-logbench-XXXXXX").string();
    if (!mkdtemp(t.data())) std::abort();
    return t + "/";
}

void put(std::string& rec, const Table& t, const char* field, const std::string& value) {
    const int i = t.fieldIndex(field);
    const size_t width = size_t(t.fields()[size_t(i)].width);
    std::string v = value.substr(0, width);
    if (t.fields()[size_t(i)].type == FieldType::Numeric) v.insert(0, width - v.size(), ' ');
    v.resize(width, ' ');
    rec.replace(size_t(t.fieldOffset(i)), width, v);
}

std::string logRecord(Table& t, uint32_t i, bool withMemo) {
    std::string rec = t.blankRecord();
    put(rec, t, "SUBJECT", "Quarterly report " + std::to_string(i * 2654435761u % 1000003u));
    put(rec, t, "RECIPIENT", i % 3 ? "Smith & Sons " + std::to_string(i % 977) : "Jones Ltd");
    put(rec, t, "PHONE", "555-0100");
    if (i % 4) {
        char day[16];
        std::snprintf(day, sizeof day, "20%02u%02u%02u", 10 + i % 15, 1 + i % 12, 1 + i % 28);
        put(rec, t, "DATESENT", day);
        put(rec, t, "TIMESENT", i % 2 ? "09:30" : "17:05");
        put(rec, t, "SENT", "T");
    }
    put(rec, t, "PAGES", std::to_string(i % 10));
    if (withMemo) put(rec, t, "RTFDOC", t.writeMemo("{\\rtf1\\ansi Page text " + std::to_string(i) + "}"));
    return rec;
}

// One log per size, kept for the whole run.
const std::string& logOf(int n) {
    static std::map<int, std::string> logs;
    auto it = logs.find(n);
    if (it != logs.end()) return it->second;
    const std::string dir = scratchDir();
    const std::string path = dir + "TVN.DBF";
    Table::create(path, faxTableSpec().fields);
    {
        auto t = Table::open(path);
        for (int i = 0; i < n; ++i) t->appendRecord(logRecord(*t, uint32_t(i), i % 16 == 0));
        for (const auto& tag : faxTableSpec().rebuild)
            t->addTag(tag.name, tag.keyExpression, tag.forCondition, tag.descending);
        t->close();
    }
    return logs.emplace(n, path).first->second;
}

// A value in kB from /proc/self/status ("VmRSS", "VmHWM").
double statusKb(const std::string& key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + ":", 0) == 0) return std::atof(line.c_str() + key.size() + 1);
    }
    return 0;
}

// Gives freed memory back to the system and restarts the peak resident size at the present
// size (Linux 4.0 and later), so that the peak that follows is what the next step needs.
void resetPeakMemory() {
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Opens the log once per iteration; untrusted: the clean-close stamp is cleared first, as a
// crash leaves it.
void openLog(benchmark::State& state, bool untrusted) {
    const std::string& path = logOf(int(state.range(0)));
    double peakMb = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (untrusted) {
            telvane::records::io::File cdx;
            cdx.open(path.substr(0, path.size() - 3) + "CDX", false);
            CdxUpdater::markDirty(cdx);
        }
        resetPeakMemory();
        const double before = statusKb("VmRSS");
        state.ResumeTiming();
        auto t = Table::open(path);
        benchmark::DoNotOptimize(t->tagCount());
        state.PauseTiming();
        peakMb = std::max(peakMb, (statusKb("VmHWM") - before) / 1024);
        t->close();
        t.reset();
        state.ResumeTiming();
    }
    state.counters["peak_MB"] = peakMb;
}

void bmOpen(benchmark::State& state) { openLog(state, false); }
void bmOpenAfterCrash(benchmark::State& state) { openLog(state, true); }

void bmAppendOneAndClose(benchmark::State& state) {
    const std::string& path = logOf(int(state.range(0)));
    uint32_t i = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto t = Table::open(path);
        state.ResumeTiming();
        t->appendRecord(logRecord(*t, 5000000u + i++, true));
        t->close();
        state.PauseTiming();
        t.reset();
        state.ResumeTiming();
    }
}

void bmSeek(benchmark::State& state) {
    const std::string& path = logOf(int(state.range(0)));
    auto t = Table::open(path);
    const KeyList& keys = t->tagKeys(t->findTag("SUBJECT"));
    std::mt19937 rng(7);
    for (auto _ : state) {
        const std::string key = "QUARTERLY REPORT " + std::to_string(rng() % 1000003u);
        const size_t at = keys.lowerBound(key, 0);
        benchmark::DoNotOptimize(at < keys.size() ? keys.recnoAt(at) : 0);
    }
}

}  // namespace

BENCHMARK(bmOpen)->Arg(100000)->Arg(1000000)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(bmOpenAfterCrash)->Arg(100000)->Arg(1000000)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(bmAppendOneAndClose)->Arg(100000)->Arg(1000000)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(bmSeek)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
