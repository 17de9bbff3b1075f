#include "mainwindow.h"

#include "atomicfile.h"
#include "dynlib.h"
#include "calcbook.h"
#include "error.h"
#include "helpwindow.h"
#include "icmpecho.h"
#include "icons.h"
#include "mainservices.h"
#include "packagedproject.h"
#include "programdir.h"
#include "projectfile.h"
#include "qzexcel.h"
#include "qzproject.h"
#include "runprogress.h"
#include "statusbar.h"
#include "svcpanel.h"
#include "updatebatch.h"
#include "winide.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProgressBar>
#include <QScreen>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUndoGroup>
#include <QUndoStack>
#include <QUrl>

namespace tessarin {

namespace {

// Why a project file did not open, for the user: a file that is missing, a folder or not
// readable in Chinese alone, anything else under a Chinese headline with the reader's words.
QString openFailure(const QString &fileName, const QString &detail)
{
    const QFileInfo info(fileName);
    const QString shown = QDir::toNativeSeparators(fileName);
    if (!info.exists())
        return QStringLiteral("无法打开 %1：文件不存在").arg(shown);
    if (info.isDir())
        return QStringLiteral("无法打开 %1：这是一个文件夹").arg(shown);
    if (!info.isReadable())
        return QStringLiteral("无法打开 %1：没有读取权限").arg(shown);
    return QStringLiteral("无法打开工程文件 %1\n%2").arg(shown, detail);
}

// A hint "short|long": the short part is the tool tip, the long part the status-bar text; a
// hint without a bar serves as both.
void setHint(QAction *action, const QString &hint)
{
    const int bar = hint.indexOf(QLatin1Char('|'));
    action->setToolTip(bar < 0 ? hint : hint.left(bar));
    action->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
}

const char *const captionProperty = "tessarinCaption";
const char *const modifiedProperty = "tessarinModified";
const char *const recoveryKeyProperty = "tessarinRecoveryKey";
const char *const autosaveFailedProperty = "tessarinAutosaveFailed";

} // namespace

// Stands between one project window and the main window: receives the window's run progress
// and its workbook's content changes (typing, a run's results, loaded test data), so the main
// window knows which window they come from.
class TProjectWindowWatch : public QObject
{
    Q_OBJECT

public:
    TProjectWindowWatch(TfmMain *main, TfmWinIDE *window)
        : QObject(window)
        , m_main(main)
        , m_window(window)
    {}

    bool event(QEvent *event) override
    {
        if (event->type() != TqzRunProgressEvent::EventType)
            return QObject::event(event);
        const auto *progress = static_cast<TqzRunProgressEvent *>(event);
        m_main->WMRunProgress(progress->wParam, progress->lParam);
        return true;
    }

    void contentChanged() { m_main->updateModified(m_window); }

private:
    TfmMain *m_main;
    TfmWinIDE *m_window;
};

TfmMain::TfmMain(const TfmMainSettings &settings,
                 std::unique_ptr<TMainServices> services,
                 QWidget *parent)
    : QMainWindow(parent)
    , m_settings(settings)
    , m_services(services ? std::move(services) : std::make_unique<TMainServices>())
    , m_recovery(std::make_unique<TRecoveryStore>(settings.recoveryFolder.isEmpty()
                                                      ? TRecoveryStore::defaultFolder()
                                                      : settings.recoveryFolder))
{
    setObjectName(QStringLiteral("fmMain"));
    setWindowTitle(QStringLiteral("Orvane化工计算平台 - 化工专业泵计算 1.1"));
    setWindowIcon(mainImage(imgPump));
    setFont(QFont(QStringLiteral("宋体"), 9));
    resize(696, 480);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(696 / 2, 480 / 2));
    setAcceptDrops(true);

    m_mdi = new QMdiArea(this);
    m_mdi->setObjectName(QStringLiteral("mdiClient"));
    // Background colour 11770523 (0x00B39B9B as blue, green, red).
    m_mdi->setBackground(QColor(0x9B, 0x9B, 0xB3));
    setCentralWidget(m_mdi);
    m_undoGroup = new QUndoGroup(this);
    connect(m_mdi, &QMdiArea::subWindowActivated, this, [this] {
        TfmWinIDE *window = activeProjectWindow();
        m_undoGroup->setActiveStack(window ? window->undoStack() : nullptr);
        mergeViewMenu();
        updateCommands();
        showResultStatus();
    });

    createActions();
    createMenus();
    createToolBar();
    createStatusBar();
    connect(qApp, &QApplication::focusChanged, this, [this] { updateEditActions(); });

    tmrVOKNews = new QTimer(this);
    tmrVOKNews->setObjectName(QStringLiteral("tmrVOKNews"));
    tmrVOKNews->setInterval(m_settings.newsIntervalMs);
    connect(tmrVOKNews, &QTimer::timeout, this, &TfmMain::tmrVOKNewsTimer);
    tmrVOKNews->start();

    ProjectStream = LoadPackagedProject(QStringLiteral("calcpack.dll"));
    updateCommands();
    updateEditActions();
}

TfmMain::~TfmMain()
{
    // The child windows close while the frame is taken apart; nothing may react to that.
    disconnect(m_mdi, nullptr, this, nullptr);
    disconnect(qApp, nullptr, this, nullptr);
    disconnect(m_undoGroup, nullptr, this, nullptr);
    for (TfmWinIDE *window : projectWindows())
        disconnect(window->undoStack(), nullptr, this, nullptr);
    FormDestroy();
}

QString TfmMain::webAddress()
{
    return QStringLiteral("http://www.orvane.com");
}

QString TfmMain::projectFileFilter()
{
    // "QZ Project File (.flw)|*.flw" in Qt's form.
    return QStringLiteral("QZ Project File (.flw) (*.flw)");
}

