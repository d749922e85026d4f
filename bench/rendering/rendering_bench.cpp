// Pages per second for rendering plus encoding a 20-page document (CreateFaxFile), and for the
// pipeline fax servers commonly use for the same document: LibreOffice headless RTF -> PDF, then
// Ghostscript's tiffg3 device at 204 x 196 dpi. Both outputs are also read back with tesseract
// (first two pages) and the share of words read exactly is reported as a counter. Rates are
// given per second of wall time and per second of CPU time (this process for CreateFaxFile, the
// LibreOffice and Ghostscript processes for the pipeline), which stays fair on a busy machine.
#include "compose/render/faxrenderer.h"

#include "compose/render/renderutil.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <sys/resource.h>

namespace {

using namespace telvane::render;
using rendertest::TempDir;

constexpr int kPages = 20;

// Each page: the passage at 12 pt, then at 10 pt, then a page break.
std::vector<rendertest::Para> twentyPages() {
    std::vector<rendertest::Para> paras;
    for (int p = 0; p < kPages; ++p) {
        if (p > 0) paras.push_back({QStringLiteral("\f"), 0});
        paras.push_back({rendertest::samplePassage(), 12});
        paras.push_back({rendertest::samplePassage(), 10});
    }
    return paras;
}

QStringList expectedWordsOfPages(int pages) {
    QStringList out;
    const QStringList passage = rendertest::words(rendertest::samplePassage());
    for (int i = 0; i < pages * 2; ++i) out += passage;
    return out;
}

// CPU seconds used so far by this process (who = RUSAGE_SELF) or its finished children.
double cpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    auto secs = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return secs(u.ru_utime) + secs(u.ru_stime);
}

