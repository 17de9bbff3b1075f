#pragma once
// The project window: one open project's node tree, its workbook of report pages under page
// tabs, the message pane and the run and test-data commands, wired to the headless run.
#include "calcbook.h"
#include "editcommands.h"
#include "qzrun.h"

#include <QDomElement>
#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QWidget>

#include <functional>
#include <memory>

class QAction;
class QActionGroup;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QScrollArea;
class QSplitter;
class QTabBar;
class QTreeView;
class QUndoStack;

namespace tessarin {

class ProjectDocument;
class TqzExcel;
class TqzProject;
class TqzProjectFile;
class TqzReport;
class TqzRunLog;
class TqzTranslate;
class TReportCell;
class TqzCheckPanel;
class TqzNodeProperties;
class TqzNodeTreeView;
class TqzTreeEditor;
struct ProjectFinding;
struct TCellTextEdit;

class TfmWinIDE : public QWidget, public TqzRunHost, private TqzEditTarget
{
    Q_OBJECT

public:
    // Asks for a test-data file to open: (parent, caption, folder, filter) -> the chosen path,
    // or an empty text when the user cancelled.
    using OpenFileDialog
        = std::function<QString(QWidget *, const QString &, const QString &, const QString &)>;

    // The project with an empty tree, the workbook with one empty page under the tab "默认页",
    // an empty code table; not yet loaded.
    explicit TfmWinIDE(QWidget *parent = nullptr);
    // Leaves the undo group, then frees the run, the page views and the document.
    ~TfmWinIDE() override;

    // ---- owned objects (never null while the window lives) ----
    // The project the window views: tree, workbook, code table, file, run log, undo stack.
    ProjectDocument &document() const { return *m_document; }
    TqzProject &project() const { return *Project; }
    TqzExcel &excel() const { return *Excel; }
    const TqzTranslate &codeTable() const { return *CodeTable; }
    // The document the project came from, its file name, and saving the workbook back.
    TqzProjectFile &projectFile() const { return *m_file; }
    // False until a project has been loaded into the window.
    bool isLoaded() const { return Loaded; }
    // The project's undo steps: texts typed, deleted or pasted, runs, test data loaded, page
    // edits. Loading a project empties it and marks the loaded state clean.
    QUndoStack *undoStack() const { return m_undoStack; }
    // Runs `edit`, a structural or format change of `page` (lines, cells, merges, widths,
    // heights, page setup, formats), as one undo step named `name`; nothing is recorded when
    // the page stream did not change. An Error thrown by `edit` passes on, and nothing is
    // recorded.
    void editPage(TqzReport *page, const QString &name, const std::function<void()> &edit);

    // ---- loading (all or nothing: on Error the window keeps what it showed; refused with
    // Error while a run is in progress) ----
    // Loads a project document held in memory; `where` names it in messages, `caption`
    // becomes the window title.
    void loadProjectBytes(const QByteArray &document, const QString &where, const QString &caption);
    // Loads a project file; the window title becomes the file's name.
    void loadProjectFile(const QString &fileName);
    // Starts a new calculation from scratch: an empty tree, the one empty page, the tree panel
    // with the node properties shown; saving asks for a file.
    void startNewProject(const QString &caption);
    // Fills the code table with every node's Name and Caption, in tree order.
    void FillCodeTable();

    // ---- what the main window uses ----
    // The View menu, rebuilt on every opening; the main window places it after its File menu.
    QMenu *viewMenu() const { return mniView; }
    // The object that receives TqzRunProgressEvent during runs (none: progress is dropped).
    void setProgressReceiver(QObject *receiver) { m_progressReceiver = receiver; }
    QObject *progressReceiver() const { return m_progressReceiver; }
    // Replaces the dialog "加载测试数据(&L)..." asks with (tests answer without a dialog).
    void setOpenFileDialog(OpenFileDialog dialog) { m_openDialog = std::move(dialog); }
    // True while a run is in progress.
    bool isRunning() const;

