// The project check of the packaged pump project, and of generated trees of 10,000 and 100,000
// nodes under one top-level item: groups of one formula over nine inputs, each formula also using
// the group before it, so every formula is translated, ordered and evaluated.

#include "packagedproject.h"
#include "programdir.h"
#include "projectcheck.h"
#include "projectdocument.h"
#include "projecttree.h"
#include "qtbench.h"
#include "qzproject.h"
#include "qzworkbook.h"

namespace {

using namespace tessarin;

void BM_CheckPump(benchmark::State &state)
{
    ProjectDocument doc;
    doc.loadBytes(LoadPackagedProject(), QStringLiteral("packaged"));
    qsizetype findings = 0;
    for (auto _ : state)
        findings = checkProject(doc.project(), doc.workbook()).findings.size();
    state.counters["findings"] = double(findings);
}
BENCHMARK(BM_CheckPump)->Unit(benchmark::kMillisecond);

void BM_CheckGenerated(benchmark::State &state)
{
    ProjectDocument doc;
    TqzProjectTree &tree = *doc.project().TreeView;
    auto make = [](const QString &name, const QString &script, const QString &value) {
        auto node = std::make_unique<TqzNode>();
        node->Name = name;
        node->Caption = name;
        node->Script = script;
        node->Value = value;
        return node;
    };
    const QModelIndex root = tree.appendNode(make(QStringLiteral("总计"), {}, {}));
    const int groups = static_cast<int>(state.range(0)) / 10;
    // Later siblings are evaluated first: group g may use group g + 1.
    for (int g = 0; g < groups; ++g) {
        QString script;
        for (int k = 0; k < 9; ++k)
            script += QStringLiteral("量%1_%2+").arg(g).arg(k);
        script += g + 1 < groups ? QStringLiteral("结果%1").arg(g + 1) : QStringLiteral("0");
        const QModelIndex group
            = tree.appendNode(make(QStringLiteral("结果%1").arg(g), script, {}), root);
        for (int k = 0; k < 9; ++k)
            tree.appendNode(make(QStringLiteral("量%1_%2").arg(g).arg(k), {}, QString::number(k)),
                            group);
    }
    doc.workbook().AddPage();
    qsizetype findings = 0;
    for (auto _ : state)
        findings = checkProject(doc.project(), doc.workbook()).findings.size();
    state.counters["nodes"] = double(tree.count());
    state.counters["findings"] = double(findings);
}
BENCHMARK(BM_CheckGenerated)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    return tessarin::bench::runQtBenchmarks(
        argc, argv, [] { setProgramDirectory(QStringLiteral(TESSARIN_BIN_DIR)); });
}
