// Tree edits on generated trees of 10,000 and 100,000 nodes (groups of nine inputs under a
// formula, all under one top-level item): a group moved and the move undone, a node added and
// named and both undone, and the document of an edited tree written.

#include "projectdocument.h"
#include "projectfile.h"
#include "projecttree.h"
#include "qtbench.h"
#include "qzproject.h"
#include "qzworkbook.h"
#include "treecommands.h"

#include <QUndoStack>

namespace {

using namespace tessarin;

void fill(ProjectDocument &doc, int count)
{
    TqzProjectTree &tree = *doc.project().TreeView;
    auto make = [](const QString &name, const QString &script) {
        auto node = std::make_unique<TqzNode>();
        node->Name = name;
        node->Caption = QStringLiteral("c") + QString::number(qHash(name));
        node->Script = script;
        node->Value = QStringLiteral("1.5");
        return node;
    };
    const QModelIndex root = tree.appendNode(make(QStringLiteral("总计"), {}));
    for (int g = 0; g < count / 10; ++g) {
        const QModelIndex group
            = tree.appendNode(make(QStringLiteral("结果%1").arg(g), QStringLiteral("量%1_0*2").arg(g)), root);
        for (int k = 0; k < 9; ++k)
            tree.appendNode(make(QStringLiteral("量%1_%2").arg(g).arg(k), {}), group);
    }
}

void BM_MoveAndUndo(benchmark::State &state)
{
    ProjectDocument doc;
    fill(doc, int(state.range(0)));
    TqzTreeEditor editor(doc.project(), doc.undoStack());
    TqzProjectTree &tree = *doc.project().TreeView;
    const QModelIndex root = tree.index(0, 0);
    const int middle = tree.rowCount(root) / 2;
    for (auto _ : state) {
        editor.move(tree.index(middle, 0, root), root, tree.rowCount(root));
        doc.undoStack().undo();
    }
}
BENCHMARK(BM_MoveAndUndo)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

void BM_AddNameAndUndo(benchmark::State &state)
{
    ProjectDocument doc;
    fill(doc, int(state.range(0)));
    TqzTreeEditor editor(doc.project(), doc.undoStack());
    TqzProjectTree &tree = *doc.project().TreeView;
    const QModelIndex root = tree.index(0, 0);
    for (auto _ : state) {
        const QModelIndex added = editor.addChild(root);
        editor.setField(added, TqzNodeField::Name, QStringLiteral("新增量"));
        doc.undoStack().undo();
        doc.undoStack().undo();
    }
}
BENCHMARK(BM_AddNameAndUndo)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

void BM_SaveEditedTree(benchmark::State &state)
{
    ProjectDocument doc;
    fill(doc, int(state.range(0)));
    doc.workbook().AddPage();
    doc.file().EditedTree = &doc.project();
    // A document to splice into, as a loaded project has one.
    doc.file().Document = doc.file().documentBytes(doc.workbook());
    qsizetype bytes = 0;
    for (auto _ : state)
        bytes = doc.file().documentBytes(doc.workbook()).size();
    state.counters["MB"] = double(bytes) / 1e6;
}
BENCHMARK(BM_SaveEditedTree)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

// The same project saved without a tree edit: the workbook alone is spliced in.
void BM_SaveUnedited(benchmark::State &state)
{
    ProjectDocument doc;
    fill(doc, int(state.range(0)));
    doc.workbook().AddPage();
    doc.file().EditedTree = &doc.project();
    doc.file().Document = doc.file().documentBytes(doc.workbook());
    doc.file().EditedTree = nullptr;
    for (auto _ : state)
        benchmark::DoNotOptimize(doc.file().documentBytes(doc.workbook()).size());
}
BENCHMARK(BM_SaveUnedited)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

// The whole project part written fresh, for comparison: the lower bound of writing the tree.
void BM_WriteTreeAlone(benchmark::State &state)
{
    ProjectDocument doc;
    fill(doc, int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(SaveProjectToBytes(doc.project()).size());
}
BENCHMARK(BM_WriteTreeAlone)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return tessarin::bench::runQtBenchmarks(argc, argv, [] {});
}