void TfmMain::createActions()
{
    struct ActionDef
    {
        QAction **field;
        const char *name;
        QString caption;
        QString hint;
        int image;
        QKeySequence shortcut;
        void (TfmMain::*handler)();
    };
    const ActionDef definitions[] = {
        {&actNew, "actNew", QStringLiteral("新建(&N)..."), {}, imgNew, {}, &TfmMain::actNewExecute},
        {&actOpen,
         "actOpen",
         QStringLiteral("打开(&O)..."),
         QStringLiteral("打开|打开Orvane工程计算的流程文件(.flw)"),
         imgOpen,
         {},
         &TfmMain::actOpenExecute},
        {&actVOKFLW,
         "actVOKFLW",
         QStringLiteral("化工离心泵计算(&P)..."),
         QStringLiteral("离心泵|zurivazuz"),
         imgPump,
         {},
         &TfmMain::actVOKFLWExecute},
        {&actSave,
         "actSave",
         QStringLiteral("保存(&S)"),
         {},
         imgSave,
         {},
         &TfmMain::actSaveExecute},
        {&actSaveAs,
         "actSaveAs",
         QStringLiteral("另存为(&A)..."),
         {},
         -1,
         {},
         &TfmMain::actSaveAsExecute},
        {&actCompileProject,
         "actCompileProject",
         QStringLiteral("运行工程(&C)"),
         QStringLiteral("运行|编译工程以得到计算结果"),
         imgRun,
         QKeySequence(Qt::Key_F9),
         &TfmMain::actCompileProjectExecute},
        {&actPrint,
         "actPrint",
         QStringLiteral("打印(&P)..."),
         QStringLiteral("打印报表|打印报表"),
         -1,
         {},
         &TfmMain::actPrintExecute},
        {&actPrintCurrent,
         "actPrintCurrent",
         QStringLiteral("打印当前页(&C)..."),
         QStringLiteral("打印当前页|打印当前页"),
         -1,
         {},
         &TfmMain::actPrintCurrentExecute},
        {&actPrintPreview,
         "actPrintPreview",
         QStringLiteral("打印预览(&V)..."),
         QStringLiteral("打印预览|预览全部报表页的打印效果"),
         -1,
         {},
         &TfmMain::actPrintPreviewExecute},
        {&actExportPdf,
         "actExportPdf",
         QStringLiteral("导出PDF(&D)..."),
         QStringLiteral("导出PDF|把全部报表页导出为PDF文件"),
         -1,
         {},
         &TfmMain::actExportPdfExecute},
        {&actExportBook,
         "actExportBook",
         QStringLiteral("导出计算书(&B)..."),
         QStringLiteral("导出计算书|导出封面、目录、报表、计算过程和输入数据的计算书PDF"),
         -1,
         {},
         &TfmMain::actExportBookExecute},
        {&actVOKHelp,
         "actVOKHelp",
         QStringLiteral("帮助(&H)"),
         QStringLiteral("帮助|软件使用说明"),
         imgHelp,
         QKeySequence(Qt::Key_F1),
         &TfmMain::actVOKHelpExecute},
        {&actAbout, "actAbout", QStringLiteral("关于(&A)"), {}, -1, {}, &TfmMain::actAboutExecute},
        {&mniVOKUpdate,
         "mniVOKUpdate",
         QStringLiteral("在线升级(&U)..."),
         {},
         -1,
         {},
         &TfmMain::mniVOKUpdateClick},
        {&mniVOKNews,
         "mniVOKNews",
         QStringLiteral("Orvane维护和指南(&N)..."),
         {},
         -1,
         {},
         &TfmMain::mniVOKNewsClick},
        {&mniUnitConv,
         "mniUnitConv",
         QStringLiteral("单位换算器(&U)..."),
         {},
         -1,
         {},
         &TfmMain::mniUnitConvClick},
        {&mniOptions, "mniOptions", QStringLiteral("选项(&O)..."), {}, -1, {}, nullptr},
        {&mniExit, "mniExit", QStringLiteral("退出(&E)"), {}, -1, {}, nullptr},
        {&WindowCascade,
         "WindowCascade",
         QStringLiteral("重叠(&C)"),
         QStringLiteral("重叠|把窗口重叠排列"),
         -1,
         {},
         nullptr},
        {&WindowTileHorizontal,
         "WindowTileHorizontal",
         QStringLiteral("横向平铺(&H)"),
         QStringLiteral("横向平铺|把窗口上下平铺"),
         -1,
         {},
         nullptr},
        {&WindowTileVertical,
         "WindowTileVertical",
         QStringLiteral("纵向平铺(&V)"),
         QStringLiteral("纵向平铺|把窗口左右平铺"),
         -1,
         {},
         nullptr},
        {&WindowClose,
         "WindowClose",
         QStringLiteral("关闭(&C)"),
         QStringLiteral("关闭|关闭当前窗口"),
         -1,
         {},
         nullptr},
        {&WindowMinimizeAll,
         "WindowMinimizeAll",
         QStringLiteral("全部最小化(&I)"),
         QStringLiteral("全部最小化|把所有窗口最小化"),
         -1,
         {},
         nullptr},
        {&WindowArrange,
         "WindowArrange",
         QStringLiteral("排列图标(A)"),
         QStringLiteral("排列图标|排列最小化窗口的图标"),
         -1,
         {},
         nullptr},
        {&EditCut,
         "EditCut",
         QStringLiteral("剪切(&X)"),
         QStringLiteral("剪切|剪切所选内容并放到剪贴板上"),
         imgCut,
         {},
         nullptr},
        {&EditCopy,
         "EditCopy",
         QStringLiteral("复制(&C)"),
         QStringLiteral("复制|复制所选内容并放到剪贴板上"),
         imgCopy,
         {},
         nullptr},
        {&EditPaste,
         "EditPaste",
         QStringLiteral("粘贴(&P)"),
         QStringLiteral("粘贴|插入剪贴板的内容"),
         imgPaste,
         {},
         nullptr},
        {&EditUndo,
         "EditUndo",
         QStringLiteral("撤销(&U)"),
         QStringLiteral("撤销|撤销上一次修改"),
         imgUndo,
         {},
         nullptr},
        {&EditRedo,
         "EditRedo",
         QStringLiteral("重做(&R)"),
         QStringLiteral("重做|重做上一次撤销的修改"),
         -1,
         {},
         nullptr},
        {&EditDelete,
         "EditDelete",
         QStringLiteral("删除(&D)"),
         QStringLiteral("删除|删除所选内容"),
         imgDelete,
         {},
         nullptr},
    };
    for (const ActionDef &def : definitions) {
        auto *action = new QAction(def.caption, this);
        action->setObjectName(QLatin1String(def.name));
        if (!def.hint.isEmpty())
            setHint(action, def.hint);
        if (def.image >= 0)
            action->setIcon(mainImage(def.image));
        if (!def.shortcut.isEmpty()) {
            action->setShortcut(def.shortcut);
            // The key works wherever the focus is inside the main window, the project windows'
            // pages included.
            action->setShortcutContext(Qt::WindowShortcut);
            addAction(action);
        }
        if (def.handler)
            connect(action, &QAction::triggered, this, def.handler);
        *def.field = action;
    }
    mniOptions->setEnabled(false);
    connect(mniExit, &QAction::triggered, this, &QWidget::close);

    connect(WindowCascade, &QAction::triggered, m_mdi, &QMdiArea::cascadeSubWindows);
    connect(
        WindowTileHorizontal, &QAction::triggered, this, [this] { tileWindows(Qt::Horizontal); });
    connect(WindowTileVertical, &QAction::triggered, this, [this] { tileWindows(Qt::Vertical); });
    connect(WindowClose, &QAction::triggered, m_mdi, &QMdiArea::closeActiveSubWindow);
    connect(WindowMinimizeAll, &QAction::triggered, this, [this] {
        for (QMdiSubWindow *sub : m_mdi->subWindowList())
            sub->showMinimized();
    });
    connect(WindowArrange, &QAction::triggered, this, &TfmMain::arrangeIcons);
    for (QAction *action : {EditCut, EditCopy, EditPaste, EditUndo, EditRedo, EditDelete})
        connect(action, &QAction::triggered, this, [this, action] { editAction(action); });
    // Ctrl+Z and Ctrl+Y (or Ctrl+Shift+Z) work wherever the focus is; an edit field with its
    // own undo takes them first.
    EditUndo->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Z)});
    EditRedo->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
    EditRedo->setIcon(
        QIcon(mainImage(imgUndo).pixmap(16, 16).transformed(QTransform().scale(-1, 1))));
    for (QAction *action : {EditUndo, EditRedo}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
    connect(m_undoGroup, &QUndoGroup::indexChanged, this, &TfmMain::updateEditActions);
    connect(m_undoGroup, &QUndoGroup::activeStackChanged, this, &TfmMain::updateEditActions);
}

