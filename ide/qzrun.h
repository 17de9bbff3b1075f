#pragma once
// The run pipeline: reads the values typed into the report pages into the nodes, normalises
// them, evaluates the chosen subtree bottom-up through the script engine with a numbered step
// log, and writes the results back into the pages. Headless: the project window, tessarin-cli
// and the tests drive this same class; what only a window has comes through TqzRunHost.
#include <QModelIndex>
#include <QString>
#include <QStringList>

namespace tessarin {

class TqzExcel;
class TqzProject;
class TqzTranslate;

// WM_RUNPROGRESS: wParam 0 start (lParam = progress maximum), 1 position (lParam = visit
// count), 2 end (lParam 0).
inline constexpr int WM_RUNPROGRESS = 1125;

// What a run needs from its surroundings. Every member has a do-nothing default, so a headless
// caller overrides only what it wants to see.
class TqzRunHost
{
public:
    virtual ~TqzRunHost() = default;
    // The message pane.
    virtual void clearLog() {}
    virtual void appendLog(const QString &line) { (void)line; }
    // Hourglass cursor on (remembering the current one) and restored.
    virtual void beginBusy() {}
    virtual void endBusy() {}
    // Posts WM_RUNPROGRESS to the main window.
    virtual void postProgress(int wParam, int lParam) { (void)wParam; (void)lParam; }
    // "Let the user interface process its pending messages", after each logged step.
    virtual void processPendingMessages() {}
    // The tree's selection: the item selected now (invalid when none) and selecting one (which
    // in a window fires the tree's change handler).
    virtual QModelIndex selectedItem() const { return m_selected; }
    virtual void selectItem(const QModelIndex &item) { m_selected = item; }

private:
    QPersistentModelIndex m_selected;
};

// What one run did.
struct TqzRunResult
{
    bool started = false;  // false when the tree was empty or no node matched (nothing happened)
    bool aborted = false;  // ended early in the orderly way (no interpreter, an error, a stop)
    QString abortMessage;  // why, as logged
    int steps = 0;         // evaluated steps, nested namesake calls included
    int failedSteps = 0;   // of those, the ones whose evaluation failed
    quint32 elapsedMs = 0; // as logged in "编译时间: "
};

class TqzRun
{
public:
    // All referenced objects are owned by the caller and must outlive the run object.
    // `codeTable` maps node names to codes ("列计算式").
    TqzRun(TqzProject &project, TqzExcel &excel, const TqzTranslate &codeTable, TqzRunHost &host);
    ~TqzRun();
    TqzRun(const TqzRun &) = delete;
    TqzRun &operator=(const TqzRun &) = delete;

    // actCompile_NodeExecute: the subtree of the host's selected item (the first item is
    // selected when none is).
    TqzRunResult runSelected();
    // actCompileProjectExecute: selects the first item, then runSelected().
    TqzRunResult runProject();
    // actCompile_PageExecute: the node named like `tabCaption` (FindNodeByName), or nothing.
    TqzRunResult runPage(const QString &tabCaption);

    // True from the start of a run to its end; run commands refuse to start while it is.
    bool isRunning() const;
    // Asks the run in progress to stop at the next step; it then ends in the orderly way.
    void requestStop();

    // The pipeline's parts, public for the window and the tests.
    void ReadValuesFromReport();
    void SendResultsToReport();
};

} // namespace tessarin
