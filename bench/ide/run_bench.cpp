// The whole run headless on a generated project: N nodes in groups of ten (nine tagged inputs
// and a formula over them and an input of the group before), the inputs and results tagged on
// 20 pages. Counters split the CPU time into reading the pages, normalising, evaluating (the
// interpreter's start included) and writing back.

#include "atomicfile.h"
#include "printerlayer.h"
#include "programdir.h"
#include "qzexcel.h"
#include "qzproject.h"
#include "qzrun.h"
#include "qztranslate.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>

#include <benchmark/benchmark.h>

#include "qtbench.h"

#include <ctime>
#include <map>
#include <memory>

using namespace tessarin;

namespace {

constexpr int PageCount = 20;
constexpr int GroupSize = 10;

// The CPU time of this thread: on a shared machine the wall clock also counts other programs.
qint64 threadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// Timestamps (thread CPU time) the log lines that open each phase of the run.
class PhaseHost : public TqzRunHost
{
public:
    std::map<QString, qint64> at; // first line of a phase -> nanoseconds
    void clearLog() override { at.clear(); }
    void appendLog(const QString &line) override
    {
        if (!line.startsWith(QLatin1Char(' ')) && !line.startsWith(QStringLiteral("第")))
            at[line] = threadCpuNs();
    }
    double ms(const char *from, const char *to) const
    {
        return (at.at(QString::fromUtf8(to)) - at.at(QString::fromUtf8(from))) / 1e6;
    }
};

struct GeneratedProject
{
    QWidget area;
    TqzExcel excel{&area};
    TqzProject project;
    TqzTranslate codes;
    PhaseHost host;
    TqzRun run{project, excel.workbook(), codes, host};

    explicit GeneratedProject(int nodes)
    {
        const int groups = nodes / GroupSize;
        const int linesPerPage = (groups + PageCount - 1) / PageCount;
        std::vector<TqzReport *> pages;
        for (int p = 0; p < PageCount; ++p) {
            TqzReport *page = excel.AddPage();
            page->messageBoxHook = [](const QString &, const QString &) {};
            page->NewTable(GroupSize, linesPerPage);
            pages.push_back(page);
        }
        auto root = std::make_unique<TqzNode>();
        root->Name = QStringLiteral("ROOT");
        const QModelIndex top = project.TreeView->appendNode(std::move(root));
        for (int g = 0; g < groups; ++g) {
            const QString f = QStringLiteral("F%1").arg(g);
            QString script;
            for (int k = 0; k < GroupSize - 1; ++k)
                script += QStringLiteral("X%1_%2%3").arg(g).arg(k).arg(k % 2 ? "*" : "+");
            script += g > 0 ? QStringLiteral("X%1_0/2").arg(g - 1) : QStringLiteral("1");
            auto formula = std::make_unique<TqzNode>();
            formula->Name = f;
            formula->Caption = QStringLiteral("f%1").arg(g);
            formula->Script = script;
            codes.AddWord(formula->Name, formula->Caption);
            const QModelIndex parent = project.TreeView->appendNode(std::move(formula), top);
            TqzReport *page = pages[static_cast<size_t>(g % PageCount)];
            const int line = g / PageCount;
            for (int k = 0; k < GroupSize - 1; ++k) {
                auto input = std::make_unique<TqzNode>();
                input->Name = QStringLiteral("X%1_%2").arg(g).arg(k);
                input->Caption = QStringLiteral("x%1").arg(k);
                codes.AddWord(input->Name, input->Caption);
                page->SetTagID(line, k, input->Name);
                page->SetCallText(line, k, QString::number(k + 1));
                project.TreeView->appendNode(std::move(input), parent);
            }
            page->SetTagID(line, GroupSize - 1, f);
        }
    }
};

GeneratedProject &projectOf(int nodes)
{
    static std::map<int, std::unique_ptr<GeneratedProject>> cache;
    auto &slot = cache[nodes];
    if (!slot)
        slot = std::make_unique<GeneratedProject>(nodes);
    return *slot;
}

void WholeRun(benchmark::State &state)
{
    GeneratedProject &p = projectOf(static_cast<int>(state.range(0)));
    double read = 0, normalise = 0, evaluate = 0, write = 0;
    for (auto _ : state) {
        const TqzRunResult r = p.run.runProject();
        if (r.aborted || r.failedSteps)
            state.SkipWithError(r.abortMessage.toUtf8().constData());
        read += p.host.ms("正在从报表中获取流程数据...", "初始化流程取值...");
        normalise += p.host.ms("初始化流程取值...", "开始编译流程...");
        evaluate += p.host.ms("开始编译流程...", "发送编译结果给报表...");
        write += p.host.ms("发送编译结果给报表...", "编译完毕");
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["read_ms"] = read / n;
    state.counters["normalise_ms"] = normalise / n;
    state.counters["evaluate_ms"] = evaluate / n;
    state.counters["writeback_ms"] = write / n;
}

// `tessarin-cli sweep` of 1,000 cases over a 60-node generated project written as a project
// file, with one worker and with one per core; counter: cases per second (wall clock).
void Sweep(benchmark::State &state)
{
    static QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/sixty.flw");
    if (!QFileInfo::exists(file)) {
        GeneratedProject &p = projectOf(60);
        writeFileAtomically(file, p.excel.SaveIntoDocument(SaveProjectToBytes(p.project)));
    }
    const QStringList args{QStringLiteral("sweep"),
                           file,
                           QStringLiteral("--vary"),
                           QStringLiteral("X0_0=1:10:10"),
                           QStringLiteral("--vary"),
                           QStringLiteral("X1_1=1:100:100"),
                           QStringLiteral("--report"),
                           QStringLiteral("F0,F1,F5"),
                           QStringLiteral("--jobs"),
                           QString::number(state.range(0))};
    for (auto _ : state) {
        QProcess sweep;
        sweep.start(QStringLiteral(TESSARIN_BIN_DIR "/tessarin-cli"), args);
        if (!sweep.waitForFinished(600000) || sweep.exitCode() != 0)
            state.SkipWithError("the sweep failed");
        const qsizetype rows = sweep.readAllStandardOutput().count('\n') - 1;
        if (rows != 1000)
            state.SkipWithError("the sweep did not print 1,000 rows");
    }
    state.counters["cases_per_s"] = benchmark::Counter(
        1000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(Sweep)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(WholeRun)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    return tessarin::bench::runQtBenchmarks(argc, argv, [] {
        setPrinterLayer(std::make_unique<FixedPrinterLayer>());
        setProgramDirectory(QStringLiteral(TESSARIN_BIN_DIR));
    });
}