void TfmMain::createMenus()
{
    QMenuBar *mmMain = menuBar();
    mmMain->setObjectName(QStringLiteral("mmMain"));

    mniFile = mmMain->addMenu(QStringLiteral("文件(&F)"));
    mniFile->setObjectName(QStringLiteral("mniFile"));
    mniFile->addActions({actNew, actOpen, actVOKFLW});
    mniFile->addSeparator();
    mniFile->addActions({actSave, actSaveAs});
    mniFile->addSeparator();
    mniFile->addAction(actCompileProject);
    mniFile->addSeparator();
    mniFile->addActions({actPrintCurrent, actPrint, actPrintPreview, actExportPdf, actExportBook});
    mniFile->addSeparator();
    mniFile->addAction(mniExit);

    mniWindow = mmMain->addMenu(QStringLiteral("窗口(&W)"));
    mniWindow->setObjectName(QStringLiteral("mniWindow"));
    mniWindow->addActions({WindowCascade, WindowTileHorizontal, WindowTileVertical});
    mniWindow->addSeparator();
    mniWindow->addActions({WindowClose, WindowMinimizeAll, WindowArrange});
    m_windowListSeparator = mniWindow->addSeparator();
    connect(mniWindow, &QMenu::aboutToShow, this, &TfmMain::rebuildWindowMenu);

    mniTools = mmMain->addMenu(QStringLiteral("工具(&T)"));
    mniTools->setObjectName(QStringLiteral("mniTools"));
    mniTools->addActions({mniVOKUpdate, mniVOKNews, mniUnitConv});
    mniTools->addSeparator()->setObjectName(QStringLiteral("N7"));
    mniTools->addAction(mniOptions);

    mniHelp = mmMain->addMenu(QStringLiteral("帮助(&H)"));
    mniHelp->setObjectName(QStringLiteral("mniHelp"));
    mniHelp->addAction(actVOKHelp);
    mniHelp->addSeparator()->setObjectName(QStringLiteral("N9"));
    mniHelp->addAction(actAbout);
}

