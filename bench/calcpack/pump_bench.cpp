// F9 on the packaged pump project, headless: the whole run (read the pages, normalise, bind the
// interpreter and include project.h, evaluate the 115 steps with their log, write back) as the
// project window does it. Target: under 5 ms a run.

#include "chartrun.h"
#include "packagedproject.h"
#include "projectdocument.h"
#include "programdir.h"
#include "projectfile.h"
#include "qtbench.h"
#include "qzcomplier.h"
#include "qzexcel.h"
#include "qzproject.h"
#include "qzrun.h"
#include "qztranslate.h"

#include <QWidget>

#include <cstdio>

namespace {

using namespace tessarin;

class CountingHost : public TqzRunHost
{
public:
    int lines = 0;
    void appendLog(const QString &) override { ++lines; }
};

void BM_PumpRun(benchmark::State &state)
{
    QWidget area;
    TqzExcel excel(&area);
    TqzProject project;
    TqzTranslate codes;
    TqzProjectFile().loadBytes(LoadPackagedProject(), QStringLiteral("packaged"), project, excel.workbook());
    for (int i = 0; i < project.TreeView->count(); ++i)
        codes.AddWord(project.TreeView->nodeAt(i)->Name, project.TreeView->nodeAt(i)->Caption);
    CountingHost host;
    TqzRun run(project, excel.workbook(), codes, host);
    int failed = 0;
    for (auto _ : state) {
        const TqzRunResult r = run.runProject();
        failed += r.failedSteps;
        benchmark::DoNotOptimize(r.steps);
    }
    if (failed)
        state.SkipWithError("a step failed");
    state.counters["log lines"] = host.lines / static_cast<double>(state.iterations());
}
BENCHMARK(BM_PumpRun)->Unit(benchmark::kMillisecond);

// The part of a run that does not depend on the project: binding the interpreter and
// including project.h.
void BM_CompilerStart(benchmark::State &state)
{
    for (auto _ : state) {
        TqzComplier complier;
        benchmark::DoNotOptimize(complier.isBound());
    }
}
BENCHMARK(BM_CompilerStart)->Unit(benchmark::kMillisecond);

// The document's way in: GetFLW, parsing, the pages built from their streams.
void BM_PumpLoad(benchmark::State &state)
{
    const QByteArray document = LoadPackagedProject();
    for (auto _ : state) {
        QWidget area;
        TqzExcel excel(&area);
        TqzProject project;
        TqzProjectFile().loadBytes(document, QStringLiteral("packaged"), project, excel.workbook());
        benchmark::DoNotOptimize(excel.Pages.size());
    }
}
BENCHMARK(BM_PumpLoad)->Unit(benchmark::kMillisecond);

// The three charts of the page "性能曲线" after a run: for each chart a copy of the document,
// one run for its range and data, and for the head chart 14 runs over the flow.
void BM_PumpCharts(benchmark::State &state)
{
    ProjectDocument document;
    document.loadBytes(LoadPackagedProject(), QStringLiteral("packaged"));
    int problems = 0;
    for (auto _ : state)
        problems += static_cast<int>(computeCharts(document).size());
    if (problems)
        state.SkipWithError("a chart could not be computed");
}
BENCHMARK(BM_PumpCharts)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return tessarin::bench::runQtBenchmarks(
        argc, argv, [] { tessarin::setProgramDirectory(QStringLiteral(TESSARIN_BIN_DIR)); });
}
