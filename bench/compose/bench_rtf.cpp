// Benchmarks of the RTF reader and writer on a generated document of some 200 paragraphs with
// mixed attributes and insert points (about the size of a long fax document).
#include <benchmark/benchmark.h>

#include <string>

#include "compose/rtf/rtfreader.h"
#include "compose/rtf/rtfwriter.h"

namespace {

telvane::rtf::Document sampleDocument() {
    using namespace telvane::rtf;
    Document d;
    d.fonts = {Font{"Arial", "swiss", 0}, Font{"Times New Roman", "roman", 0}};
    d.colors = {Color{}, Color{255, 0, 0}};
    for (int i = 0; i < 200; ++i) {
        Paragraph p;
        p.format.align = static_cast<Align>(i % 4);
        p.format.leftIndent = (i % 3) * 360;
        CharFormat plain;
        CharFormat bold;
        bold.bold = true;
        bold.font = 1;
        p.runs.push_back(
            telvane::rtf::Run{"Paragraph " + std::to_string(i) + " with some caf\xC3\xA9 text, ", plain, 0, false});
        p.runs.push_back(telvane::rtf::Run{"bold words in another font", bold, 0, false});
        if (i % 10 == 0) {
            p.runs.push_back(telvane::rtf::Run{"*", plain, 1 + i % 5, true});
            p.runs.push_back(
                telvane::rtf::Run{"[RECIPIENT]", CharFormat{0, 24, false, false, false, false, 1}, 1 + i % 5, false});
        }
        d.paragraphs.push_back(std::move(p));
    }
    return d;
}

void bmWriteRtf(benchmark::State& state) {
    const telvane::rtf::Document d = sampleDocument();
    size_t bytes = 0;
    for (auto _ : state) {
        const std::string rtf = telvane::rtf::writeRtf(d);
        bytes += rtf.size();
        benchmark::DoNotOptimize(rtf.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(bmWriteRtf);

void bmReadRtf(benchmark::State& state) {
    const std::string rtf = telvane::rtf::writeRtf(sampleDocument());
    for (auto _ : state) {
        const telvane::rtf::Document d = telvane::rtf::readRtf(rtf);
        benchmark::DoNotOptimize(d.paragraphs.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * rtf.size()));
}
BENCHMARK(bmReadRtf);

}  // namespace

BENCHMARK_MAIN();