void TfmMain::createToolBar()
{
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setWindowTitle(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->addActions({actNew, actOpen, actVOKFLW});
    ToolBar1->addSeparator();
    ToolBar1->addAction(actSave);
    ToolBar1->addSeparator();
    ToolBar1->addActions({EditCopy, EditCut, EditPaste, EditUndo, EditRedo, EditDelete});
    ToolBar1->addSeparator();
    ToolBar1->addAction(actCompileProject);
    ToolBar1->addSeparator();
    // The page designer of the active project window, as a drop-down.
    auto *design = new QToolButton(ToolBar1);
    design->setText(QStringLiteral("页面设计"));
    design->setToolTip(QStringLiteral("页面设计：表格、单元格格式、页面设置"));
    design->setPopupMode(QToolButton::InstantPopup);
    design->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_designButton = ToolBar1->addWidget(design);
    m_designButton->setObjectName(QStringLiteral("tbDesign"));
    m_designButton->setEnabled(false);
    ToolBar1->addSeparator();
    ToolBar1->addAction(actVOKHelp);
    addToolBar(Qt::TopToolBarArea, ToolBar1);
}

void TfmMain::createStatusBar()
{
    m_status = new TMainStatusBar(this);
    m_status->setPanelText(2, webAddress());
    m_status->setPanelIcon(mainImage(imgWeb));
    setStatusBar(m_status);
    connect(m_status, &TMainStatusBar::doubleClicked, this, &TfmMain::statMainDblClick);
}

// ---- project windows ----

TfmWinIDE *TfmMain::activeProjectWindow() const
{
    // The current child stays current while another program or a dialog has the focus.
    QMdiSubWindow *sub = m_mdi->currentSubWindow();
    return sub ? qobject_cast<TfmWinIDE *>(sub->widget()) : nullptr;
}

TfmWinIDE *TfmMain::idleProjectWindow() const
{
    TfmWinIDE *window = activeProjectWindow();
    // While a run writes into the pages they are neither saved nor printed half-way.
    return window && !window->isRunning() ? window : nullptr;
}

QList<TfmWinIDE *> TfmMain::projectWindows() const
{
    QList<TfmWinIDE *> windows;
    for (QMdiSubWindow *sub : m_mdi->subWindowList())
        if (auto *window = qobject_cast<TfmWinIDE *>(sub->widget()))
            windows.append(window);
    return windows;
}

void TfmMain::addProjectWindow(TfmWinIDE *window)
{
    auto *watch = new TProjectWindowWatch(this, window);
    window->setProgressReceiver(watch);
    window->installEventFilter(this);
    connect(
        &window->excel(), &TqzExcel::contentChanged, watch, &TProjectWindowWatch::contentChanged);
    connect(window, &TfmWinIDE::statusChanged, this, &TfmMain::showResultStatus);
    m_undoGroup->addStack(window->undoStack());
    connect(window->undoStack(), &QUndoStack::indexChanged, this, [this, window] {
        updateModified(window);
    });
    connect(window->undoStack(), &QUndoStack::cleanChanged, this, [this, window] {
        updateModified(window);
    });
    setCaption(window, window->windowTitle());
    window->setAttribute(Qt::WA_DeleteOnClose);
    QMdiSubWindow *sub = m_mdi->addSubWindow(window);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setWindowIcon(mainImage(imgPump));
    sub->showMaximized();
    m_mdi->setActiveSubWindow(sub);
    mergeViewMenu();
    updateCommands();
}

bool TfmMain::isModified(const TfmWinIDE *window) const
{
    return window && window->property(modifiedProperty).toBool();
}

void TfmMain::setModified(TfmWinIDE *window, bool modified)
{
    // Back in its saved state a window needs no copy.
    if (window)
        modified ? scheduleAutosave(window) : dropRecovery(window);
    if (!window || isModified(window) == modified)
        return;
    window->setProperty(modifiedProperty, modified);
    setCaption(window, window->property(captionProperty).toString());
}

void TfmMain::updateModified(TfmWinIDE *window)
{
    setModified(window, !window->undoStack()->isClean() || window->excel().isEditing());
}

void TfmMain::setCaption(TfmWinIDE *window, const QString &caption)
{
    window->setProperty(captionProperty, caption);
    window->setWindowTitle(isModified(window) ? caption + QLatin1Char('*') : caption);
}

void TfmMain::mergeViewMenu()
{
    TfmWinIDE *window = activeProjectWindow();
    QMenu *view = window ? window->viewMenu() : nullptr;
    if (view == m_mergedView)
        return;
    if (m_mergedView)
        menuBar()->removeAction(m_mergedView->menuAction());
    if (m_mergedDesign)
        menuBar()->removeAction(m_mergedDesign->menuAction());
    m_mergedView = view;
    // The page designer of the active window follows its View menu.
    m_mergedDesign = window ? window->pmDesign : nullptr;
    if (view)
        menuBar()->insertAction(mniWindow->menuAction(), view->menuAction());
    if (m_mergedDesign)
        menuBar()->insertAction(mniWindow->menuAction(), m_mergedDesign->menuAction());
    if (auto *button = qobject_cast<QToolButton *>(ToolBar1->widgetForAction(m_designButton)))
        button->setMenu(m_mergedDesign);
    m_designButton->setEnabled(m_mergedDesign != nullptr);
}

void TfmMain::updateCommands()
{
    const bool active = activeProjectWindow() != nullptr;
    for (QAction *action : {actPrint, actPrintCurrent, actPrintPreview, actExportPdf, actExportBook})
        action->setEnabled(active);
    const bool any = !m_mdi->subWindowList().isEmpty();
    for (QAction *action : {WindowCascade,
                            WindowTileHorizontal,
                            WindowTileVertical,
                            WindowClose,
                            WindowMinimizeAll,
                            WindowArrange})
        action->setEnabled(any);
}

// ---- start-up ----

void TfmMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    FormShow();
}

void TfmMain::FormShow()
{
    actVOKFLW->trigger();
    // Asked once the window is on the screen, so the question has a frame to stand on.
    QTimer::singleShot(0, this, &TfmMain::offerRecovery);
}

void TfmMain::actVOKFLWExecute()
{
    auto window = std::make_unique<TfmWinIDE>();
    const QString caption = QStringLiteral("dazudozaraz");
    if (ProjectStream.isEmpty()) {
        // No calculation module: the window stays as created, one empty page under "默认页".
        window->setWindowTitle(caption);
        window->FillCodeTable();
    } else {
        try {
            window->loadProjectBytes(ProjectStream, QStringLiteral("calcpack.dll GetFLW"), caption);
        } catch (const Error &e) {
            m_services->showError(this, QStringLiteral("无法加载内置的计算工程：\n") + e.message());
            return;
        }
    }
    addProjectWindow(window.release());
}

void TfmMain::actNewExecute()
{
    auto window = std::make_unique<TfmWinIDE>();
    window->startNewProject(QStringLiteral("流程集成开发环境"));
    addProjectWindow(window.release());
}

TfmWinIDE *TfmMain::openProjectFile(const QString &fileName)
{
    auto window = std::make_unique<TfmWinIDE>();
    try {
        window->loadProjectFile(fileName);
    } catch (const Error &e) {
        m_services->showError(this, openFailure(fileName, e.message()));
        return nullptr;
    }
    window->project().ProjectFileName = window->projectFile().FileName;
    TfmWinIDE *opened = window.release();
    addProjectWindow(opened);
    return opened;
}

void TfmMain::actOpenExecute()
{
    const QString fileName = m_services->openFileName(this, projectFileFilter());
    if (!fileName.isEmpty())
        openProjectFile(fileName);
}

