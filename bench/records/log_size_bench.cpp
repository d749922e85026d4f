// How the outgoing log's open, append-one-and-close and seek scale with its size: logs of
// 100,000 and 1,000,000 records carrying the four Rebuild tags, each built once per run in a
// scratch directory. Times are per operation (wall clock); compare the two sizes to see
// whether an operation depends on the number of records.
#include "records/fax_tables.h"
#include "records/table.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

void BM_Open(benchmark::State& state) {
    const std::string& path = logOf(int(state.range(0)));
    for (auto _ : state) {
        auto t = Table::open(path);
        benchmark::DoNotOptimize(t->tagCount());
        state.PauseTiming();
        t->close();
        t.reset();
        state.ResumeTiming();
    }
}

void BM_AppendOneAndClose(benchmark::State& state) {
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

void BM_Seek(benchmark::State& state) {
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

BENCHMARK(BM_Open)->Arg(100000)->Arg(1000000)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppendOneAndClose)->Arg(100000)->Arg(1000000)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Seek)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
