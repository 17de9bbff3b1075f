// Layout and repaint cost of a large report page: 2,000 lines of 10 cells with text.

#include "bigpage.h"
#include "dispformat.h"
#include "fonts.h"
#include "printerlayer.h"
#include "reportcontrol.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include "qtbench.h"

using namespace tessarin;

namespace {

using bench::bigPage;
using bench::Cells;
using bench::Lines;

TReportControl &sharedPage()
{
    static std::unique_ptr<TReportControl> page = bigPage();
    return *page;
}

void BM_BuildPage(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(bigPage());
}
BENCHMARK(BM_BuildPage)->Unit(benchmark::kMillisecond)->Iterations(3);

// Every line moves: the margins change, so every top, left edge and rectangle is recomputed
// and every line is invalidated.
void BM_UpdateLinesAllMoved(benchmark::State &state)
{
    TReportControl &page = sharedPage();
    int toggle = 0;
    for (auto _ : state) {
        toggle ^= 1;
        page.FTopMargin = 77 + toggle;
        page.FLeftMargin = 77 + toggle;
        page.UpdateLines();
    }
    state.counters["cells"] = Lines * Cells;
}
BENCHMARK(BM_UpdateLinesAllMoved)->Unit(benchmark::kMillisecond);

// A page with merged blocks of three lines every ten lines: their heights are measured again.
void BM_UpdateLinesWithMerges(benchmark::State &state)
{
    auto page = bigPage();
    for (int l = 0; l + 2 < Lines; l += 10) {
        TReportCell *master = page->CellFromRC(l, 0);
        master->AddOwnedCell(page->CellFromRC(l + 1, 0));
        master->AddOwnedCell(page->CellFromRC(l + 2, 0));
    }
    page->UpdateLines();
    for (auto _ : state)
        page->UpdateLines();
}
BENCHMARK(BM_UpdateLinesWithMerges)->Unit(benchmark::kMillisecond);

void BM_UpdateLinesUnchanged(benchmark::State &state)
{
    TReportControl &page = sharedPage();
    page.FTopMargin = 77;
    page.FLeftMargin = 77;
    page.UpdateLines();
    for (auto _ : state)
        page.UpdateLines();
}
BENCHMARK(BM_UpdateLinesUnchanged)->Unit(benchmark::kMillisecond);

// One screen (768 x 1000 page pixels) of the page painted, at the top and in the middle.
void BM_PaintOneScreen(benchmark::State &state)
{
    TReportControl &page = sharedPage();
    const TReportLine *last = page.line(page.lineCount() - 1);
    page.SetWndSize(768, last->FLineTop + last->GetLineHeight() + 100);
    const int top = static_cast<int>(state.range(0)) * page.line(Lines / 2)->FLineTop;
    QImage screen(768, 1000, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter painter(&screen);
        painter.translate(0, -top);
        page.WMPaint(painter, QRect(0, top, 768, 1000));
    }
    state.counters["painted"] = page.lastPaintedCellCount();
    int visible = 0;
    // Borders sit on the cell edges, so a cell touching the screen also draws into it.
    const TRect area{-1, top - 1, 769, top + 1001};
    for (int l = 0; l < page.lineCount(); ++l)
        for (int c = 0; c < Cells; ++c)
            visible += page.CellFromRC(l, c)->FCellRect.intersects(area);
    state.counters["visible"] = visible;
    state.counters["total"] = Lines * Cells;
}
BENCHMARK(BM_PaintOneScreen)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The text a formatted number cell shows, for the formats of the data sheets.
void BM_FormatCellText(benchmark::State &state)
{
    const QString texts[] = {QStringLiteral("21.6956927"),
                             QStringLiteral("0.000123456"),
                             QStringLiteral("123456.789"),
                             QStringLiteral("1")};
    const QString formats[] = {QStringLiteral("0.00"),
                               QStringLiteral("@@@"),
                               QStringLiteral("0.00E+00"),
                               QStringLiteral("合格|不合格")};
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(formatCellText(texts[i % 4], formats[(i / 4) % 4]));
        ++i;
    }
}
BENCHMARK(BM_FormatCellText);

} // namespace

int main(int argc, char **argv)
{
    return tessarin::bench::runQtBenchmarks(argc, argv, [] { setPrinterLayer(std::make_unique<FixedPrinterLayer>()); });
}
