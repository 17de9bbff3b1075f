// Page-stream throughput: writing and reading a page of 2,000 lines x 10 cells with texts, tags
// and a few vertical merges, in MB/s of stream bytes.

#include "bigpage.h"
#include "printerlayer.h"
#include "reportcontrol.h"
#include "reportstream.h"

#include <benchmark/benchmark.h>

#include "qtbench.h"

using namespace tessarin;

namespace {

std::unique_ptr<TReportControl> bigPage()
{
    return bench::bigPage(true, true);
}

void BM_WritePage(benchmark::State &state)
{
    auto page = bigPage();
    qint64 bytes = 0;
    for (auto _ : state) {
        const QByteArray stream = savePageStream(*page);
        bytes += stream.size();
        benchmark::DoNotOptimize(stream.constData());
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_WritePage)->Unit(benchmark::kMillisecond);

// Parsing alone: the detached page the control swaps in.
void BM_ParsePage(benchmark::State &state)
{
    auto page = bigPage();
    const QByteArray stream = savePageStream(*page);
    for (auto _ : state) {
        auto parsed = readPageStream(stream);
        benchmark::DoNotOptimize(parsed->lines.data());
    }
    state.SetBytesProcessed(qint64(state.iterations()) * stream.size());
}
BENCHMARK(BM_ParsePage)->Unit(benchmark::kMillisecond);

// The whole load: parse, swap in, and the one layout pass.
void BM_LoadPage(benchmark::State &state)
{
    const QByteArray stream = savePageStream(*bigPage());
    TReportControl page;
    for (auto _ : state)
        loadPageStream(page, stream);
    state.SetBytesProcessed(qint64(state.iterations()) * stream.size());
    state.counters["streamKB"] = double(stream.size()) / 1024;
}
BENCHMARK(BM_LoadPage)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return bench::runQtBenchmarks(
        argc, argv, [] { setPrinterLayer(std::make_unique<FixedPrinterLayer>()); });
}
