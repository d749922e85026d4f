// Benchmarks of what a user feels in the viewer: turning a page of a 20-page fine fax (decode,
// rotate, display image at each zoom step), scrolling one step (repaint of the exposed band),
// rotation, and printing a page to PDF. Run with QT_QPA_PLATFORM=offscreen.
#include <benchmark/benchmark.h>

#include <QKeyEvent>
#include <QPrinter>
#include <QTemporaryDir>

#include "faximage/printer/faxprinter.h"
#include "faximage/viewer/faxviewer.h"
#include "faximage/viewertestutil.h"

using namespace telvane::faximage;

namespace {

// A 20-page fine fax of text-like pages, made once.
const QString& twentyPageFax() {
    static QTemporaryDir dir;
    static const QString path = [] {
        std::vector<Raster> pages;
        for (int p = 0; p < 20; ++p) {
            Raster r(1728, 2200);
            for (int line = 0; line < 60; ++line)
                for (int word = 0; word < 14; ++word)
                    viewertest::fillRect(r, 150 + word * 100 + (line * 7 + p) % 30, 150 + line * 32, 70, 18);
            pages.push_back(std::move(r));
        }
        const QString file = dir.filePath("twenty.ovf");
        viewertest::makeFax(file.toStdString(), pages);
        return file;
    }();
    return path;
}

void bmTurnPage(benchmark::State& state) {
    viewertest::app();
    TOvxFaxViewer viewer;
    viewer.resize(800, 600);
    viewer.show();
    viewer.setFileName(twentyPageFax());
    const int step = int(state.range(0));
    if (step != 100) {
        viewer.setScaling(true);
        viewer.setScale(step, 100, step, 100);
    }
    int page = 1;
    for (auto _ : state) {
        page = page % 20 + 1;
        viewer.setCurrentPage(page);
        viewer.viewport()->repaint();
    }
    state.SetLabel("zoom step " + std::to_string(step));
}
BENCHMARK(bmTurnPage)->Arg(25)->Arg(50)->Arg(75)->Arg(100)->Unit(benchmark::kMillisecond);

void bmScrollOneStep(benchmark::State& state) {
    viewertest::app();
    TOvxFaxViewer viewer;
    viewer.resize(800, 600);
    viewer.show();
    viewer.setFileName(twentyPageFax());
    bool down = true;
    for (auto _ : state) {
        QKeyEvent key(QEvent::KeyPress, down ? Qt::Key_Down : Qt::Key_Up, Qt::ControlModifier);
        QCoreApplication::sendEvent(&viewer, &key);
        viewer.viewport()->repaint();
        down = !down;
    }
}
BENCHMARK(bmScrollOneStep)->Unit(benchmark::kMicrosecond);

void bmRotate(benchmark::State& state) {
    viewertest::app();
    TOvxFaxViewer viewer;
    viewer.resize(800, 600);
    viewer.setFileName(twentyPageFax());
    int q = 0;
    for (auto _ : state) viewer.setRotation(++q % 4);
}
BENCHMARK(bmRotate)->Unit(benchmark::kMillisecond);

void bmPrintPageToPdf(benchmark::State& state) {
    viewertest::app();
    QTemporaryDir dir;
    TOvxFaxPrinter printer;
    printer.setFileName(twentyPageFax());
    printer.qPrinter().setOutputFormat(QPrinter::PdfFormat);
    printer.qPrinter().setOutputFileName(dir.filePath("out.pdf"));
    printer.FirstPage = printer.LastPage = 1;
    for (auto _ : state) printer.printFax();
}
BENCHMARK(bmPrintPageToPdf)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
