// Benchmarks of the fax engine's per-byte work (run by hand, never by ctest): DLE escaping and
// line padding of page data, DLE decoding of received data, and result-line collection.
#include <benchmark/benchmark.h>

#include <vector>

#include "transport/fax/class1.h"
#include "transport/fax/hdlc.h"
#include "transport/fax/resultline.h"

namespace {

std::vector<uint8_t> pageLikeData(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 37) ^ (i >> 3));
    return v;
}

void bmPadAndEscapeLines(benchmark::State& state) {
    const auto line = pageLikeData(40);
    std::vector<uint8_t> out;
    for (auto _ : state) {
        out.clear();
        for (int i = 0; i < 2200; ++i)  // one fine page of short lines
            telvane::transport::appendPaddedLine(line.data(), line.size(), static_cast<size_t>(state.range(0)), out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2200 * 40);
}
BENCHMARK(bmPadAndEscapeLines)->Arg(0)->Arg(72);

void bmDecodeReceivedPage(benchmark::State& state) {
    std::vector<uint8_t> wire;
    const auto page = pageLikeData(64 * 1024);
    telvane::transport::hdlc::escapeDle(page.data(), page.size(), wire);
    wire.push_back(telvane::transport::hdlc::DLE);
    wire.push_back(telvane::transport::hdlc::ETX);
    telvane::transport::hdlc::TDleDecoder d(1 << 20);
    for (auto _ : state) {
        d.reset();
        size_t pos = 0;
        while (pos < wire.size() && !d.done())
            pos += d.feed(wire.data() + pos, std::min<size_t>(4096, wire.size() - pos));
        benchmark::DoNotOptimize(d.Data().data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}
BENCHMARK(bmDecodeReceivedPage);

void bmResultLines(benchmark::State& state) {
    const std::string text = "\r\nCONNECT\r\n\r\nOK\r\n\r\nNO CARRIER\r\n\r\nRING\r\n";
    telvane::transport::TResultLineCollector c;
    int hits = 0;
    for (auto _ : state) {
        for (char ch : text)
            if (c.put(static_cast<uint8_t>(ch))) hits += static_cast<int>(telvane::transport::classifyResult(c.line()));
    }
    benchmark::DoNotOptimize(hits);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(bmResultLines);

}  // namespace

BENCHMARK_MAIN();