void TfmMain::dragEnterEvent(QDragEnterEvent *event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    for (const QUrl &url : urls) {
        if (url.isLocalFile()) {
            event->acceptProposedAction();
            return;
        }
    }
}

void TfmMain::dropEvent(QDropEvent *event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    event->acceptProposedAction();
    for (const QUrl &url : urls)
        if (url.isLocalFile())
            openProjectFile(url.toLocalFile());
}

// ---- saving ----

bool TfmMain::saveWindow(TfmWinIDE *window, const QString &fileName)
{
    // What an open edit box holds belongs in the file.
    window->endEdits();
    try {
        TqzProjectFile &file = window->projectFile();
        if (fileName.isEmpty())
            file.save(window->excel().workbook());
        else
            file.saveAs(fileName, window->excel().workbook());
    } catch (const Error &e) {
        m_services->showError(this, QStringLiteral("保存失败：\n") + e.message());
        return false;
    }
    const QString saved = window->projectFile().FileName;
    window->project().ProjectFileName = saved;
    window->undoStack()->setClean();
    window->setProperty(modifiedProperty, false);
    setCaption(window, QFileInfo(saved).fileName());
    dropRecovery(window);
    return true;
}

bool TfmMain::saveWindowAs(TfmWinIDE *window)
{
    const QString current = window->projectFile().FileName;
    const QString suggested
        = current.isEmpty() ? window->property(captionProperty).toString() + QStringLiteral(".flw")
                            : current;
    const QString fileName
        = m_services->saveFileName(this, projectFileFilter(), QStringLiteral("flw"), suggested);
    if (fileName.isEmpty())
        return false;
    return saveWindow(window, fileName);
}

void TfmMain::actSaveExecute()
{
    TfmWinIDE *window = idleProjectWindow();
    if (!window)
        return;
    if (window->project().ProjectFileName.isEmpty() || window->projectFile().FileName.isEmpty())
        saveWindowAs(window);
    else
        saveWindow(window, QString());
}

void TfmMain::actSaveAsExecute()
{
    if (TfmWinIDE *window = idleProjectWindow())
        saveWindowAs(window);
}

bool TfmMain::confirmClose(TfmWinIDE *window)
{
    if (!isModified(window))
        return true;
    switch (m_services->askSaveChanges(this, window->property(captionProperty).toString())) {
    case TMainServices::SaveAnswer::Save:
        return window->projectFile().FileName.isEmpty() ? saveWindowAs(window)
                                                        : saveWindow(window, QString());
    case TMainServices::SaveAnswer::Discard:
        // Asked once: the close that follows goes through.
        window->setProperty(modifiedProperty, false);
        return true;
    case TMainServices::SaveAnswer::Cancel:
        break;
    }
    return false;
}

bool TfmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Close) {
        auto *window = qobject_cast<TfmWinIDE *>(watched);
        // An open edit is confirmed first, so the question knows of it.
        if (window && !window->isRunning())
            window->endEdits();
        // A window closing during a run stops the run first and closes after it; the question
        // comes then.
        if (window && !window->isRunning() && !confirmClose(window)) {
            m_exitPending = false;
            event->ignore();
            return true;
        }
        // Saved or let go by the user: the window closes now, its copy is not needed.
        if (window && !window->isRunning())
            dropRecovery(window);
        // The frame leaves the list of windows as soon as it has closed.
        if (window && m_exitPending)
            QTimer::singleShot(0, this, [this] {
                if (m_exitPending && m_mdi->subWindowList().isEmpty())
                    close();
            });
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfmMain::closeEvent(QCloseEvent *event)
{
    // Every changed window is asked about before any closes, so a cancel keeps them all.
    for (TfmWinIDE *window : projectWindows()) {
        if (!window->isRunning())
            window->endEdits();
        if (!window->isRunning() && !confirmClose(window)) {
            event->ignore();
            return;
        }
    }
    m_mdi->closeAllSubWindows();
    if (!m_mdi->subWindowList().isEmpty()) {
        // A window in the middle of a run closes once its run has stopped; the program then
        // ends as asked.
        m_exitPending = true;
        event->ignore();
        return;
    }
    m_exitPending = false;
    QMainWindow::closeEvent(event);
}

// ---- run, progress, print ----

void TfmMain::actCompileProjectExecute()
{
    if (TfmWinIDE *window = activeProjectWindow())
        window->actCompileProject->trigger();
}

bool TfmMain::event(QEvent *event)
{
    if (event->type() == TqzRunProgressEvent::EventType) {
        const auto *progress = static_cast<TqzRunProgressEvent *>(event);
        WMRunProgress(progress->wParam, progress->lParam);
        return true;
    }
    return QMainWindow::event(event);
}

void TfmMain::WMRunProgress(int wParam, int lParam)
{
    switch (wParam) {
    case 0:
        if (!ProgressBar) {
            ProgressBar = new QProgressBar(m_status);
            ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
            ProgressBar->setTextVisible(false);
        }
        ProgressBar->setGeometry(
            m_status->panelWidths().at(0) + 2, 3, m_status->panelWidths().at(1) - 3, 16);
        ProgressBar->show();
        ProgressBar->setMinimum(0);
        ProgressBar->setMaximum(qMax(0, lParam));
        ProgressBar->setValue(0);
        break;
    case 1:
        if (ProgressBar)
            ProgressBar->setValue(qBound(0, lParam, ProgressBar->maximum()));
        break;
    case 2:
        if (ProgressBar) {
            ProgressBar->hide();
            delete ProgressBar;
            ProgressBar = nullptr;
        }
        break;
    default:
        break;
    }
}

void TfmMain::print(bool currentOnly)
{
    TfmWinIDE *window = idleProjectWindow();
    if (!window || !window->settleStaleResults())
        return;
    QPrinter printer(QPrinter::HighResolution);
    if (!m_services->confirmPrint(this, printer))
        return;
    try {
        if (currentOnly)
            window->excel().PrintCurrent(&printer);
        else
            window->excel().PrintAll(&printer);
    } catch (const Error &e) {
        m_services->showError(this, QStringLiteral("打印失败：\n") + e.message());
    }
}

void TfmMain::actPrintExecute()
{
    print(false);
}

void TfmMain::actPrintCurrentExecute()
{
    print(true);
}

void TfmMain::actPrintPreviewExecute()
{
    TfmWinIDE *window = idleProjectWindow();
    if (!window || !window->settleStaleResults())
        return;
    QPrinter printer(QPrinter::HighResolution);
    m_services->showPreview(this, printer, [this, window](QPrinter *target) {
        try {
            window->excel().PrintAll(target);
        } catch (const Error &e) {
            m_services->showError(this, QStringLiteral("打印预览失败：\n") + e.message());
        }
    });
}

void TfmMain::actExportPdfExecute()
{
    TfmWinIDE *window = idleProjectWindow();
    if (!window || window->excel().Pages.isEmpty() || !window->settleStaleResults())
        return;
    const QString base = window->projectFile().FileName.isEmpty()
                             ? window->property(captionProperty).toString()
                             : QFileInfo(window->projectFile().FileName).completeBaseName();
    const QString out = m_services->saveFileName(
        this, QStringLiteral("PDF (*.pdf)"), QStringLiteral("pdf"), base + QStringLiteral(".pdf"));
    if (out.isEmpty())
        return;
    try {
        window->excel().PrintToPdf(out, base);
    } catch (const Error &e) {
        m_services->showError(this, QStringLiteral("导出 PDF 失败：\n") + e.message());
    }
}

void TfmMain::actExportBookExecute()
{
    TfmWinIDE *window = idleProjectWindow();
    if (!window || !window->settleStaleResults(true))
        return;
    const QString base = window->projectFile().FileName.isEmpty()
                             ? window->property(captionProperty).toString()
                             : QFileInfo(window->projectFile().FileName).completeBaseName();
    const QString out = m_services->saveFileName(this,
                                                 QStringLiteral("PDF (*.pdf)"),
                                                 QStringLiteral("pdf"),
                                                 base + QStringLiteral(" 计算书.pdf"));
    if (out.isEmpty())
        return;
    try {
        writeCalcBook(window->calculationBook(), out);
    } catch (const Error &e) {
        m_services->showError(this, QStringLiteral("导出计算书失败：\n") + e.message());
    }
}

// ---- window menu ----

void TfmMain::rebuildWindowMenu()
{
    const QList<QAction *> entries = mniWindow->actions();
    const int first = entries.indexOf(m_windowListSeparator) + 1;
    for (int i = first; i < entries.size(); ++i) {
        mniWindow->removeAction(entries[i]);
        delete entries[i];
    }
    const QList<QMdiSubWindow *> subs = m_mdi->subWindowList();
    m_windowListSeparator->setVisible(!subs.isEmpty());
    for (int i = 0; i < subs.size(); ++i) {
        QMdiSubWindow *sub = subs[i];
        QString title = sub->widget() ? sub->widget()->windowTitle() : sub->windowTitle();
        title.replace(QLatin1Char('&'), QLatin1String("&&"));
        QAction *entry = mniWindow->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(title));
        entry->setCheckable(true);
        entry->setChecked(sub == m_mdi->activeSubWindow());
        connect(entry, &QAction::triggered, this, [this, sub = QPointer<QMdiSubWindow>(sub)] {
            if (sub) {
                if (sub->isMinimized())
                    sub->showNormal();
                m_mdi->setActiveSubWindow(sub);
            }
        });
    }
}