    // ---- what the pages tell the user ----
    // What to do about stale results before they leave the program.
    enum class StaleChoice { Calculate, Continue, Cancel };
    using StaleQuestion = std::function<StaleChoice(QWidget *parent)>;
    // Replaces the question "结果未更新，是否先计算？" (tests answer without a dialog).
    void setStaleQuestion(StaleQuestion question) { m_staleQuestion = std::move(question); }
    // Names of results computed before an input they depend on changed (greyed on the pages).
    QStringList staleNames() const;
    bool hasStaleResults() const { return !m_staleNames.isEmpty(); }
    // Called before results leave the program (print, PDF, test data): confirms open edits and,
    // with stale results, asks whether to calculate first (and does). With `needRun`, a project
    // not run since it was loaded counts as stale too (the calculation book needs the steps).
    // False when the user cancelled.
    bool settleStaleResults(bool needRun = false);
    // The calculation book of what the window holds: its pages, the steps of its last run and
    // its inputs with their origin (typed, default, test data).
    CalcBook calculationBook() const;
    // Confirms an edit box open on any page; true when one was open.
    bool endEdits();
    // The state of the results for the status bar ("结果未更新，按 F9 计算", "计算完成：2 步失败",
    // ...), and whether it reports a failure (shown in red).
    QString statusText() const { return m_statusText; }
    bool statusIsError() const { return m_statusError; }
    // The page that received the last mouse press (none when it has been freed).
    TqzReport *currentPage() const;

    // Regenerates the page entries of `menu` from position 3 on: one radio entry per tab,
    // the current tab's checked.
    void RebuildPageMenu(QMenu *menu);

    // ---- TqzRunHost: the message pane, cursor, progress and tree selection ----
    void clearLog() override;
    void stepDone(const TqzRunStep &step) override;
    void appendLog(const QString &line) override;
    void beginBusy() override;
    void endBusy() override;
    void postProgress(int wParam, int lParam) override;
    void processPendingMessages() override;
    QModelIndex selectedItem() const override;
    void selectItem(const QModelIndex &item) override;

    // The log of the last run or command, which the message pane shows.
    const TqzRunLog &runLog() const { return *m_log; }
    QStringList logLines() const;

    // ---- components (object names as below) ----
    QMenuBar *mmIDE = nullptr;
    QMenu *mniView = nullptr;
    QAction *mniViewManager = nullptr;
    QAction *mniViewMsg = nullptr;
    QAction *N3 = nullptr;
    QSplitter *splitClient = nullptr; // holds the tree panel and the report panel
    QSplitter *splitBottom = nullptr; // holds the panels above and the message pane
    QWidget *pnlProjectManager = nullptr;
    TqzNodeTreeView *tvProject = nullptr;
    QSplitter *splitTree = nullptr; // the tree above the node properties
    TqzNodeProperties *pnlNodeProperties = nullptr;
    QWidget *splClient = nullptr; // the handle between tree panel and report panel
    QWidget *pnlReport = nullptr;
    QScrollArea *slbReport = nullptr;
    QTabBar *tsShowPages = nullptr;
    QWidget *splBottom = nullptr; // the handle above the message pane
    QPlainTextEdit *mmoMessage = nullptr;
    QMenu *pmuReportTab = nullptr;
    QMenu *pmReport = nullptr;
    QMenu *pmProject = nullptr;
    QAction *actCompile_Node = nullptr;
    QAction *actCompile_Page = nullptr;
    QAction *actCompileProject = nullptr;
    QAction *actSaveExamData = nullptr;
    QAction *actLoadExamData = nullptr;
    QAction *actCheckProject = nullptr;
    // Node-tree editing (shortcuts while the tree has the focus).
    QAction *actAddChildNode = nullptr;
    QAction *actAddSiblingNode = nullptr;
    QAction *actDeleteNode = nullptr;
    QAction *actMoveNodeUp = nullptr;
    QAction *actMoveNodeDown = nullptr;
    QAction *actIndentNode = nullptr;
    QAction *actOutdentNode = nullptr;
    QAction *actCopyNode = nullptr;
    QAction *actPasteNode = nullptr;
    // Binding the selected cells to the node selected in the tree, as inputs or results.
    QAction *actBindInput = nullptr;
    QAction *actBindResult = nullptr;
    QAction *actUnbindCell = nullptr;
    // The page designer: table editing and cell formats of the current page's selected cells,
    // each one undo step; in the cell popup as "页面设计(&D)".
    QMenu *pmDesign = nullptr;
    // Asks for what a design step needs: ("table", QSize(cols, rows)), ("font", QFont),
    // ("colour", QColor), ("format", QString); an invalid answer cancels. Tests answer without a
    // dialog.
    using DesignQuestion = std::function<QVariant(QWidget *, const QString &, const QVariant &)>;
    void setDesignQuestion(DesignQuestion question) { m_designQuestion = std::move(question); }
    // The answer of the design question, or of the program's own dialog for `what` ("table",
    // "font", "colour", "format", "setup", "chart", "tab name").
    QVariant askDesign(const QString &what, const QVariant &current);
    // The node-tree editor: every tree edit is a step of the undo stack.
    TqzTreeEditor &treeEditor() const { return *m_treeEditor; }
    TqzCheckPanel *m_checkPanel = nullptr; // made on first use; a child

