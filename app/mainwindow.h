#pragma once
// The main window TfmMain: the multiple-document frame of the project windows, with the file,
// run, print, window, edit, tools and help commands, the status bar with the run's progress
// bar, the packaged project, the recovery copies of changed windows, the start-up
// reachability check and the update step at exit.
#include "autosave.h"
#include "helpwindow.h"
#include "mainservices.h"

#include <QByteArray>
#include <QMainWindow>
#include <QPointer>

#include <memory>

class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QPrinter;
class QProgressBar;
class QUndoGroup;
class QTimer;
class QToolBar;

namespace tessarin {

class TfmWinIDE;
class TMainStatusBar;

// The choices a test makes differently from the program.
struct TfmMainSettings
{
    // The maker's web host, pinged once newsIntervalMs after start.
    QString newsHost = QStringLiteral("www.orvane.com");
    int newsIntervalMs = 60000;
    // Write "del.bat" and start the update helper when the window is destroyed.
    bool updateAtExit = true;
    // The longest time from a change to the copy of the project in the recovery folder.
    int autosaveIntervalMs = autosaveIntervalFromEnvironment();
    // The recovery folder; the user's state folder when empty.
    QString recoveryFolder;
};

class TfmMain : public QMainWindow
{
    Q_OBJECT

public:
    // Fetches the packaged project into ProjectStream ("calcpack.dll" in the program
    // directory; nothing when the module or its entry is missing). `services` answers for the
    // user and the desktop (the real dialogs when null).
    explicit TfmMain(const TfmMainSettings &settings = {},
                     std::unique_ptr<TMainServices> services = nullptr,
                     QWidget *parent = nullptr);
    ~TfmMain() override;

    // The maker's web address, the text of status-bar panel 2.
    static QString webAddress();
    // Filter of the project-file dialogs.
    static QString projectFileFilter();

    // The packaged project, as GetFLW wrote it.
    const QByteArray &projectStream() const { return ProjectStream; }
    // The progress bar of the run in progress, or null.
    QProgressBar *progressBar() const { return ProgressBar; }
    // The active project window, or null.
    TfmWinIDE *activeProjectWindow() const;
    // The active project window unless a run is in progress in it, or null.
    TfmWinIDE *idleProjectWindow() const;
    QList<TfmWinIDE *> projectWindows() const;
    QMdiArea *mdiArea() const { return m_mdi; }
    TMainStatusBar *statMain() const { return m_status; }
    TMainServices &services() const { return *m_services; }
    QTimer *newsTimer() const { return tmrVOKNews; }
    // The copies of changed, unsaved projects kept for recovery after a crash.
    TRecoveryStore &recoveryStore() const { return *m_recovery; }
    // The key of the window's recovery copy in recoveryStore().
    static QString recoveryKey(const TfmWinIDE *window);

    // Whether the window's pages changed since it was loaded or saved.
    bool isModified(const TfmWinIDE *window) const;
    void setModified(TfmWinIDE *window, bool modified);
    // The `*` of a window follows its undo stack: changed unless at the clean (saved or loaded)
    // state, or while an edit box is open on one of its pages.
    void updateModified(TfmWinIDE *window);

    // Opens a project file in a new project window; on failure says what, where and why in
    // one message box and keeps no window. Returns the window, or null.
    TfmWinIDE *openProjectFile(const QString &fileName);

    // The handler of WM_RUNPROGRESS (wParam 0 start, 1 position, 2 end).
    void WMRunProgress(int wParam, int lParam);

    // ---- actions of actlstMain and menu entries (object names as the fields) ----
    QAction *actNew = nullptr;
    QAction *actOpen = nullptr;
    QAction *actVOKFLW = nullptr;
    QAction *actSave = nullptr;
    QAction *actSaveAs = nullptr;
    QAction *actCompileProject = nullptr;
    QAction *actPrint = nullptr;
    QAction *actPrintCurrent = nullptr;
    QAction *actPrintPreview = nullptr;
    QAction *actExportPdf = nullptr;
    QAction *actExportBook = nullptr;
    QAction *actVOKHelp = nullptr;
    QAction *actAbout = nullptr;
    QAction *mniExit = nullptr;
    QAction *EditCut = nullptr;
    QAction *EditCopy = nullptr;
    QAction *EditPaste = nullptr;
    QAction *EditUndo = nullptr;
    // Redo of the project's undo steps (or of the focused field's).
    QAction *EditRedo = nullptr;
    QAction *EditDelete = nullptr;
    QAction *WindowCascade = nullptr;
    QAction *WindowTileHorizontal = nullptr;
    QAction *WindowTileVertical = nullptr;
    QAction *WindowClose = nullptr;
    QAction *WindowMinimizeAll = nullptr;
    QAction *WindowArrange = nullptr;
    QAction *mniVOKUpdate = nullptr;
    QAction *mniVOKNews = nullptr;
    QAction *mniUnitConv = nullptr;
    QAction *mniOptions = nullptr;
    QMenu *mniFile = nullptr;
    QMenu *mniWindow = nullptr;
    QMenu *mniTools = nullptr;
    QMenu *mniHelp = nullptr;
    QToolBar *ToolBar1 = nullptr;

