// Main window with 100,000 outgoing faxes: time to open the window (construction, logs opened,
// first activation done) and time per scroll step of the outgoing grid, repainted each step.
// Runs offscreen unless QT_QPA_PLATFORM says otherwise. The data directory is built once per run.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

#include "records/fax_tables.h"
#include "app/appstate.h"
#include "settings/inifile.h"
#include "app/loggrid.h"
#include "shell/mainscreen.h"
#include "settings/programdir.h"
#include "app/uihelpers.h"
#include "support/scriptedprompter.h"

using namespace telvane;

namespace {

constexpr int kRecords = 100000;

QTemporaryDir& dataDir() {
    static QTemporaryDir dir;
    return dir;
}

void seed(const std::string& dir) {
    QElapsedTimer timer;
    timer.start();
    records::RecordSet rs;
    records::TXbAccess xb(rs);
    if (!records::OpenFaxDBF(dir, rs, xb)) std::abort();
    for (int i = 0; i < kRecords; ++i) {
        rs.append();
        rs.fieldByName("SUBJECT").setString("Subject of fax number " + std::to_string(i));
        rs.fieldByName("RECIPIENT").setString("Recipient " + std::to_string(i % 977));
        rs.fieldByName("PHONE").setString("555-" + std::to_string(1000 + i % 9000));
        const bool sent = i % 5 != 0;
        rs.fieldByName("SENT").setBoolean(sent);
        if (sent) {
            rs.fieldByName("DATESENT").setDate({2000 + (i / 4000), 1 + (i / 330) % 12, 1 + (i / 11) % 28});
            rs.fieldByName("TIMESENT").setString("12:" + std::to_string(10 + i % 50));
            rs.fieldByName("LASTRESULT").setString("Sent");
        }
        rs.fieldByName("PAGES").setInteger(1 + i % 9);
        rs.post();
    }
    records::rebuildTableIndexes(rs, xb, records::faxTableSpec(), "", "");
    rs.close();
    records::RecordSet rec;
    records::TXbAccess recXb(rec);
    if (!records::OpenRecFaxDBF(dir, rec, recXb)) std::abort();
    records::rebuildTableIndexes(rec, recXb, records::recTableSpec(), "", "");
    rec.close();
    settings::IniFile ini;
    ini.writeInteger("Modem", "ComPort", 0);
    ini.save(dir + "TVN.INI");
    std::fprintf(stderr, "seeded %d outgoing records in %lld ms\n", kRecords, static_cast<long long>(timer.elapsed()));
}

std::unique_ptr<shell::TMainScreen> openWindow() {
    auto w = std::make_unique<shell::TMainScreen>();
    w->show();
    while (w->firstActivationPending()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return w;
}

void bmOpenMainWindow(benchmark::State& state) {
    for (auto _ : state) {
        auto w = openWindow();
        benchmark::DoNotOptimize(w->FaxGrid()->model()->rowCount());
        state.PauseTiming();
        w->close();
        w.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(bmOpenMainWindow)->Unit(benchmark::kMillisecond)->Iterations(5);

// Jumps across the whole log (as when dragging the scroll bar thumb), repainting each time.
void bmScrollGridJumps(benchmark::State& state) {
    auto w = openWindow();
    QScrollBar* bar = w->FaxGrid()->verticalScrollBar();
    int step = 0;
    for (auto _ : state) {
        bar->setValue(static_cast<int>((static_cast<long long>(step) * 7919) % (bar->maximum() + 1)));
        w->FaxGrid()->viewport()->repaint();
        ++step;
    }
    state.counters["cachedPages"] = w->FaxGrid()->logModel()->cachedPages();
}
BENCHMARK(bmScrollGridJumps)->Unit(benchmark::kMicrosecond);

// Page down through the log, repainting each time.
void bmScrollGridPageDown(benchmark::State& state) {
    auto w = openWindow();
    QScrollBar* bar = w->FaxGrid()->verticalScrollBar();
    for (auto _ : state) {
        if (bar->value() >= bar->maximum()) bar->setValue(0);
        bar->setValue(bar->value() + bar->pageStep());
        w->FaxGrid()->viewport()->repaint();
    }
}
BENCHMARK(bmScrollGridPageDown)->Unit(benchmark::kMicrosecond);

// Moving the current record (arrow keys in the grid) through the record set.
void bmMoveCurrentRecord(benchmark::State& state) {
    auto w = openWindow();
    records::RecordSet& fax = w->FaxTable();
    size_t k = 0;
    for (auto _ : state) {
        fax.moveTo(k);
        k = (k + 1) % kRecords;
    }
}
BENCHMARK(bmMoveCurrentRecord)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (!dataDir().isValid()) return 1;
    const std::string dir = dataDir().path().toStdString() + "/";
    settings::setProgramDir(dir);
    seed(dir);
    ScopedScriptedPrompter prompts;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
