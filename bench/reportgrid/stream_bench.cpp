// Page-stream throughput: writing and reading a page of 2,000 lines x 10 cells with texts, tags
// and a few vertical merges, in MB/s of stream bytes.

#include "fonts.h"
#include "printerlayer.h"
#include "reportcontrol.h"
#include "reportstream.h"

#include <QApplication>
#include <QBuffer>

#include <benchmark/benchmark.h>

using namespace tessarin;

namespace {

constexpr int Lines = 2000;
constexpr int Cells = 10;

std::unique_ptr<TReportControl> bigPage()
{
    auto page = std::make_unique<TReportControl>();
    const int width = (page->FPageWidth - page->FLeftMargin - page->FRightMargin) / Cells;
    for (int l = 0; l < Lines; ++l) {
        auto line = std::make_unique<TReportLine>();
        line->FReportControl = page.get();
        line->CreateLine(page->FLeftMargin, Cells, width * Cells);
        for (int c = 0; c < Cells; ++c) {
            TReportCell *cell = line->cell(c);
            cell->SetCellText(QStringLiteral("流量%1").arg(l * Cells + c));
            cell->FTagID = QStringLiteral("Q%1").arg(c);
        }
        page->FLineList.push_back(std::move(line));
    }
    // Every tenth line's first cell covers the first cell of the line below it.
    for (int l = 0; l + 1 < Lines; l += 10)
        page->line(l)->cell(0)->AddOwnedCell(page->line(l + 1)->cell(0));
    page->UpdateLines();
    return page;
}

QByteArray streamOf(TReportControl &page)
{
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    page.SaveToStream(buffer, 0);
    return buffer.data();
}

void BM_WritePage(benchmark::State &state)
{
    auto page = bigPage();
    qint64 bytes = 0;
    for (auto _ : state) {
        const QByteArray stream = streamOf(*page);
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
    const QByteArray stream = streamOf(*page);
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
    auto source = bigPage();
    QByteArray stream = streamOf(*source);
    TReportControl page;
    for (auto _ : state) {
        QBuffer buffer(&stream);
        buffer.open(QIODevice::ReadOnly);
        page.LoadFromStream(buffer, 0);
    }
    state.SetBytesProcessed(qint64(state.iterations()) * stream.size());
    state.counters["streamKB"] = double(stream.size()) / 1024;
}
BENCHMARK(BM_LoadPage)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    installFontSubstitutions();
    setPrinterLayer(std::make_unique<FixedPrinterLayer>());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