void TfmMain::tileWindows(Qt::Orientation orientation)
{
    QList<QMdiSubWindow *> shown;
    for (QMdiSubWindow *sub : m_mdi->subWindowList())
        if (!sub->isMinimized())
            shown.append(sub);
    if (shown.isEmpty())
        return;
    const QRect area = m_mdi->viewport()->rect();
    const int n = int(shown.size());
    for (int i = 0; i < n; ++i) {
        QMdiSubWindow *sub = shown[i];
        if (sub->isMaximized())
            sub->showNormal();
        // Horizontal tiling stacks the windows one above the other, each the full width.
        if (orientation == Qt::Horizontal) {
            const int top = area.height() * i / n;
            sub->setGeometry(0, top, area.width(), area.height() * (i + 1) / n - top);
        } else {
            const int left = area.width() * i / n;
            sub->setGeometry(left, 0, area.width() * (i + 1) / n - left, area.height());
        }
    }
}

void TfmMain::arrangeIcons()
{
    // Minimised windows in rows along the bottom edge, left to right, further rows above.
    const QRect area = m_mdi->viewport()->rect();
    int x = 0;
    int y = area.bottom() + 1;
    bool first = true;
    for (QMdiSubWindow *sub : m_mdi->subWindowList()) {
        if (!sub->isMinimized())
            continue;
        const QSize size = sub->size();
        if (first || x + size.width() > area.width()) {
            x = 0;
            y -= size.height();
            first = false;
        }
        sub->move(x, y);
        x += size.width();
    }
}

// ---- edit actions on the focused field ----

namespace {

// True when `target` is a text field that can undo (or redo) a change of its own.
bool fieldHasOwnStep(QWidget *target, bool redo)
{
    if (auto *edit = qobject_cast<QPlainTextEdit *>(target))
        return !edit->isReadOnly()
               && (redo ? edit->document()->isRedoAvailable()
                        : edit->document()->isUndoAvailable());
    if (auto *text = qobject_cast<QTextEdit *>(target))
        return !text->isReadOnly()
               && (redo ? text->document()->isRedoAvailable()
                        : text->document()->isUndoAvailable());
    if (auto *line = qobject_cast<QLineEdit *>(target))
        return !line->isReadOnly() && (redo ? line->isRedoAvailable() : line->isUndoAvailable());
    return false;
}

} // namespace

