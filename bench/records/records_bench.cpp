// Table engine throughput on the outgoing log at 100,000 records: appending with the DATESENT
// tag kept up, walking in tag order, grid access, rebuilding all Rebuild tags, opening with the
// index check, packing after marking 10 %.
// Each reports records per second (items_per_second).
#include "records/fax_tables.h"
#include "records/table.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using namespace telvane::records;
constexpr int kRecords = 100000;

std::string scratchDir() {
    std::string t = (std::filesystem::temp_directory_path() / "telvane-bench-XXXXXX").string();
    if (!mkdtemp(t.data())) std::abort();
    return t + "/";
}

void fillLog(RecordSet& t, int count) {
    for (int i = 0; i < count; ++i) {
        t.append();
        t.fieldByName("SUBJECT").setString("Quarterly report " + std::to_string(i));
        t.fieldByName("RECIPIENT").setString(i % 3 ? "Smith & Sons" : "Jones Ltd");
        t.fieldByName("PHONE").setString("555-0100");
        if (i % 4) {
            char day[16];
            std::snprintf(day, sizeof day, "20%02d%02d%02d", 10 + i % 15, 1 + i % 12, 1 + i % 28);
            t.fieldByName("DATESENT").setString(day);
            t.fieldByName("TIMESENT").setString(i % 2 ? "09:30" : "17:05");
            t.fieldByName("SENT").setBoolean(true);
        }
        t.fieldByName("PAGES").setInteger(i % 10);
        t.fieldByName("RTFDOC").setString("{\\rtf1\\ansi Page text " + std::to_string(i) + "}");
        t.post();
    }
}

struct Log {
    std::string dir = scratchDir();
    RecordSet table;
    TXbAccess xb;
    Log() {
        if (!OpenFaxDBF(dir, table, xb)) std::abort();
    }
    ~Log() {
        table.close();
        std::filesystem::remove_all(dir);
    }
};

void bmAppendWithDatesentTag(benchmark::State& state) {
    Log log;
    for (auto _ : state) {
        fillLog(log.table, kRecords);
        log.table.close();  // includes writing the index file
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kRecords);
}

void bmWalkDatesentOrder(benchmark::State& state) {
    Log log;
    fillLog(log.table, kRecords);
    log.xb.xbSetOrder(log.xb.xb_TagArea("DATESENT"));
    size_t n = 0;
    for (auto _ : state) {
        for (log.table.first(); !log.table.eof(); log.table.next()) {
            benchmark::DoNotOptimize(log.table.fieldByName("SUBJECT").asString());
            ++n;
        }
    }
    state.SetItemsProcessed(int64_t(n));
}

void bmGridRandomAccess(benchmark::State& state) {
    Log log;
    fillLog(log.table, kRecords);
    log.xb.xbSetOrder(log.xb.xb_TagArea("DATESENT"));
    size_t k = 0;
    for (auto _ : state) {
        const Row row = log.table.row(log.table.recNoAt((k * 7919) % kRecords));
        benchmark::DoNotOptimize(row.text("SUBJECT"));
        ++k;
    }
    state.SetItemsProcessed(int64_t(k));
}

void bmRebuildAllTags(benchmark::State& state) {
    Log log;
    fillLog(log.table, kRecords);
    for (auto _ : state) {
        log.xb.xb_CloseIndexes();
        for (const auto& t : faxTableSpec().rebuild)
            log.xb.xb_IndexTag("", t.name, t.keyExpression, 0, t.descending, t.forCondition);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kRecords);
}

// Opening a cleanly closed log: the index is read as it is (its stamp matches the table).
void bmOpenWithIndexCheck(benchmark::State& state) {
    Log log;
    fillLog(log.table, kRecords);
    for (const auto& t : faxTableSpec().rebuild)
        log.xb.xb_IndexTag("", t.name, t.keyExpression, 0, t.descending, t.forCondition);
    log.table.close();
    for (auto _ : state) {
        log.table.open();
        state.PauseTiming();
        log.table.close();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kRecords);
}

void bmPackAfterMarkingTenPercent(benchmark::State& state) {
    Log log;
    fillLog(log.table, kRecords);
    log.xb.xbSetOrder(0);
    Table& t = *log.table.table();
    for (uint32_t r = 1; r <= uint32_t(kRecords); r += 10) t.setDeleted(r, true);
    for (auto _ : state) {
        if (!log.xb.xb_Pack()) state.SkipWithError("pack failed");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kRecords);
}

}  // namespace

BENCHMARK(bmAppendWithDatesentTag)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(bmWalkDatesentOrder)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(bmGridRandomAccess)->Unit(benchmark::kMicrosecond);
BENCHMARK(bmRebuildAllTags)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(bmOpenWithIndexCheck)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(bmPackAfterMarkingTenPercent)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