    // ---- handlers ----
    void FormShow();
    void actNewExecute();
    void actOpenExecute();
    void actVOKFLWExecute();
    void actSaveExecute();
    void actSaveAsExecute();
    void actCompileProjectExecute();
    void actPrintExecute();
    void actPrintCurrentExecute();
    void actPrintPreviewExecute();
    void actExportPdfExecute();
    // File → "导出计算书...": the active project's calculation book as PDF, run first on request
    // when its results are out of date or it has not been run since it was loaded.
    void actExportBookExecute();
    void actVOKHelpExecute();
    void actAboutExecute();
    void mniVOKUpdateClick();
    void mniVOKNewsClick();
    void mniUnitConvClick();
    void tmrVOKNewsTimer();
    void statMainDblClick(const QPoint &globalPos);
    // The active project window's result state in status panel 0 (red for failures).
    void showResultStatus();
    // The help window while it is open, or null.
    THelpWindow *helpWindow() const { return m_help; }

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void createActions();
    void createMenus();
    void createToolBar();
    void createStatusBar();
    // Adds a loaded project window to the frame and makes it the active child.
    void addProjectWindow(TfmWinIDE *window);
    // Merges the active project window's View menu after the File menu.
    void mergeViewMenu();
    void updateCommands();
    void rebuildWindowMenu();
    void tileWindows(Qt::Orientation orientation);
    void arrangeIcons();
    void editAction(QAction *action);
    void updateEditActions();
    // Saves the window to `fileName` (its own file when empty); false after a failure, which
    // has been reported.
    bool saveWindow(TfmWinIDE *window, const QString &fileName);
    bool saveWindowAs(TfmWinIDE *window);
    // Asks whether to save a changed window before it closes; false when the user cancelled or
    // the save failed.
    bool confirmClose(TfmWinIDE *window);
    void setCaption(TfmWinIDE *window, const QString &caption);
    void print(bool currentOnly);
    void openCompanion(const QString &relativePath, bool program);
    void callService(const char *entry);
    void FormDestroy();
    // ---- recovery copies ----
    // Starts the window's autosave timer unless it is already running, so a stream of changes
    // is copied at least once per interval.
    void scheduleAutosave(TfmWinIDE *window);
    // Writes the window's recovery copy now (after the run, when one is in progress); a
    // failure is noted once in the status bar and changes nothing else.
    void autosaveWindow(TfmWinIDE *window);
    // Removes the window's recovery copy (saved, or closed without keeping the changes).
    void dropRecovery(TfmWinIDE *window);
    // Lists the copies a crashed program left and asks what to do with them.
    void offerRecovery();
    // Opens a copy in a new window marked changed, bound to its original file; false when the
    // copy could not be read (said in an error box; the copy stays).
    bool recoverEntry(const TRecoveryEntry &entry);

    TfmMainSettings m_settings;
    std::unique_ptr<TMainServices> m_services;
    std::unique_ptr<TRecoveryStore> m_recovery;
    // The packaged project, filled once in the constructor.
    QByteArray ProjectStream;
    // Owned by statMain while a run shows it.
    QProgressBar *ProgressBar = nullptr;
    QMdiArea *m_mdi = nullptr;
    TMainStatusBar *m_status = nullptr;
    QTimer *tmrVOKNews = nullptr;
    QPointer<QMenu> m_mergedView;
    QPointer<QMenu> m_mergedDesign;
    // The tool bar's way into the active window's page designer.
    QAction *m_designButton = nullptr;
    QAction *m_windowListSeparator = nullptr;
    QPointer<QWidget> m_editTarget;
    // One undo group across the project windows: its active stack is the active window's.
    QUndoGroup *m_undoGroup = nullptr;
    QPointer<THelpWindow> m_help;
    bool m_shown = false;
    bool m_destroyed = false;
    // The program was asked to end while a window finished its run.
    bool m_exitPending = false;
};

} // namespace tessarin