void TfmMain::editAction(QAction *action)
{
    QWidget *target = QApplication::focusWidget();
    // Undo and redo act on the focused field while it has a step of its own, else on the
    // project: an open edit box is confirmed first, so its text becomes the step undone.
    if ((action == EditUndo || action == EditRedo)
        && !fieldHasOwnStep(target, action == EditRedo)) {
        TfmWinIDE *window = idleProjectWindow();
        if (window) {
            window->endEdits();
            if (action == EditUndo)
                window->undoStack()->undo();
            else
                window->undoStack()->redo();
        }
        updateEditActions();
        return;
    }
    if (auto *edit = qobject_cast<QPlainTextEdit *>(target)) {
        if (action == EditCut)
            edit->cut();
        else if (action == EditCopy)
            edit->copy();
        else if (action == EditPaste)
            edit->paste();
        else if (action == EditUndo)
            edit->undo();
        else if (action == EditRedo)
            edit->redo();
        else if (action == EditDelete && !edit->isReadOnly())
            edit->textCursor().removeSelectedText();
    } else if (auto *text = qobject_cast<QTextEdit *>(target)) {
        if (action == EditCut)
            text->cut();
        else if (action == EditCopy)
            text->copy();
        else if (action == EditPaste)
            text->paste();
        else if (action == EditUndo)
            text->undo();
        else if (action == EditRedo)
            text->redo();
        else if (action == EditDelete && !text->isReadOnly())
            text->textCursor().removeSelectedText();
    } else if (auto *line = qobject_cast<QLineEdit *>(target)) {
        if (action == EditCut)
            line->cut();
        else if (action == EditCopy)
            line->copy();
        else if (action == EditPaste)
            line->paste();
        else if (action == EditUndo)
            line->undo();
        else if (action == EditRedo)
            line->redo();
        else if (action == EditDelete && !line->isReadOnly())
            line->del();
    }
    updateEditActions();
}

void TfmMain::updateEditActions()
{
    QWidget *target = QApplication::focusWidget();
    if (target != m_editTarget) {
        if (m_editTarget)
            disconnect(m_editTarget, nullptr, this, nullptr);
        m_editTarget = target;
        // The actions follow the field's selection and undo state, never polled.
        if (auto *edit = qobject_cast<QPlainTextEdit *>(target)) {
            connect(edit, &QPlainTextEdit::selectionChanged, this, &TfmMain::updateEditActions);
            connect(edit, &QPlainTextEdit::undoAvailable, this, &TfmMain::updateEditActions);
        } else if (auto *text = qobject_cast<QTextEdit *>(target)) {
            connect(text, &QTextEdit::selectionChanged, this, &TfmMain::updateEditActions);
            connect(text, &QTextEdit::undoAvailable, this, &TfmMain::updateEditActions);
        } else if (auto *line = qobject_cast<QLineEdit *>(target)) {
            connect(line, &QLineEdit::selectionChanged, this, &TfmMain::updateEditActions);
            connect(line, &QLineEdit::textChanged, this, &TfmMain::updateEditActions);
        }
    }
    bool field = false, readOnly = true, selection = false, undo = false;
    if (auto *edit = qobject_cast<QPlainTextEdit *>(target)) {
        field = true;
        readOnly = edit->isReadOnly();
        selection = edit->textCursor().hasSelection();
        undo = edit->document()->isUndoAvailable();
    } else if (auto *text = qobject_cast<QTextEdit *>(target)) {
        field = true;
        readOnly = text->isReadOnly();
        selection = text->textCursor().hasSelection();
        undo = text->document()->isUndoAvailable();
    } else if (auto *line = qobject_cast<QLineEdit *>(target)) {
        field = true;
        readOnly = line->isReadOnly();
        selection = line->hasSelectedText();
        undo = line->isUndoAvailable();
    }
    EditCopy->setEnabled(field && selection);
    EditCut->setEnabled(field && selection && !readOnly);
    EditDelete->setEnabled(field && selection && !readOnly);
    EditPaste->setEnabled(field && !readOnly);
    // Without a step of the field's own, undo and redo name the project's step.
    const bool fieldUndo = fieldHasOwnStep(target, false);
    const bool fieldRedo = fieldHasOwnStep(target, true);
    TfmWinIDE *window = idleProjectWindow();
    const QUndoStack *stack = window ? window->undoStack() : nullptr;
    const auto name = [](const QString &verb, const QString &step, const QString &plain) {
        return step.isEmpty() ? plain : verb + QLatin1Char(' ') + step;
    };
    const QString undoStep
        = !fieldUndo && stack && stack->canUndo() ? stack->undoText() : QString();
    const QString redoStep
        = !fieldRedo && stack && stack->canRedo() ? stack->redoText() : QString();
    EditUndo->setText(name(QStringLiteral("撤销"), undoStep, QStringLiteral("撤销(&U)")));
    EditUndo->setToolTip(name(QStringLiteral("撤销"), undoStep, QStringLiteral("撤销")));
    EditRedo->setText(name(QStringLiteral("重做"), redoStep, QStringLiteral("重做(&R)")));
    EditRedo->setToolTip(name(QStringLiteral("重做"), redoStep, QStringLiteral("重做")));
    EditUndo->setEnabled((field && undo && !readOnly) || !undoStep.isEmpty());
    EditRedo->setEnabled(fieldRedo || !redoStep.isEmpty());
}

// ---- tools, help, web link ----

void TfmMain::openCompanion(const QString &relativePath, bool program)
{
    const QString path = programPath(relativePath);
    // A missing companion file is passed over silently.
    if (!QFileInfo::exists(path))
        return;
    if (program)
        m_services->startProgram(path, {});
    else
        m_services->openUrl(QUrl::fromLocalFile(path));
}

void TfmMain::actVOKHelpExecute()
{
    // Our own window, so help works on any desktop whatever opens HTML files there.
    // One help window, hidden when closed and shown again by the next F1.
    if (!m_help)
        m_help = new THelpWindow(this);
    if (!m_help->openPage()) {
        const QString why = m_help->errorString();
        m_help->close();
        m_services->showError(this, why);
        return;
    }
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
}

void TfmMain::showResultStatus()
{
    TfmWinIDE *window = activeProjectWindow();
    m_status->setPanelText(0, window ? window->statusText() : QString());
    m_status->setPanelTextColor(
        0, window && window->statusIsError() ? QColor(200, 0, 0) : QColor(Qt::black));
}

void TfmMain::mniVOKNewsClick()
{
    openCompanion(QStringLiteral("VOKNews"), true);
}

void TfmMain::mniUnitConvClick()
{
    openCompanion(QStringLiteral("unitcalc"), true);
}