bool runTool(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    return p.waitForFinished(600000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

void bmCreateFaxFile(benchmark::State& state) {
    rendertest::ensureApp();
    const QByteArray rtf = rendertest::makeRtf(twentyPages());
    TempDir d;
    FaxRenderer r;
    std::string last;
    int pages = 0;
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    for (auto _ : state) {
        const FaxFileResult res = r.CreateFaxFile(d.dir(), partsFromRtf({}, rtf));
        if (res.failed() || res.pageCount != kPages) {
            state.SkipWithError("rendering failed or paginated differently");
            return;
        }
        pages += res.pageCount;
        state.PauseTiming();
        if (!last.empty()) std::remove(last.c_str());
        last = res.fileName;
        state.ResumeTiming();
    }
    state.counters["pages_per_second"] = benchmark::Counter(pages, benchmark::Counter::kIsRate);
    state.counters["pages_per_cpu_second"] = pages / (cpuSeconds(RUSAGE_SELF) - cpuBefore);
    if (rendertest::haveTool(QStringLiteral("tesseract"))) {
        QString text;
        const auto decoded = rendertest::decodePages(last);
        for (int p = 0; p < 2; ++p) {
            rendertest::writePbm(decoded[p], d.file("ocr.pbm"));
            text += rendertest::ocrImage(QString::fromStdString(d.file("ocr.pbm"))) + QLatin1Char('\n');
        }
        state.counters["ocr_word_accuracy"] =
            rendertest::wordAccuracy(expectedWordsOfPages(2), rendertest::words(text));
    }
}

void bmLibreOfficeGhostscript(benchmark::State& state) {
    rendertest::ensureApp();
    if (!rendertest::haveTool(QStringLiteral("soffice")) || !rendertest::haveTool(QStringLiteral("gs"))) {
        state.SkipWithError("LibreOffice or Ghostscript is not installed (scripts/deps/rendering.txt)");
        return;
    }
    TempDir d;
    const QByteArray rtf = rendertest::makeRtf(twentyPages());
    QFile f(QString::fromStdString(d.file("doc.rtf")));
    f.open(QIODevice::WriteOnly);
    f.write(rtf);
    f.close();
    const QString profile =
        QStringLiteral("-env:UserInstallation=file://") + QString::fromStdString(d.file("lo-profile"));
    const QStringList toPdf{profile,
                            QStringLiteral("--headless"),
                            QStringLiteral("--convert-to"),
                            QStringLiteral("pdf"),
                            QStringLiteral("--outdir"),
                            QString::fromStdString(d.pathNoSlash()),
                            QString::fromStdString(d.file("doc.rtf"))};
    const QString pdf = QString::fromStdString(d.file("doc.pdf"));
    const QString tiff = QString::fromStdString(d.file("doc.tif"));
    const QStringList toTiff{QStringLiteral("-q"),
                             QStringLiteral("-dNOPAUSE"),
                             QStringLiteral("-dBATCH"),
                             QStringLiteral("-dSAFER"),
                             QStringLiteral("-sDEVICE=tiffg3"),
                             QStringLiteral("-r204x196"),
                             QStringLiteral("-sOutputFile=") + tiff,
                             pdf};
    // The first start of LibreOffice sets up its profile; a fax server has done that long ago.
    if (!runTool(QStringLiteral("soffice"), toPdf)) {
        state.SkipWithError("LibreOffice could not convert the document");
        return;
    }
    int pages = 0;
    const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    for (auto _ : state) {
        QFile::remove(pdf);
        QFile::remove(tiff);
        if (!runTool(QStringLiteral("soffice"), toPdf) || !runTool(QStringLiteral("gs"), toTiff)) {
            state.SkipWithError("the LibreOffice/Ghostscript pipeline failed");
            return;
        }
        pages += kPages;
    }
    state.counters["pages_per_second"] = benchmark::Counter(pages, benchmark::Counter::kIsRate);
    state.counters["pages_per_cpu_second"] = pages / (cpuSeconds(RUSAGE_CHILDREN) - cpuBefore);
    QProcess count;
    count.start(QStringLiteral("gs"),
                {QStringLiteral("-q"), QStringLiteral("-dNODISPLAY"), QStringLiteral("-dNOSAFER"), QStringLiteral("-c"),
                 QStringLiteral("(%1) (r) file runpdfbegin pdfpagecount = quit").arg(pdf)});
    count.waitForFinished(60000);
    state.counters["pdf_pages"] = count.readAllStandardOutput().trimmed().toInt();
    if (rendertest::haveTool(QStringLiteral("tesseract"))) {
        const QString firstTwo = QString::fromStdString(d.file("first.tif"));
        runTool(
            QStringLiteral("gs"),
            {QStringLiteral("-q"), QStringLiteral("-dNOPAUSE"), QStringLiteral("-dBATCH"), QStringLiteral("-dSAFER"),
             QStringLiteral("-sDEVICE=tiffg3"), QStringLiteral("-r204x196"), QStringLiteral("-dFirstPage=1"),
             QStringLiteral("-dLastPage=2"), QStringLiteral("-sOutputFile=") + firstTwo, pdf});
        const QString text = rendertest::ocrImage(firstTwo);
        state.counters["ocr_word_accuracy"] =
            rendertest::wordAccuracy(expectedWordsOfPages(2), rendertest::words(text));
    }
}

// Renders `rtf` once per iteration and reports the wall time per page and the CPU time per
// page (the machine may be shared; CPU time shows the cost of the work itself).
// `pagesWanted` 0: any page count.
void renderPerPage(benchmark::State& state, const QByteArray& rtf, int pagesWanted) {
    TempDir d;
    int pages = 0;
    double seconds = 0, cpuSeconds = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpuStart = std::clock();
        FaxRenderer r;
        const FaxFileResult res = r.CreateFaxFile(d.dir(), partsFromRtf({}, rtf));
        if (res.failed() || (pagesWanted && res.pageCount != pagesWanted)) {
            state.SkipWithError("rendering failed or paginated differently");
            return;
        }
        pages += res.pageCount;
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpuSeconds += double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        state.PauseTiming();
        std::remove(res.fileName.c_str());
        state.ResumeTiming();
    }
    state.counters["pages"] = pages;
    state.counters["ms_per_page"] = 1000.0 * seconds / pages;
    state.counters["cpu_ms_per_page"] = 1000.0 * cpuSeconds / pages;
}

// Time per page for one document of 10, 100 and 1,000 pages (the same page repeated): the
// cost of a page must not grow with the length of the document.
void bmRenderLength(benchmark::State& state) {
    rendertest::ensureApp();
    const int pagesWanted = int(state.range(0));
    std::vector<rendertest::Para> paras;
    for (int p = 0; p < pagesWanted; ++p) {
        if (p > 0) paras.push_back({QStringLiteral("\f"), 0});
        paras.push_back({rendertest::samplePassage(), 12});
        paras.push_back({rendertest::samplePassage(), 10});
    }
    renderPerPage(state, rendertest::makeRtf(paras), pagesWanted);
}

// Time per page for a document that is one paragraph (the sample passage repeated 20, 200 and
// 2,000 times without a paragraph break): the layout of one long block must stay linear too.
void bmRenderOneParagraph(benchmark::State& state) {
    rendertest::ensureApp();
    QString text;
    for (int i = 0; i < int(state.range(0)); ++i) text += rendertest::samplePassage() + QLatin1Char(' ');
    renderPerPage(state, rendertest::makeRtf({{text, 10}}), 0);
}

// Time per character for one word of 100,000, 200,000 and 400,000 letters without a break
// opportunity (state.range(1) 1), against the same number of characters in ordinary words (0):
// a word wider than the line must be laid out in linear time as well.
void bmRenderLongWord(benchmark::State& state) {
    rendertest::ensureApp();
    const int letters = int(state.range(0));
    QString text;
    if (state.range(1)) {
        text = QString(letters, QLatin1Char('x'));
    } else {
        while (text.size() < letters) text += rendertest::samplePassage() + QLatin1Char(' ');
        text.truncate(letters);
    }
    renderPerPage(state, rendertest::makeRtf({{text, 12}}), 0);
    state.counters["cpu_us_per_char"] = state.counters["cpu_ms_per_page"] * state.counters["pages"] * 1000.0 /
                                        (double(letters) * double(state.iterations()));
}

BENCHMARK(bmCreateFaxFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);
BENCHMARK(bmRenderLength)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(bmRenderOneParagraph)
    ->Arg(20)
    ->Arg(200)
    ->Arg(2000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK(bmRenderLongWord)
    ->ArgsProduct({{100000, 200000, 400000}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK(bmLibreOfficeGhostscript)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
