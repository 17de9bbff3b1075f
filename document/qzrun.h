#pragma once
// The run pipeline: reads the values typed into the report pages into the nodes, normalises
// them, evaluates the chosen subtree bottom-up through the script engine with a numbered step
// log, and writes the results back into the pages. Headless: the project window, tessarin-cli
// and the tests drive this same class; what only a window has comes through TqzRunHost.
#include <QHash>
#include <QList>
#include <QModelIndex>
#include <QPair>
#include <QPersistentModelIndex>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>

namespace tessarin {

class TqzComplier;
class TqzWorkbook;
class TqzNode;
class TqzProject;
class TqzProjectTree;
class TqzTranslate;

// WM_RUNPROGRESS: wParam 0 start (lParam = progress maximum), 1 position (lParam = visit
// count), 2 end (lParam 0).
inline constexpr int WM_RUNPROGRESS = 1125;

// One evaluated step of a run, as its log shows it: the node, its formula in names, with the
// numbers put in, and its result or the reason it failed.
struct TqzRunStep
{
    int number = 0;        // as logged, "第N步"
    int nodeIndex = -1;    // the node's absolute index in the tree
    QString name;          // the node's name, caption and unit
    QString caption;
    QString unit;
    QString formula;       // in names
    QString substituted;   // with the numbers put in; empty when the step failed before
    bool failed = false;
    QString result;        // the value, when the step succeeded
    QString error;         // the reason, when it failed
};

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
    virtual void postProgress(int wParam, int lParam)
    {
        (void)wParam;
        (void)lParam;
    }
    // "Let the user interface process its pending messages", after each logged step.
    virtual void processPendingMessages() {}
    // A step has been evaluated and logged (for the calculation book).
    virtual void stepDone(const TqzRunStep &step) { (void)step; }
    // The tree's selection: the item selected now (invalid when none) and selecting one (which
    // in a window fires the tree's change handler).
    virtual QModelIndex selectedItem() const { return m_selected; }
    virtual void selectItem(const QModelIndex &item) { m_selected = item; }

private:
    QPersistentModelIndex m_selected;
};

// The work a run may do: entering a subtree costs its number of items, and a run may spend
// RunWorkBase plus RunWorkPerItem per item of the tree. A plain run spends at most the tree's
// size; only namesake subtrees nested into each other can spend more, up to its square, and
// such a run ends with a message instead.
inline constexpr qint64 RunWorkBase = 200'000;
inline constexpr qint64 RunWorkPerItem = 4;

// What one run did.
struct TqzRunResult
{
    bool started = false;  // false when the tree was empty or no node matched (nothing happened)
    bool refused = false;  // a run was already in progress: nothing happened
    bool aborted = false;  // ended early in the orderly way (no interpreter, an error, a stop)
    QString abortMessage;  // why, as logged
    int steps = 0;         // evaluated steps, nested namesake calls included
    int failedSteps = 0;   // of those, the ones whose evaluation failed
    quint32 elapsedMs = 0; // as logged in "编译时间: "
    // The failed steps in order: the node's name and the interpreter's message.
    QList<QPair<QString, QString>> failures;
    // Inputs whose cells were empty and that kept the node's value, in tree order.
    QStringList emptyInputs;
};

class TqzRun
{
public:
    // All referenced objects are owned by the caller and must outlive the run object.
    // `codeTable` maps node names to codes ("列计算式").
    TqzRun(TqzProject &project,
           TqzWorkbook &workbook,
           const TqzTranslate &codeTable,
           TqzRunHost &host);
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
    // Does nothing when no run is in progress.
    void requestStop();

    // The pipeline's parts, public for the window and the tests.

    // Every node whose name a page answers to takes the page's text. All or nothing: a tag
    // that cannot be parsed throws Error before any node changes.
    void ReadValuesFromReport();
    // Each distinct name's value (its first item in tree order; names compared without regard
    // to letter case) into the cells tagged with it, then the page-number fields.
    void SendResultsToReport();
    // Over the whole tree: an item with children and a script gets "0.0"; a leaf without a
    // script whose value is an integer literal (optional sign, digits, blanks around) gets
    // ".0" appended, so the interpreter does not divide it as an integer.
    void NormaliseValues();
    // Evaluates the subtree of `item` in reverse pre-order, with the step log. Only during a
    // run (it needs the run's compiler); does nothing otherwise.
    void CompileSubtree(const QModelIndex &item);
    // The last item of `item`'s subtree in pre-order (the item itself when it has no children).
    QModelIndex LastDescendant(const QModelIndex &item) const;
    // The first item among absolute indexes 0 .. index(item) - 2 whose name equals the item's
    // exactly; invalid when there is none.
    QModelIndex FindEarlierNamesake(const QModelIndex &item) const;

private:
    TqzProjectTree &tree() const;
    int earlierNamesake(int absoluteIndex) const;
    void compileRange(int first);
    void evaluateStep(int index, int step);
    void failStep(TqzNode *node, const QString &message);
    void stepDone();

    TqzProject &m_project;
    TqzWorkbook &m_workbook;
    const TqzTranslate &m_codeTable;
    TqzRunHost &m_host;

    bool m_running = false;
    bool m_stopRequested = false;
    // The run's compiler, from the binding check at the start of a run to its end.
    std::unique_ptr<TqzComplier> Complier;
    TqzRunResult m_result;
    // Namesake subtrees already entered in place of a leaf during this run (absolute indexes):
    // each is evaluated that way at most once, which also ends a leaf that leads back to its
    // own ancestor.
    QSet<int> m_namesakesDone;
    // Items of the entered subtrees so far in this run, and what it may reach.
    qint64 m_work = 0;
    qint64 m_workLimit = 0;
    // Names whose step failed in this run, in the order they first failed. While a name has
    // not succeeded since, the value table holds a marker in its place (failureMarker): a
    // formula that uses it shows the marker once substituted, found in one pass however many
    // steps failed.
    std::vector<QString> m_failedNames;
    QHash<QString, int> m_failedNow; // name -> its index in m_failedNames, while it stays failed
    // The value a node enters the value table with: its marker while it stays failed.
    QString tableValue(const TqzNode &node) const;
    // Name -> absolute index of its first item, built once per run for FindEarlierNamesake.
    mutable QHash<QString, int> m_firstOfName;
    mutable bool m_firstOfNameValid = false;
};

// The text a value enters the run's value table with: a negative number in parentheses, so
// that "A-B" with B = -3.5 reads "5.0-(-3.5)"; anything else unchanged.
QString substitutionText(const QString &value);

// The text a failed name takes in the value table while it stays failed: the `index`-th name
// that failed in the run, in code units no name read from a project can hold.
QString failureMarker(int index);
// The index of the first failure marker in a substituted formula whose index is below
// `failures`, else -1.
int failedReference(const QString &substituted, size_t failures);

// True for an integer literal: optional blanks, an optional sign, digits, optional blanks.
bool isIntegerLiteral(const QString &text);

// Each name's first item in tree order (absolute index), letter case significant.
QHash<QString, int> firstItemsOfNames(const TqzProjectTree &tree);
// The item a run evaluates in place of the leaf at `absoluteIndex` named `name`: the first item
// of that name when it lies at least two places before, else -1 (the item just before, or the
// item itself, is never such a namesake).
int earlierNamesakeOf(const QHash<QString, int> &firstOfName,
                      const QString &name,
                      int absoluteIndex);

} // namespace tessarin
