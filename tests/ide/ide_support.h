#pragma once

// Shared helpers of the ide tests: a project built from a compact outline, a workbook of pages
// with tagged cells, and a run host that records everything a window would see.

#include "qzexcel.h"
#include "qzproject.h"
#include "qzrun.h"
#include "qztranslate.h"
#include "reportgrid/gridfixture.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>

#include <memory>
#include <utility>
#include <vector>

namespace tessarin::test {

// One node of an outline: its depth (0 = top level) and its texts.
struct NodeRow
{
    int depth;
    QString name;
    QString script;
    QString value;
    QString caption = {};
    QString unit = {};
};

// Records the calls a window would handle; can stop or re-enter the run from its message
// processing, as a user could.
class RecordingHost : public TqzRunHost
{
public:
    QStringList log;
    std::vector<std::pair<int, int>> progress;
    int busy = 0; // beginBusy minus endBusy
    int busyCalls = 0;
    int pumps = 0; // processPendingMessages calls
    std::function<void()> onPump;

    void clearLog() override { log.clear(); }
    void appendLog(const QString &line) override { log.append(line); }
    void beginBusy() override
    {
        ++busy;
        ++busyCalls;
    }
    void endBusy() override { --busy; }
    void postProgress(int wParam, int lParam) override { progress.emplace_back(wParam, lParam); }
    void processPendingMessages() override
    {
        ++pumps;
        if (onPump)
            onPump();
    }
};

// A project with its workbook, code table and run, as a project window holds them.
struct RunFixture
{
    gridtest::ScopedPrinterLayer printer;
    QWidget area;
    TqzExcel excel{&area};
    TqzProject project;
    TqzTranslate codes;
    RecordingHost host;
    TqzRun run{project, excel.workbook(), codes, host};

    // Replaces the tree by the outline (a node's parent is the last node one level up) and
    // fills the code table with name -> caption (the caption defaults to the name).
    void setNodes(const std::vector<NodeRow> &outline)
    {
        project.ClearNodes();
        codes.Clear();
        std::vector<QModelIndex> parents;
        for (const NodeRow &row : outline) {
            auto node = std::make_unique<TqzNode>();
            node->Name = row.name;
            node->Script = row.script;
            node->Value = row.value;
            node->Caption = row.caption.isEmpty() ? row.name : row.caption;
            node->Unit = row.unit;
            codes.AddWord(node->Name, node->Caption);
            parents.resize(static_cast<size_t>(row.depth));
            const QModelIndex parent = row.depth > 0 ? parents.back() : QModelIndex();
            parents.push_back(project.TreeView->appendNode(std::move(node), parent));
        }
    }

    // A page with one line per (tag, text) pair, the tag in the first cell.
    TqzReport *addPage(const std::vector<std::pair<QString, QString>> &cells)
    {
        TqzReport *page = excel.AddPage();
        page->messageBoxHook = [](const QString &, const QString &) {};
        page->NewTable(2, static_cast<int>(cells.size()));
        for (int i = 0; i < static_cast<int>(cells.size()); ++i) {
            page->SetTagID(i, 0, cells[static_cast<size_t>(i)].first);
            page->SetCallText(i, 0, cells[static_cast<size_t>(i)].second);
        }
        return page;
    }

    TqzNode *node(int absoluteIndex) { return project.TreeView->nodeAt(absoluteIndex); }
    QStringList values()
    {
        QStringList out;
        for (int i = 0; i < project.TreeView->count(); ++i)
            out << node(i)->Value;
        return out;
    }
    // The log without its last line (the elapsed time, which varies).
    QStringList logWithoutTime() const { return host.log.mid(0, host.log.size() - 1); }
};

} // namespace tessarin::test