    // ---- handlers ----
    void tvProjectChange(const QModelIndex &item);
    void tsShowPagesChange(int newTab);
    void pmuReportTabPopup();
    void mniViewClick();
    // Show or hide the tree panel / the message pane with its splitter as the entry's check
    // mark says (a click has already inverted it).
    void mniViewManagerClick();
    void mniViewMsgClick();
    // Also after loads, runs and test data, whose new texts can change page heights.
    void slbReportResize();
    void ReportMouseDown(TqzReport *page, Qt::MouseButton button, const QPoint &pos);
    void PageMenuItemClick(QAction *entry);
    void actCompile_NodeExecute();
    void actCompile_PageExecute();
    void actCompileProjectExecute();
    // "检查工程": checks the project as it stands (typed values included) and lists the findings.
    void actCheckProjectExecute();
    // Selects the finding's node in the tree, or shows its page and selects its cell.
    void showFinding(const ProjectFinding &finding);
    void actSaveExamDataExecute();
    void actLoadExamDataExecute();
    // Runs a tree edit; a refusal is shown beside the tree and in the status bar. The item the
    // edit returns is selected.
    // `stale`, when given, names what the edit leaves out of date (marked as stale after it).
    void editTree(const std::function<QModelIndex()> &edit,
                  const std::function<QSet<QString>()> &stale = {});
    // Binds the selected cells of the current page to the node selected in the tree
    // ("[2][1][0][NAME]" for an input, "[2][0][0][NAME]" for a result), or unbinds them.
    void bindSelectedCells(int kind);
    // Tab edits of the tab popup, each one undo step: a new tab with one empty page after the
    // current one, the current tab removed with its pages, renamed, moved left or right.
    QAction *actAddTab = nullptr;
    QAction *actRemoveTab = nullptr;
    QAction *actRenameTab = nullptr;
    QAction *actTabLeft = nullptr;
    QAction *actTabRight = nullptr;
    // One page of the workbook as a tab edit rearranges it: its stored element, its position
    // before the edit, and its tab.
    struct TabPage
    {
        QDomElement element;
        int oldIndex = -1;
        int owner = 0;
    };
    // Runs `edit` on the tab names and pages (refused with Error), then shows tab `showTab`;
    // one undo step named `name`.
    void editTabs(const QString &name,
                  const std::function<int(QStringList &names, QList<TabPage> &pages)> &edit);
    // Renames the node of `item` as one undo step with what uses the name: the formulas that use
    // it and the cells bound to it follow, unless another node keeps the old name. Throws Error
    // when the name is refused.
    void renameNode(const QModelIndex &item, const QString &name);
    // Runs `change` on the workbook (its charts, say) as one undo step named `name`; nothing is
    // recorded when the workbook did not change.
    void editWorkbook(const QString &name, const std::function<void()> &change);
    // "插入图表...": a chart over the selected cells, of outputs against one input varied over a
    // range, asked for as ("chart", QVariantMap of title, input, from, to, points, outputs).
    void insertChart();
    // Runs a design step on the current page's selection; refused without a page or cells.
    void designPage(const QString &name, bool needsCells, const std::function<void(TqzReport &)> &step);

signals:
    void statusChanged();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createComponents();
    void createActions();
    void createMenus();
    // The page area's content follows the viewport width (wider when a shown page needs it);
    // true when the width changed, so the pages need arranging again.
    bool fitContentWidth();
    // ... and reaches below the last shown page (at least the viewport's height).
    void fitContentHeight();
    void finishLoading(const QString &caption);
    void refuseDuringRun(const QString &where) const;
    // Runs `what`; `scope` is the item whose subtree it evaluates (invalid: the whole tree).
    void runWith(const std::function<TqzRunResult(TqzRun &)> &what, const QModelIndex &scope);
    // After a run: stale marks of the evaluated names go, failed results and empty inputs get
    // theirs, the status says how it went and a failure opens the message pane at it.
    void showRunOutcome(const TqzRunResult &result, const QSet<QString> &evaluated);
    void setStatus(const QString &text, bool error);
    // Input and result names, and which results use which names, from the loaded tree.
    void rebuildNameTables();
    // `name` and every result whose formula uses it, directly or through other results.
    QSet<QString> dependentsOf(const QString &name) const;
    void markStale(const QSet<QString> &names);
    void pageCellEdited(TqzReport *page, TReportCell *cell);
    // One user operation on a page's texts: stale marks as for each cell, then one undo step.
    void pageTextsEdited(TqzReport *page, const QList<TCellTextEdit> &edits);
    // The workbook reported a change; one that no undo step records leaves the clean state.
    void workbookChanged();
    // A width or height drag of `page` began / ended: it becomes one undo step.
    void pageDragStarted(TqzReport *page);
    void pageDragFinished(TqzReport *page);

