// The same generated run headless and through a shown project window with its message pane
// visible, so that the cost of the pane, the progress events and the event processing between
// steps is visible beside the run itself. Two shapes: N nodes in groups of ten (nine tagged
// inputs and a formula over them and an input of the group before, on 20 pages), and a flat
// project whose every node is a formula, which logs six lines per node (60,000 for 10,000).

#include "printerlayer.h"
#include "programdir.h"
#include "qzexcel.h"
#include "qzproject.h"
#include "qzrun.h"
#include "qztranslate.h"
#include "runprogress.h"
#include "winide.h"

#include <QMainWindow>
#include <QPlainTextEdit>
#include <QTest>

#include <benchmark/benchmark.h>

#include "qtbench.h"

#include <memory>

using namespace tessarin;

namespace {

constexpr int PageCount = 20;
constexpr int GroupSize = 10;

enum Shape { Grouped = 0, AllFormulas = 1 };

std::unique_ptr<TqzNode>
makeNode(const QString &name, const QString &caption, const QString &script = QString())
{
    auto node = std::make_unique<TqzNode>();
    node->Name = name;
    node->Caption = caption;
    node->Script = script;
    return node;
}

// Fills an empty project and a workbook without pages with the generated calculation.
void generate(Shape shape, int nodes, TqzProject &project, TqzExcel &excel)
{
    const QModelIndex top = project.TreeView->appendNode(makeNode("ROOT", "root"));
    if (shape == AllFormulas) {
        for (int i = 0; i < nodes; ++i)
            project.TreeView->appendNode(makeNode(QStringLiteral("F%1").arg(i),
                                                  QStringLiteral("f%1").arg(i),
                                                  QStringLiteral("%1.5*2+1").arg(i)),
                                         top);
        excel.AddPage();
        return;
    }
    const int groups = nodes / GroupSize;
    const int linesPerPage = (groups + PageCount - 1) / PageCount;
    std::vector<TqzReport *> pages;
    for (int p = 0; p < PageCount; ++p) {
        TqzReport *page = excel.AddPage();
        page->messageBoxHook = [](const QString &, const QString &) {};
        page->NewTable(GroupSize, linesPerPage);
        pages.push_back(page);
    }
    for (int g = 0; g < groups; ++g) {
        QString script;
        for (int k = 0; k < GroupSize - 1; ++k)
            script += QStringLiteral("X%1_%2%3").arg(g).arg(k).arg(k % 2 ? "*" : "+");
        script += g > 0 ? QStringLiteral("X%1_0/2").arg(g - 1) : QStringLiteral("1");
        const QString f = QStringLiteral("F%1").arg(g);
        const QModelIndex parent
            = project.TreeView->appendNode(makeNode(f, QStringLiteral("f%1").arg(g), script), top);
        TqzReport *page = pages[static_cast<size_t>(g % PageCount)];
        const int line = g / PageCount;
        for (int k = 0; k < GroupSize - 1; ++k) {
            const QString x = QStringLiteral("X%1_%2").arg(g).arg(k);
            page->SetTagID(line, k, x);
            page->SetCallText(line, k, QString::number(k + 1));
            project.TreeView->appendNode(makeNode(x, QStringLiteral("x%1").arg(k)), parent);
        }
        page->SetTagID(line, GroupSize - 1, f);
    }
}

void fillCodes(const TqzProject &project, TqzTranslate &codes)
{
    for (int i = 0; i < project.TreeView->count(); ++i)
        codes.AddWord(project.TreeView->nodeAt(i)->Name, project.TreeView->nodeAt(i)->Caption);
}

struct Headless
{
    QWidget area;
    TqzExcel excel{&area};
    TqzProject project;
    TqzTranslate codes;
    TqzRunHost host;
    TqzRun run{project, excel.workbook(), codes, host};

    Headless(Shape shape, int nodes)
    {
        generate(shape, nodes, project, excel);
        fillCodes(project, codes);
    }
};

// Counts the progress events as a main window would receive them.
class ProgressSink : public QObject
{
public:
    long events = 0;
    bool event(QEvent *e) override
    {
        if (e->type() != TqzRunProgressEvent::EventType)
            return QObject::event(e);
        ++events;
        return true;
    }
};

struct Windowed
{
    QMainWindow frame;
    TfmWinIDE *window = new TfmWinIDE;
    ProgressSink progress;

    Windowed(Shape shape, int nodes)
    {
        frame.setCentralWidget(window);
        frame.resize(1200, 900);
        window->excel().ClearPages();
        generate(shape, nodes, window->project(), window->excel());
        window->FillCodeTable();
        window->setProgressReceiver(&progress);
        window->mniViewMsg->trigger();
        frame.show();
        if (!QTest::qWaitForWindowExposed(&frame))
            qFatal("the benchmark window was not shown");
    }
};

void HeadlessRun(benchmark::State &state)
{
    // Built per call and freed before the application ends, as widgets must be.
    Headless p(Shape(state.range(0)), int(state.range(1)));
    for (auto _ : state) {
        const TqzRunResult r = p.run.runProject();
        if (r.aborted || r.failedSteps)
            state.SkipWithError("the run failed");
    }
}

void WindowRun(benchmark::State &state)
{
    Windowed p(Shape(state.range(0)), int(state.range(1)));
    for (auto _ : state) {
        p.window->actCompileProject->trigger();
        // The progress events still queued reach the receiver, as after a real run.
        QCoreApplication::sendPostedEvents(&p.progress);
    }
    state.counters["log_lines"] = double(p.window->mmoMessage->blockCount());
    if (!p.window->logLines().last().startsWith(QStringLiteral("编译时间")))
        state.SkipWithError("the run did not end normally");
}

} // namespace

BENCHMARK(HeadlessRun)
    ->Args({Grouped, 10000})
    ->Args({AllFormulas, 10000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(WindowRun)
    ->Args({Grouped, 10000})
    ->Args({AllFormulas, 10000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char **argv)
{
    return tessarin::bench::runQtBenchmarks(argc, argv, [] {
        setPrinterLayer(std::make_unique<FixedPrinterLayer>());
        setProgramDirectory(QStringLiteral(TESSARIN_BIN_DIR));
    });
}