void TfmMain::callService(const char *entry)
{
    DynamicLibrary library;
    if (!library.load(QStringLiteral("svcpanel.dll")))
        return;
    void *address = library.resolve(entry);
    if (!address)
        return;
    // The entries take the parent as the QWidget pointer it is.
    void *parent = static_cast<QWidget *>(this);
    if (qstrcmp(entry, "ShowAbout") == 0)
        reinterpret_cast<ShowAboutProc>(address)(parent, "zurivazuz");
    else
        reinterpret_cast<ShowUpdateProc>(address)(parent);
}

void TfmMain::actAboutExecute()
{
    callService("ShowAbout");
}

void TfmMain::mniVOKUpdateClick()
{
    callService("ShowUpdate");
}

void TfmMain::tmrVOKNewsTimer()
{
    tmrVOKNews->stop();
    const bool sent = SendIcmpEcho(m_settings.newsHost, 1000);
    QCoreApplication::processEvents();
    // An error ends the check silently; a reply or a timeout both lead to the news tool.
    if (sent)
        mniVOKNews->trigger();
}

void TfmMain::statMainDblClick(const QPoint &globalPos)
{
    const QList<int> widths = m_status->panelWidths();
    const int edge = frameGeometry().left() + m_status->x() + widths.at(0) + widths.at(1) + 10;
    if (globalPos.x() > edge)
        m_services->openUrl(QUrl(m_status->panelText(2)));
}

// ---- recovery copies ----

QString TfmMain::recoveryKey(const TfmWinIDE *window)
{
    return window ? window->property(recoveryKeyProperty).toString() : QString();
}

void TfmMain::scheduleAutosave(TfmWinIDE *window)
{
    auto *timer
        = window->findChild<QTimer *>(QStringLiteral("tmrAutosave"), Qt::FindDirectChildrenOnly);
    if (!timer) {
        timer = new QTimer(window);
        timer->setObjectName(QStringLiteral("tmrAutosave"));
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, [this, window] { autosaveWindow(window); });
    }
    // A change while a copy is pending does not put it off.
    if (!timer->isActive())
        timer->start(qBound(1, m_settings.autosaveIntervalMs, MaxAutosaveIntervalMs));
}

void TfmMain::autosaveWindow(TfmWinIDE *window)
{
    if (!isModified(window))
        return;
    if (window->isRunning()) {
        // A run writes into the pages: the copy is taken once it has ended.
        auto *timer = window->findChild<QTimer *>(QStringLiteral("tmrAutosave"),
                                                  Qt::FindDirectChildrenOnly);
        timer->start(qMin(m_settings.autosaveIntervalMs, 200));
        return;
    }
    QString key = recoveryKey(window);
    if (key.isEmpty()) {
        key = m_recovery->newKey();
        window->setProperty(recoveryKeyProperty, key);
    }
    try {
        const QByteArray bytes = window->projectFile().documentBytes(window->excel().workbook());
        m_recovery->write(key,
                          bytes,
                          window->projectFile().FileName,
                          window->property(captionProperty).toString());
        window->setProperty(autosaveFailedProperty, false);
    } catch (const Error &e) {
        // Said once until a copy succeeds again; the user's file is never touched.
        if (!window->property(autosaveFailedProperty).toBool()) {
            window->setProperty(autosaveFailedProperty, true);
            m_status->showMessage(QStringLiteral("自动保存失败：") + e.message(), 15000);
        }
    }
}

void TfmMain::dropRecovery(TfmWinIDE *window)
{
    const QString key = recoveryKey(window);
    if (!key.isEmpty())
        m_recovery->discard(key);
    if (auto *timer
        = window->findChild<QTimer *>(QStringLiteral("tmrAutosave"), Qt::FindDirectChildrenOnly))
        timer->stop();
}

void TfmMain::offerRecovery()
{
    const QList<TRecoveryEntry> entries = m_recovery->recoverable();
    if (entries.isEmpty())
        return;
    switch (m_services->askRecovery(this, entries)) {
    case TMainServices::RecoveryAnswer::Recover:
        for (const TRecoveryEntry &entry : entries)
            if (recoverEntry(entry))
                m_recovery->discard(entry.Key);
        break;
    case TMainServices::RecoveryAnswer::Discard:
        for (const TRecoveryEntry &entry : entries)
            m_recovery->discard(entry.Key);
        break;
    case TMainServices::RecoveryAnswer::Later:
        break;
    }
}

bool TfmMain::recoverEntry(const TRecoveryEntry &entry)
{
    const QString shown = entry.documentName();
    auto window = std::make_unique<TfmWinIDE>();
    try {
        if (!entry.Problem.isEmpty())
            throw Error(entry.Problem);
        const QString where
            = QStringLiteral("recovery copy of %1 (%2)")
                  .arg(shown, QDir::toNativeSeparators(m_recovery->documentPath(entry.Key)));
        const QString caption
            = entry.FileName.isEmpty() ? entry.Caption : QFileInfo(entry.FileName).fileName();
        window->loadProjectBytes(m_recovery->read(entry), where, caption);
    } catch (const Error &e) {
        m_services->showError(this, QStringLiteral("无法恢复 %1：\n%2").arg(shown, e.message()));
        return false;
    }
    // Bound to the original file, which stays as it is until the user saves.
    window->projectFile().FileName = entry.FileName;
    window->project().ProjectFileName = entry.FileName;
    TfmWinIDE *recovered = window.release();
    addProjectWindow(recovered);
    // The recovered state is not the user's file: no undo leads back to a clean state, only a
    // save does.
    recovered->undoStack()->resetClean();
    setModified(recovered, true);
    // The copy moves into this session before the old one goes, so a crash now loses nothing.
    autosaveWindow(recovered);
    return m_recovery->contains(recoveryKey(recovered));
}

// ---- exit ----

void TfmMain::FormDestroy()
{
    if (m_destroyed)
        return;
    m_destroyed = true;
    ProjectStream.clear();
    if (m_settings.updateAtExit)
        RunUpdateBatch();
}

} // namespace tessarin

#include "mainwindow.moc"