    // ---- undo: snapshots and the TqzEditTarget side of the undo steps ----
    TqzResultView resultView() const;
    QList<QList<QStringList>> pageTexts() const;
    QStringList nodeValues() const;
    // Runs `change` (a run, loading test data) and records what it did to texts, values and
    // marks as one undo step named `name`.
    void recordTexts(const QString &name, const std::function<void()> &change);
    void applyTexts(const QList<TqzCellText> &cells,
                    const QList<TqzNodeValue> &nodes,
                    bool after) override;
    void applyPageStream(int page, const QByteArray &stream) override;
    void applyResultView(const TqzResultView &view) override;
    void applyWorkbook(const TqzWorkbookState &state) override;
    TqzWorkbookState workbookState() const;
    void setRunActionsEnabled(bool enabled);
    // After a tree step: names, codes and the panel follow the tree; saving writes the tree
    // while it differs from the saved one.
    void treeEdited(const QModelIndex &item);
    void refreshNodeWords();
    void flushLog();
    void closeAfterRun();

    // The destructor frees the run, then the page views, then the document.
    std::unique_ptr<ProjectDocument> m_document;
    // Parts of the document, under the names the window has always used.
    TqzProjectFile *m_file = nullptr;
    TqzProject *Project = nullptr;
    TqzTranslate *CodeTable = nullptr;
    TqzRunLog *m_log = nullptr;
    QUndoStack *m_undoStack = nullptr;
    TqzExcel *Excel = nullptr; // the workbook's view, a child of the page area's content
    std::unique_ptr<TqzRun> m_run;
    TqzTreeEditor *m_treeEditor = nullptr; // a child
    DesignQuestion m_designQuestion;
    void createDesignMenu();
    // A run, a test-data load or a page edit is being recorded as one step, or a step is
    // being applied: the workbook's change signals belong to it.
    bool m_recording = false;
    bool m_stepChangePending = false; // the change signal of a typed step is still to come
    bool m_typing = false;            // an edit box has changed a cell's text since it opened
    // A width or height drag under way on this page: recorded as one undo step when it ends,
    // against the page as it was when it began.
    QPointer<TqzReport> m_dragPage;
    QByteArray m_dragStream;
    TqzResultView m_dragView;
    bool Loaded = false;

    QWidget *m_content = nullptr; // the scroll area's content: parent of the workbook's pages
    QPointer<TqzReport> m_currentPage;
    QPointer<QObject> m_progressReceiver;
    OpenFileDialog m_openDialog;
    QActionGroup *m_pageGroup = nullptr;
    qsizetype m_shownLines = 0; // lines of the log the pane shows; the rest are pending
    QElapsedTimer m_sinceFlush; // since the pane last took the pending lines
    int m_busyDepth = 0;
    bool m_closeRequested = false;        // a close arrived during a run
    QSet<QString> m_inputNames;           // nodes without a formula
    QSet<QString> m_resultNames;          // nodes with a formula
    QHash<QString, QStringList> m_usedBy; // name -> results whose formulas use it
    QSet<QString> m_staleNames;
    QString m_statusText;
    bool m_statusError = false;
    StaleQuestion m_staleQuestion;
    // For the calculation book: the steps of the last run and the inputs it found empty, whether
    // the project ran since it was loaded, and the inputs last given by test data.
    QList<TqzRunStep> m_steps;
    QStringList m_emptyInputs;
    bool m_ranSinceLoad = false;
    QSet<QString> m_fromTestData;
};

} // namespace tessarin
