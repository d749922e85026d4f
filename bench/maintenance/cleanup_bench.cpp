// Clean-up of an outgoing log of 100,000 faxes: the time to mark every fax sent before a date in
// the clean-up window (about half of them), and the rebuild that follows (pack and four tags).
// Each iteration starts from a fresh copy of the seeded tables. Runs offscreen unless
// QT_QPA_PLATFORM says otherwise.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

#include "maintenance/cleanupexpr.h"
#include "maintenance/dmform.h"
#include "records/fax_tables.h"
#include "settings/programdir.h"
#include "app/uihelpers.h"
#include "support/scriptedprompter.h"

using namespace telvane;

namespace {

constexpr int kRecords = 100000;

QTemporaryDir& seedDir() {
    static QTemporaryDir dir;
    return dir;
}
QTemporaryDir& workDir() {
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
            rs.fieldByName("DATESENT").setDate({2000 + (i / 10000), 1 + (i / 330) % 12, 1 + (i / 11) % 28});
            rs.fieldByName("TIMESENT").setString("12:" + std::to_string(10 + i % 50));
        }
        rs.fieldByName("PAGES").setInteger(1 + i % 9);
        rs.post();
    }
    rs.close();
    records::RecordSet rec;
    records::TXbAccess recXb(rec);
    if (!records::OpenRecFaxDBF(dir, rec, recXb)) std::abort();
    rec.close();
    std::fprintf(stderr, "seeded %d outgoing records in %lld ms\n", kRecords, static_cast<long long>(timer.elapsed()));
}

// Replaces the work directory's tables with the seeded ones.
std::string freshCopy() {
    const QDir from(seedDir().path());
    const QString to = workDir().path() + "/";
    for (const QString& name : from.entryList(QDir::Files)) {
        QFile::remove(to + name);
        QFile::copy(from.filePath(name), to + name);
    }
    return to.toStdString();
}

void bmCleanupBeforeDate(benchmark::State& state) {
    int marked = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string dir = freshCopy();
        records::TXbEnv env;
        records::RecordSet fax, rec;
        records::TXbAccess faxXb(fax, &env), recXb(rec, &env);
        if (!records::OpenFaxDBF(dir, fax, faxXb) || !records::OpenRecFaxDBF(dir, rec, recXb)) std::abort();
        fax.setOrder(fax.tagArea("DATESENT"));
        auto form = std::make_unique<maintenance::TDMForm>(rec, recXb, fax, faxXb, env, dir + "receive/");
        form->show();
        QCoreApplication::processEvents();
        state.ResumeTiming();

        marked = form->deleteMatching(maintenance::beforeDateExpression("DATESENT", QDate(2005, 1, 1)));

        state.PauseTiming();
        form.reset();
        fax.close();
        rec.close();
        state.ResumeTiming();
    }
    state.counters["marked"] = marked;
}
BENCHMARK(bmCleanupBeforeDate)->Unit(benchmark::kMillisecond)->Iterations(3);

void bmRebuildAfterCleanup(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        const std::string dir = freshCopy();
        records::RecordSet fax;
        records::TXbAccess faxXb(fax);
        if (!records::OpenFaxDBF(dir, fax, faxXb)) std::abort();
        fax.setOrder(0);
        fax.setDeletedHidden(false);
        fax.first();
        for (int i = 0; !fax.eof(); ++i, fax.next())
            if (i % 2 == 0) fax.deleteRecord();
        fax.setDeletedHidden(true);
        state.ResumeTiming();

        records::rebuildTableIndexes(fax, faxXb, records::faxTableSpec(), "", "");

        state.PauseTiming();
        fax.close();
        state.ResumeTiming();
    }
}
BENCHMARK(bmRebuildAfterCleanup)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (!seedDir().isValid() || !workDir().isValid()) return 1;
    settings::setProgramDir(workDir().path().toStdString() + "/");
    seed(seedDir().path().toStdString() + "/");
    ScopedScriptedPrompter prompts;  // the "N deleted." message is recorded, not shown
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
