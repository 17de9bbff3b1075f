// Loading and writing large projects: n nodes in a 4-ary tree (100,000 nodes are 10 levels
// deep), stored children-before-parents, the hardest order for parent resolution.

#include "error.h"
#include "qzproject.h"
#include "xmldocument.h"

#include <QByteArray>

#include <benchmark/benchmark.h>

#include <random>

using namespace tessarin;

namespace {

QByteArray reverseOrderProject(int n)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<FLW Name=\"bench\">\n"
                     " <TRTL LibraryPath=\"inc\" FileName=\"project.h\" StdLib=\"1\"/>\n"
                     " <TVariables>\n";
    xml.reserve(n * 110);
    for (int i = n - 1; i >= 0; --i) {
        const QByteArray id = QByteArray::number(i);
        const QByteArray parent = QByteArray::number(i == 0 ? 0 : (i - 1) / 4);
        xml += "  <TVariable Name=\"n" + id + "\" NodeID=\"" + id + "\" ParentID=\"" + parent
               + "\" Caption=\"c\" Script=\"a+b\" Value=\"1.5\" Unit=\"m\"/>\n";
    }
    xml += " </TVariables>\n</FLW>\n";
    return xml;
}

void BM_LoadProject(benchmark::State &state)
{
    const QByteArray xml = reverseOrderProject(static_cast<int>(state.range(0)));
    TqzProject project;
    for (auto _ : state) {
        LoadProjectFromStream(project, xml);
        benchmark::DoNotOptimize(project.TreeView->count());
    }
    state.SetBytesProcessed(state.iterations() * xml.size());
    state.counters["depth"] = [&] {
        int depth = 0;
        for (int i = project.TreeView->count() - 1; i >= 0; i = project.TreeView->parentIndex(i))
            ++depth;
        return depth;
    }();
}

void BM_SaveProject(benchmark::State &state)
{
    TqzProject project;
    LoadProjectFromStream(project, reverseOrderProject(static_cast<int>(state.range(0))));
    qint64 bytes = 0;
    for (auto _ : state) {
        const QByteArray out = SaveProjectToBytes(project);
        bytes = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}

// The run pipeline's access pattern: random items, their subtree end and parent.
void BM_AbsoluteIndexQueries(benchmark::State &state)
{
    TqzProject project;
    LoadProjectFromStream(project, reverseOrderProject(100000));
    const TqzProjectTree &tree = *project.TreeView;
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> pick(0, tree.count() - 1);
    for (auto _ : state) {
        const int i = pick(rng);
        benchmark::DoNotOptimize(tree.nodeAt(i));
        benchmark::DoNotOptimize(tree.lastDescendant(i));
        benchmark::DoNotOptimize(tree.parentIndex(i));
        benchmark::DoNotOptimize(tree.absoluteIndex(tree.itemAt(i)));
    }
}

// About 2 MB of elements with `count` attributes each, inside the node list's element.
QByteArray attributeHeavyDocument(int count)
{
    QByteArray element = "  <E";
    for (int i = 0; i < count; ++i)
        element += " a" + QByteArray::number(i) + "=\"1\"";
    element += "/>\n";
    QByteArray xml = "<?xml version=\"1.0\"?>\n<FLW>\n <TRTL>\n";
    xml += element.repeated((2 << 20) / element.size());
    xml += " </TRTL>\n</FLW>\n";
    return xml;
}

// Reading time per byte stays flat as the attributes per element grow to the most a document
// may hold (the parser underneath compares each attribute with the earlier ones of its
// element).
void BM_ReadManyAttributes(benchmark::State &state)
{
    const QByteArray xml = attributeHeavyDocument(static_cast<int>(state.range(0)));
    TqzProject project;
    for (auto _ : state)
        LoadProjectFromStream(project, xml);
    state.SetBytesProcessed(state.iterations() * xml.size());
}

void BM_ReadManyAttributesAsDom(benchmark::State &state)
{
    const QByteArray xml = attributeHeavyDocument(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(readXmlDocument(xml, QStringLiteral("bench")));
    state.SetBytesProcessed(state.iterations() * xml.size());
}

// One element with 200,000 attributes (2.3 MB): refused by the check before parsing.
void BM_RefuseHugeElement(benchmark::State &state)
{
    QByteArray xml = "<?xml version=\"1.0\"?>\n<FLW><TRTL";
    for (int i = 0; i < 200000; ++i)
        xml += " a" + QByteArray::number(i) + "=\"1\"";
    xml += "/></FLW>\n";
    TqzProject project;
    for (auto _ : state) {
        try {
            LoadProjectFromStream(project, xml);
            state.SkipWithError("accepted");
        } catch (const Error &) {
        }
    }
    state.SetBytesProcessed(state.iterations() * xml.size());
}

} // namespace

BENCHMARK(BM_ReadManyAttributes)->Arg(8)->Arg(64)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadManyAttributesAsDom)->Arg(8)->Arg(64)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefuseHugeElement)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadProject)->Arg(25000)->Arg(50000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveProject)->Arg(25000)->Arg(50000)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AbsoluteIndexQueries);

BENCHMARK_MAIN();
