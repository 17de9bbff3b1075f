// Rubber-band selection on a page of 8,000 cells (800 lines of 10): the work of one mouse move.

#include "printerlayer.h"
#include "reportcontrol.h"

#include <QString>

#include <benchmark/benchmark.h>

#include "qtbench.h"

using namespace tessarin;

namespace {

constexpr int Lines = 800;
constexpr int Cells = 10;

std::unique_ptr<TReportControl> selectionPage()
{
    auto page = std::make_unique<TReportControl>();
    const int width = (page->FPageWidth - page->FLeftMargin - page->FRightMargin) / Cells;
    for (int l = 0; l < Lines; ++l) {
        auto line = std::make_unique<TReportLine>();
        line->FReportPage = &page->page();
        line->CreateLine(page->FLeftMargin, Cells, width * Cells);
        for (int c = 0; c < Cells; ++c)
            line->cell(c)->SetCellText(QStringLiteral("%1").arg(l * Cells + c));
        page->FLineList.push_back(std::move(line));
    }
    // Merged blocks of two lines in the first column every ten lines.
    for (int l = 0; l + 1 < Lines; l += 10)
        page->line(l)->cell(0)->AddOwnedCell(page->line(l + 1)->cell(0));
    page->touchContent();
    page->UpdateLines();
    return page;
}

QPoint pageEnd(const TReportControl &page)
{
    const TRect last = page.line(Lines - 1)->FLineRect;
    return {last.right - 2, last.bottom - 2};
}

// The band stays over the whole page: every cell is tested, none changes.
void BM_BandOverWholePage(benchmark::State &state)
{
    auto page = selectionPage();
    const QPoint start(page->FLeftMargin + 2, page->FTopMargin + 2);
    const QPoint end = pageEnd(*page);
    page->StartMouseSelect(start, true, MK_LBUTTON);
    page->MouseMoveHandler(end, MK_LBUTTON);
    int dx = 0;
    for (auto _ : state) {
        dx ^= 1;
        page->MouseMoveHandler(end - QPoint(dx, 0), MK_LBUTTON);
    }
    state.counters["selected"] = double(page->FSelectCells.size());
}
BENCHMARK(BM_BandOverWholePage)->Unit(benchmark::kMillisecond);

// The band swings between the whole page and its upper half: 4,000 cells leave and come back
// on every move.
void BM_BandSwingsOverHalfThePage(benchmark::State &state)
{
    auto page = selectionPage();
    const QPoint start(page->FLeftMargin + 2, page->FTopMargin + 2);
    const QPoint end = pageEnd(*page);
    const QPoint half(end.x(), page->line(Lines / 2)->FLineTop - 3);
    page->StartMouseSelect(start, true, MK_LBUTTON);
    bool whole = false;
    for (auto _ : state) {
        whole = !whole;
        page->MouseMoveHandler(whole ? end : half, MK_LBUTTON);
    }
}
BENCHMARK(BM_BandSwingsOverHalfThePage)->Unit(benchmark::kMillisecond);

// A small band at the bottom of the page: only its cells should cost anything.
void BM_SmallBandAtTheBottom(benchmark::State &state)
{
    auto page = selectionPage();
    const QPoint end = pageEnd(*page);
    const QPoint start(end.x() - 150, page->line(Lines - 6)->FLineTop + 2);
    page->StartMouseSelect(start, true, MK_LBUTTON);
    int dy = 0;
    for (auto _ : state) {
        dy ^= 1;
        page->MouseMoveHandler(end - QPoint(0, dy), MK_LBUTTON);
    }
}
BENCHMARK(BM_SmallBandAtTheBottom)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    return tessarin::bench::runQtBenchmarks(
        argc, argv, [] { setPrinterLayer(std::make_unique<FixedPrinterLayer>()); });
}
