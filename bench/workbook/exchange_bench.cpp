// Value exchange over a large workbook: every name read once and written once, as a run does
// with its nodes, on 20 pages of 2,000 tagged cells. Also the same over 5 to 40 pages to show
// that the cost grows with cells plus names, and one unbatched request for comparison.

#include "printerlayer.h"
#include "qzexcel.h"

#include <QApplication>
#include <QDomDocument>

#include <benchmark/benchmark.h>

#include "qtbench.h"

#include <map>
#include <memory>

using namespace tessarin;

namespace {

constexpr int CellsPerLine = 10;
constexpr int LinesPerPage = 200; // 2,000 tagged cells per page
constexpr int NameCount = 2000;

QString nameOf(int i)
{
    return QStringLiteral("N%1").arg(i, 4, 10, QLatin1Char('0'));
}

// Every page carries every name once; half the tags are bracketed, some in lower case. Only the
// last page holds texts, so a read asks every page before it finds its answer.
struct BigWorkbook
{
    QWidget area;
    TqzExcel workbook{&area};
    QStringList names;

    explicit BigWorkbook(int pages)
    {
        for (int i = 0; i < NameCount; ++i)
            names.append(nameOf(i));
        for (int p = 0; p < pages; ++p) {
            TqzReport *page = workbook.AddPage();
            page->messageBoxHook = [](const QString &, const QString &) {};
            page->NewTable(CellsPerLine, LinesPerPage);
            for (int l = 0; l < LinesPerPage; ++l) {
                for (int c = 0; c < CellsPerLine; ++c) {
                    const int i = (l * CellsPerLine + c + p * 37) % NameCount;
                    const QString name = i % 3 == 0 ? nameOf(i).toLower() : nameOf(i);
                    page->SetTagID(l, c, i % 2 ? QStringLiteral("[2][1][0][%1]").arg(name) : name);
                    if (p == pages - 1)
                        page->SetCallText(l, c, QString::number(i));
                }
            }
        }
    }
};

// Workbooks by page count; `use` keeps the read benchmarks away from pages the writes filled.
BigWorkbook &workbookOf(int pages, int use)
{
    static std::map<std::pair<int, int>, std::unique_ptr<BigWorkbook>> cache;
    auto &slot = cache[{pages, use}];
    if (!slot)
        slot = std::make_unique<BigWorkbook>(pages);
    return *slot;
}

void GetTagValueAllNames(benchmark::State &state)
{
    BigWorkbook &big = workbookOf(static_cast<int>(state.range(0)), 0);
    for (auto _ : state) {
        for (const QString &name : std::as_const(big.names))
            benchmark::DoNotOptimize(big.workbook.GetTagValue(name));
    }
    state.counters["cells"] = static_cast<double>(state.range(0)) * LinesPerPage * CellsPerLine;
}

void SetTagValueAllNames(benchmark::State &state)
{
    BigWorkbook &big = workbookOf(static_cast<int>(state.range(0)), 1);
    int round = 0;
    for (auto _ : state) {
        ++round;
        for (int i = 0; i < NameCount; ++i)
            big.workbook.SetTagValue(big.names[i], QString::number(round * 10000 + i));
    }
}

// One request right after an edit of a tag: the edited page's index is rebuilt once.
void GetTagValueAfterTagEdit(benchmark::State &state)
{
    BigWorkbook &big = workbookOf(20, 0);
    const QString last = nameOf(NameCount - 1);
    TqzReport *page = big.workbook.Pages.front();
    const QString tag = page->GetTagID(0, 0);
    for (auto _ : state) {
        page->SetTagID(0, 0, tag);
        benchmark::DoNotOptimize(big.workbook.GetTagValue(last));
    }
}

// The workbook element of the 20-page workbook written and read back (Base64 page texts).
void SaveToXML(benchmark::State &state)
{
    BigWorkbook &big = workbookOf(20, 0);
    QDomDocument doc;
    QDomElement element = doc.createElement(QStringLiteral("TqzExcel"));
    doc.appendChild(element);
    for (auto _ : state)
        big.workbook.SaveToXML(element);
}

void LoadFromXML(benchmark::State &state)
{
    BigWorkbook &big = workbookOf(20, 0);
    QDomDocument doc;
    QDomElement element = doc.createElement(QStringLiteral("TqzExcel"));
    doc.appendChild(element);
    big.workbook.SaveToXML(element);
    QWidget area;
    TqzExcel loaded(&area);
    for (auto _ : state)
        loaded.LoadFromXML(element);
}

} // namespace

BENCHMARK(SaveToXML)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadFromXML)->Unit(benchmark::kMillisecond);
BENCHMARK(GetTagValueAllNames)->Arg(20)->Arg(5)->Arg(10)->Arg(40)->Unit(benchmark::kMillisecond);
BENCHMARK(SetTagValueAllNames)->Arg(20)->Arg(5)->Arg(10)->Arg(40)->Unit(benchmark::kMillisecond);
BENCHMARK(GetTagValueAfterTagEdit)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return tessarin::bench::runQtBenchmarks(argc, argv, [] { setPrinterLayer(std::make_unique<FixedPrinterLayer>()); });
}
