#include "winide.h"

#include "celltag.h"
#include "checkpanel.h"
#include "decimaltext.h"
#include "error.h"
#include "chartrun.h"
#include "examcommands.h"
#include "nodeeditor.h"
#include "treecommands.h"
#include "papersize.h"
#include "printdevice.h"
#include "projectcheck.h"
#include "projectdocument.h"
#include "projectfile.h"
#include "qzexcel.h"
#include "qzproject.h"
#include "qzreport.h"
#include "qztranslate.h"
#include "qzworkbook.h"
#include "runlog.h"
#include "runmessages.h"
#include "runprogress.h"
#include "sweepdialog.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDomDocument>
#include <QPageSize>
#include <QFormLayout>
#include <QSpinBox>
#include <QColorDialog>
#include <QFontDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QTabBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTreeView>
#include <QUndoStack>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <optional>

namespace tessarin {

namespace {

// Background of the page area: 0x00BBGGRR 11770523.
constexpr QRgb kPageAreaColour = qRgb(0x9B, 0x9B, 0xB3);
constexpr int kTreePanelWidth = 200;
constexpr int kMessagePaneHeight = 114;
constexpr int kTabSetHeight = 19;
constexpr int kSplitterWidth = 3;
// Pixels the page area moves per wheel event.
constexpr int kWheelStep = 8;
// While a run logs, the pane takes the pending lines at most this often, so that tens of
// thousands of lines do not make painting the pane the run's bottleneck.
constexpr qint64 kLogFlushMs = 100;
// Position of the first generated page entry in the View menu.
constexpr int kFirstPageEntry = 3;

QFont songFont()
{
    return QFont(QStringLiteral("宋体"), 9);
}

QAction *makeAction(QWidget *owner,
                    const char *name,
                    const QString &caption,
                    const QString &shortHint,
                    const QString &longHint)
{
    auto *action = new QAction(caption, owner);
    action->setObjectName(QString::fromLatin1(name));
    action->setToolTip(shortHint);
    action->setStatusTip(longHint);
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    owner->addAction(action);
    return action;
}

// The setup of a page on paper `paper` (DMPAPER: 9 A4, 8 A3, 1 Letter) in `orientation` (1
// portrait, 2 landscape): its size in page pixels less the unprintable edge an A4 page leaves,
// as the default page has it.
PageSetup pageSetupFor(int paper, int orientation, int left, int top, int right, int bottom, int dpi)
{
    PageSetup setup;
    QSizeF mm = pageSizeOfPaper(paper, 0, 0).size(QPageSize::Millimeter);
    if (orientation == 2)
        mm.transpose();
    const auto pixels = [dpi](double millimetres) { return qRound(millimetres / 25.4 * dpi); };
    setup.dpiX = dpi;
    setup.width = pixels(mm.width()) - (pixels(210) - DefaultPageWidth);
    setup.height = pixels(mm.height()) - (pixels(297) - DefaultPageHeight);
    setup.paperSize = paper;
    setup.orientation = orientation;
    setup.leftMarginMm = left;
    setup.topMarginMm = top;
    setup.rightMarginMm = right;
    setup.bottomMarginMm = bottom;
    return setup;
}

// The page setup dialog: paper, orientation and margins; an invalid answer when cancelled.
QVariant askPageSetup(QWidget *parent, const QVariantList &current)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("页面设置"));
    auto *form = new QFormLayout(&dialog);
    auto *paper = new QComboBox(&dialog);
    paper->addItem(QStringLiteral("A4"), 9);
    paper->addItem(QStringLiteral("A3"), 8);
    paper->addItem(QStringLiteral("Letter"), 1);
    paper->setCurrentIndex(std::max(0, paper->findData(current.value(0))));
    auto *orientation = new QComboBox(&dialog);
    orientation->addItem(QStringLiteral("纵向"), 1);
    orientation->addItem(QStringLiteral("横向"), 2);
    orientation->setCurrentIndex(std::max(0, orientation->findData(current.value(1))));
    form->addRow(QStringLiteral("纸张："), paper);
    form->addRow(QStringLiteral("方向："), orientation);
    QSpinBox *margins[4];
    const QString captions[] = {QStringLiteral("左边距(mm)："), QStringLiteral("上边距(mm)："),
                                QStringLiteral("右边距(mm)："), QStringLiteral("下边距(mm)：")};
    for (int k = 0; k < 4; ++k) {
        margins[k] = new QSpinBox(&dialog);
        margins[k]->setRange(0, 100);
        margins[k]->setValue(current.value(2 + k).toInt());
        form->addRow(captions[k], margins[k]);
    }
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return QVariantList{paper->currentData(), orientation->currentData(), margins[0]->value(),
                        margins[1]->value(), margins[2]->value(), margins[3]->value()};
}

// The chart dialog: title, the input varied and its range, the number of points, the outputs.
QVariant askChart(QWidget *parent, const QVariantMap &current)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QStringLiteral("插入图表"));
    auto *form = new QFormLayout(&dialog);
    auto *title = new QLineEdit(current.value(QStringLiteral("title")).toString(), &dialog);
    auto *input = new QComboBox(&dialog);
    input->addItems(current.value(QStringLiteral("inputs")).toStringList());
    auto *from = new QLineEdit(current.value(QStringLiteral("from")).toString(), &dialog);
    auto *to = new QLineEdit(current.value(QStringLiteral("to")).toString(), &dialog);
    auto *points = new QSpinBox(&dialog);
    points->setRange(2, kMaxChartPoints);
    points->setValue(current.value(QStringLiteral("points")).toInt());
    auto *outputs = new QListWidget(&dialog);
    outputs->addItems(current.value(QStringLiteral("results")).toStringList());
    outputs->setSelectionMode(QAbstractItemView::MultiSelection);
    form->addRow(QStringLiteral("标题："), title);
    form->addRow(QStringLiteral("变化的输入："), input);
    form->addRow(QStringLiteral("从："), from);
    form->addRow(QStringLiteral("到："), to);
    form->addRow(QStringLiteral("点数："), points);
    form->addRow(QStringLiteral("绘出的结果（最多 %1 个）：").arg(kMaxChartOutputs), outputs);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    QStringList chosen;
    for (const QListWidgetItem *item : outputs->selectedItems())
        chosen << item->text();
    return QVariantMap{{QStringLiteral("title"), title->text()},
                       {QStringLiteral("input"), input->currentText()},
                       {QStringLiteral("from"), from->text()},
                       {QStringLiteral("to"), to->text()},
                       {QStringLiteral("points"), points->value()},
                       {QStringLiteral("outputs"), chosen}};
}

// The first item named `name` in tree order, inputs included.
const TqzNode *firstNodeNamed(const TqzProjectTree &tree, const QString &name)
{
    for (int i = 0, n = tree.count(); i < n; ++i)
        if (tree.nodeAt(i)->Name == name)
            return tree.nodeAt(i);
    return nullptr;
}

} // namespace

TfmWinIDE::TfmWinIDE(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("fmWinIDE"));
    setWindowTitle(QStringLiteral("流程集成开发环境"));
    setFont(songFont());

    createComponents();
    createActions();
    createMenus();

    m_document = std::make_unique<ProjectDocument>();
    m_log = &m_document->log();
    m_file = &m_document->file();
    Project = &m_document->project();
    CodeTable = &m_document->codeTable();
    m_undoStack = &m_document->undoStack();
    // The window's new pages take the paper of the printer it prints on.
    m_document->workbook().NewPageSetup = pageSetupFromPrinter();
    tvProject->setModel(Project->TreeView);
    m_treeEditor = new TqzTreeEditor(*Project, *m_undoStack, this);
    connect(m_treeEditor, &TqzTreeEditor::treeEdited, this, &TfmWinIDE::treeEdited);
    // Back at the saved state (a save, or undo to it) the tree is the saved one.
    connect(m_undoStack, &QUndoStack::cleanChanged, this, [this](bool clean) {
        if (clean) {
            m_treeEditor->markSaved();
            m_file->EditedTree = nullptr;
        }
    });
    connect(tvProject, &TqzNodeTreeView::nodeMoved, this,
            [this](const QModelIndex &item, const QModelIndex &parent, int row) {
                const QPersistentModelIndex to = parent;
                editTree([=, this] { return m_treeEditor->move(item, to, row); },
                         [this] { return m_resultNames; });
            });
    connect(tvProject, &TqzNodeTreeView::nodesDropped, this,
            [this](const QByteArray &nodes, const QModelIndex &parent, int row) {
                const QPersistentModelIndex to = parent;
                editTree([=, this] { return m_treeEditor->paste(nodes, to, row); });
            });
    connect(pnlNodeProperties, &TqzNodeProperties::fieldEdited, this,
            [this](TqzNodeField field, const QString &text) {
                const QPersistentModelIndex item = selectedItem();
                editTree(
                    [=, this] {
                        if (field == TqzNodeField::Name)
                            renameNode(item, text);
                        else
                            m_treeEditor->setField(item, field, text);
                        return QModelIndex(item);
                    },
                    [=, this] {
                        // A new formula or value leaves the node and what uses it out of date.
                        const TqzNode *node = Project->TreeView->node(item);
                        if (!node || (field != TqzNodeField::Script && field != TqzNodeField::Value))
                            return QSet<QString>();
                        return dependentsOf(node->Name) << node->Name;
                    });
            });
    connect(pnlNodeProperties, &TqzNodeProperties::formulaCheckRequested, this,
            [this](const QString &formula) {
                pnlNodeProperties->showTrial(tryFormula(*Project->TreeView, *CodeTable, formula));
            });
    connect(tvProject->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        tvProjectChange(selectedItem());
    });
    // A loaded tree is shown expanded, so that every node can be browsed.
    connect(Project->TreeView, &QAbstractItemModel::modelReset, tvProject, &QTreeView::expandAll);

    Excel = new TqzExcel(m_document->workbook(), m_content);
    Excel->IsInputCell = [this](const TqzReport *page, const TReportCell *cell) {
        const std::optional<QString> name = page->NameOfCell(cell);
        return name && m_inputNames.contains(*name);
    };
    connect(Excel, &TqzExcel::textsEdited, this, &TfmWinIDE::pageTextsEdited);
    connect(Excel, &TqzExcel::contentChanged, this, &TfmWinIDE::workbookChanged);
    connect(Excel, &TqzExcel::dragStarted, this, &TfmWinIDE::pageDragStarted);
    connect(Excel, &TqzExcel::dragFinished, this, &TfmWinIDE::pageDragFinished);
    Excel->OnPageMouseDown =
        [this](TqzReport *page, Qt::MouseButton button, Qt::KeyboardModifiers, const QPoint &pos) {
            ReportMouseDown(page, button, pos);
        };
    Excel->AddPage();
    m_run = std::make_unique<TqzRun>(*Project, m_document->workbook(), *CodeTable, *this);

    // The workbook refreshes this tab set itself whenever it loads pages.
    Excel->TabSet = tsShowPages;
    while (tsShowPages->count() > 0)
        tsShowPages->removeTab(tsShowPages->count() - 1);
    for (const QString &name : std::as_const(Excel->PageNames))
        tsShowPages->addTab(name);
    if (tsShowPages->count() > 0)
        tsShowPages->setCurrentIndex(0);
    fitContentWidth();
    fitContentHeight();
}

TfmWinIDE::~TfmWinIDE()
{
    // The stack leaves its undo group first, while the window is whole: the group tells its
    // listeners, and they may ask the window about itself.
    delete m_undoStack;
    m_undoStack = nullptr;
    slbReport->viewport()->removeEventFilter(this);
    m_content->removeEventFilter(this);
    for (QObject *child : m_content->children())
        child->removeEventFilter(this);
    tvProject->selectionModel()->disconnect(this);
    m_run.reset();
    tvProject->setModel(nullptr);
    // The page views go before the pages they show.
    delete Excel;
    Excel = nullptr;
    m_document.reset();
}

void TfmWinIDE::createComponents()
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    mmIDE = new QMenuBar(this);
    mmIDE->setObjectName(QStringLiteral("mmIDE"));
    mmIDE->setNativeMenuBar(false);
    layout->setMenuBar(mmIDE);
    // The main window shows the View menu in its own menu bar.
    mmIDE->hide();

    splitBottom = new QSplitter(Qt::Vertical, this);
    splitBottom->setObjectName(QStringLiteral("splitBottom"));
    splitBottom->setHandleWidth(kSplitterWidth);
    splitBottom->setChildrenCollapsible(false);
    layout->addWidget(splitBottom);

    splitClient = new QSplitter(Qt::Horizontal, splitBottom);
    splitClient->setObjectName(QStringLiteral("splitClient"));
    splitClient->setHandleWidth(kSplitterWidth);
    splitClient->setChildrenCollapsible(false);

    pnlProjectManager = new QWidget(splitClient);
    pnlProjectManager->setObjectName(QStringLiteral("pnlProjectManager"));
    auto *treeLayout = new QVBoxLayout(pnlProjectManager);
    treeLayout->setContentsMargins(0, 0, 0, 0);
    splitTree = new QSplitter(Qt::Vertical, pnlProjectManager);
    splitTree->setObjectName(QStringLiteral("splitTree"));
    splitTree->setChildrenCollapsible(false);
    tvProject = new TqzNodeTreeView(splitTree);
    tvProject->setObjectName(QStringLiteral("tvProject"));
    tvProject->setHeaderHidden(true);
    tvProject->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvProject->setSelectionMode(QAbstractItemView::SingleSelection);
    tvProject->setIndentation(19);
    tvProject->setContextMenuPolicy(Qt::CustomContextMenu);
    pnlNodeProperties = new TqzNodeProperties(splitTree);
    splitTree->addWidget(tvProject);
    splitTree->addWidget(pnlNodeProperties);
    splitTree->setStretchFactor(0, 3);
    splitTree->setStretchFactor(1, 2);
    treeLayout->addWidget(splitTree);

    pnlReport = new QWidget(splitClient);
    pnlReport->setObjectName(QStringLiteral("pnlReport"));
    auto *reportLayout = new QVBoxLayout(pnlReport);
    reportLayout->setContentsMargins(0, 0, 0, 0);
    reportLayout->setSpacing(0);
    slbReport = new QScrollArea(pnlReport);
    slbReport->setObjectName(QStringLiteral("slbReport"));
    slbReport->setWidgetResizable(false);
    QPalette area = slbReport->palette();
    area.setColor(QPalette::Window, QColor(kPageAreaColour));
    slbReport->setPalette(area);
    slbReport->setBackgroundRole(QPalette::Window);
    m_content = new QWidget;
    m_content->setObjectName(QStringLiteral("slbReportContent"));
    m_content->setPalette(area);
    m_content->setAutoFillBackground(true);
    slbReport->setWidget(m_content);
    slbReport->viewport()->installEventFilter(this);
    m_content->installEventFilter(this);
    reportLayout->addWidget(slbReport, 1);

    tsShowPages = new QTabBar(pnlReport);
    tsShowPages->setObjectName(QStringLiteral("tsShowPages"));
    tsShowPages->setShape(QTabBar::RoundedSouth);
    tsShowPages->setFont(songFont());
    tsShowPages->setFixedHeight(kTabSetHeight);
    // The style's own tab padding would cut the captions at this height.
    tsShowPages->setStyleSheet(
        QStringLiteral("QTabBar::tab { height: %1px; padding: 0px 8px; }").arg(kTabSetHeight - 3));
    tsShowPages->setExpanding(false);
    tsShowPages->setDrawBase(true);
    tsShowPages->setContextMenuPolicy(Qt::CustomContextMenu);
    reportLayout->addWidget(tsShowPages);

    splitClient->addWidget(pnlProjectManager);
    splitClient->addWidget(pnlReport);
    splitClient->setStretchFactor(1, 1);
    splClient = splitClient->handle(1);
    splClient->setObjectName(QStringLiteral("splClient"));

    mmoMessage = new QPlainTextEdit(splitBottom);
    mmoMessage->setObjectName(QStringLiteral("mmoMessage"));
    mmoMessage->setReadOnly(true);
    // A log is never undone; recording every append would double the cost of long logs.
    mmoMessage->setUndoRedoEnabled(false);
    mmoMessage->setLineWrapMode(QPlainTextEdit::NoWrap);
    mmoMessage->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmoMessage->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    splitBottom->addWidget(splitClient);
    splitBottom->addWidget(mmoMessage);
    splitBottom->setStretchFactor(0, 1);
    splBottom = splitBottom->handle(1);
    splBottom->setObjectName(QStringLiteral("splBottom"));

    pnlProjectManager->hide();
    splClient->hide();
    mmoMessage->hide();
    splBottom->hide();

    connect(tsShowPages, &QTabBar::currentChanged, this, &TfmWinIDE::tsShowPagesChange);
    m_sinceFlush.start();
}

void TfmWinIDE::createActions()
{
    actCompile_Node = makeAction(this,
                                 "actCompile_Node",
                                 QStringLiteral("模块运行(&M)"),
                                 QStringLiteral("运行报表中选择的模块"),
                                 QStringLiteral("运行报表中选择的模块"));
    actCompile_Node->setShortcut(QKeySequence(Qt::Key_F4));
    actCompile_Page = makeAction(this,
                                 "actCompile_Page",
                                 QStringLiteral("运行当前页(&P)"),
                                 QStringLiteral("运行当前页"),
                                 QStringLiteral("运行当前页"));
    actCompileProject = makeAction(this,
                                   "actCompileProject",
                                   QStringLiteral("运行工程(&R)"),
                                   QStringLiteral("运行"),
                                   QStringLiteral("运行工程以得到计算结果"));
    actSaveExamData = makeAction(
        this, "actSaveExamData", QStringLiteral("保存测试数据(&S)..."), QString(), QString());
    actLoadExamData = makeAction(
        this, "actLoadExamData", QStringLiteral("加载测试数据(&L)..."), QString(), QString());

    connect(actCompile_Node, &QAction::triggered, this, &TfmWinIDE::actCompile_NodeExecute);
    connect(actCompile_Page, &QAction::triggered, this, &TfmWinIDE::actCompile_PageExecute);
    connect(actCompileProject, &QAction::triggered, this, &TfmWinIDE::actCompileProjectExecute);
    connect(actSaveExamData, &QAction::triggered, this, &TfmWinIDE::actSaveExamDataExecute);
    connect(actLoadExamData, &QAction::triggered, this, &TfmWinIDE::actLoadExamDataExecute);
    actCheckProject = makeAction(this,
                                 "actCheckProject",
                                 QStringLiteral("检查工程(&K)"),
                                 QStringLiteral("检查工程"),
                                 QStringLiteral("检查公式、名称、编码和单元格标记，不运行工程"));
    connect(actCheckProject, &QAction::triggered, this, &TfmWinIDE::actCheckProjectExecute);

    // Tree edits: their shortcuts act while the tree has the focus, so Delete or Ctrl+C on a
    // page keep their meaning there.
    // Edits that change the run order or what formulas find leave every result out of date.
    const auto treeAction = [this](QAction *&action, const char *name, const QString &caption,
                                   const QKeySequence &key, const std::function<QModelIndex()> &edit,
                                   bool staleResults = true) {
        action = new QAction(caption, this);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(key);
        action->setShortcutContext(Qt::WidgetShortcut);
        tvProject->addAction(action);
        connect(action, &QAction::triggered, this, [this, edit, staleResults] {
            if (staleResults)
                editTree(edit, [this] { return m_resultNames; });
            else
                editTree(edit);
        });
    };
    treeAction(actAddChildNode, "actAddChildNode", QStringLiteral("添加子节点(&C)"),
               QKeySequence(Qt::CTRL | Qt::Key_Insert),
               [this] { return m_treeEditor->addChild(selectedItem()); }, false);
    treeAction(actAddSiblingNode, "actAddSiblingNode", QStringLiteral("添加同级节点(&N)"),
               QKeySequence(Qt::Key_Insert),
               [this] { return m_treeEditor->addSibling(selectedItem()); }, false);
    treeAction(actDeleteNode, "actDeleteNode", QStringLiteral("删除节点(&D)"),
               QKeySequence(Qt::Key_Delete), [this] {
                   m_treeEditor->remove(selectedItem());
                   return QModelIndex();
               });
    treeAction(actMoveNodeUp, "actMoveNodeUp", QStringLiteral("上移(&U)"),
               QKeySequence(Qt::ALT | Qt::Key_Up),
               [this] { return m_treeEditor->moveUp(selectedItem()); });
    treeAction(actMoveNodeDown, "actMoveNodeDown", QStringLiteral("下移(&W)"),
               QKeySequence(Qt::ALT | Qt::Key_Down),
               [this] { return m_treeEditor->moveDown(selectedItem()); });
    treeAction(actOutdentNode, "actOutdentNode", QStringLiteral("升级(&L)"),
               QKeySequence(Qt::ALT | Qt::Key_Left),
               [this] { return m_treeEditor->outdent(selectedItem()); });
    treeAction(actIndentNode, "actIndentNode", QStringLiteral("降级(&R)"),
               QKeySequence(Qt::ALT | Qt::Key_Right),
               [this] { return m_treeEditor->indent(selectedItem()); });
    treeAction(actCopyNode, "actCopyNode", QStringLiteral("复制节点(&O)"),
               QKeySequence(QKeySequence::Copy), [this] {
                   const QModelIndex item = selectedItem();
                   if (!item.isValid())
                       throw Error(QStringLiteral("没有选中要复制的节点"));
                   auto *mime = new QMimeData;
                   mime->setData(QString::fromLatin1(kNodesMime),
                                 branchToXml(*Project->TreeView, item));
                   mime->setText(Project->TreeView->node(item)->Name);
                   QGuiApplication::clipboard()->setMimeData(mime);
                   return item;
               }, false);
    treeAction(actPasteNode, "actPasteNode", QStringLiteral("粘贴节点(&P)"),
               QKeySequence(QKeySequence::Paste), [this] {
                   const QMimeData *mime = QGuiApplication::clipboard()->mimeData();
                   if (!mime || !mime->hasFormat(QString::fromLatin1(kNodesMime)))
                       throw Error(QStringLiteral("剪贴板上没有节点"));
                   // As children of the selected node, after those it has.
                   const QModelIndex parent = selectedItem();
                   return m_treeEditor->paste(mime->data(QString::fromLatin1(kNodesMime)), parent,
                                              Project->TreeView->rowCount(parent));
               });

    actAddTab = new QAction(QStringLiteral("添加页(&A)"), this);
    actRemoveTab = new QAction(QStringLiteral("删除页(&D)"), this);
    actRenameTab = new QAction(QStringLiteral("重命名页(&R)..."), this);
    actTabLeft = new QAction(QStringLiteral("左移(&L)"), this);
    actTabRight = new QAction(QStringLiteral("右移(&M)"), this);
    actAddTab->setObjectName(QStringLiteral("actAddTab"));
    actRemoveTab->setObjectName(QStringLiteral("actRemoveTab"));
    actRenameTab->setObjectName(QStringLiteral("actRenameTab"));
    actTabLeft->setObjectName(QStringLiteral("actTabLeft"));
    actTabRight->setObjectName(QStringLiteral("actTabRight"));
    connect(actAddTab, &QAction::triggered, this, [this] {
        editTabs(QStringLiteral("添加页"), [this](QStringList &names, QList<TabPage> &pages) {
            const int at = tsShowPages->currentIndex() + 1;
            QString name;
            for (int k = 1; name.isEmpty() || names.contains(name); ++k)
                name = QStringLiteral("新页%1").arg(k);
            names.insert(at, name);
            for (TabPage &p : pages)
                if (p.owner >= at)
                    ++p.owner;
            // One empty page on the workbook's paper, after the pages of the tabs before it.
            TqzReportPage blank(m_document->workbook().NewPageSetup);
            QDomDocument scratch;
            QDomElement element = scratch.createElement(QStringLiteral("TqzReport"));
            element.setAttribute(QStringLiteral("SaveText"), blank.SaveToText());
            qsizetype k = 0;
            while (k < pages.size() && pages[k].owner < at)
                ++k;
            pages.insert(k, TabPage{element, -1, at});
            return at;
        });
    });
    connect(actRemoveTab, &QAction::triggered, this, [this] {
        editTabs(QStringLiteral("删除页"), [this](QStringList &names, QList<TabPage> &pages) {
            const int tab = tsShowPages->currentIndex();
            if (names.size() <= 1)
                throw Error(QStringLiteral("工程至少要有一页，不能删除最后一页"));
            names.removeAt(tab);
            pages.removeIf([tab](const TabPage &p) { return p.owner == tab; });
            for (TabPage &p : pages)
                if (p.owner > tab)
                    --p.owner;
            return std::min(tab, int(names.size()) - 1);
        });
    });
    connect(actRenameTab, &QAction::triggered, this, [this] {
        const int tab = tsShowPages->currentIndex();
        const QVariant answer = askDesign(QStringLiteral("tab name"), tsShowPages->tabText(tab));
        if (!answer.isValid())
            return;
        const QString name = answer.toString().trimmed();
        editTabs(QStringLiteral("重命名页 ") + name, [=](QStringList &names, QList<TabPage> &) {
            if (name.isEmpty())
                throw Error(QStringLiteral("页名不能为空"));
            for (const QChar c : name)
                if (c.unicode() < 0x20)
                    throw Error(QStringLiteral("页名不能含有换行或控制字符"));
            if (names.contains(name) && names.indexOf(name) != tab)
                throw Error(QStringLiteral("已有名为“%1”的页").arg(name));
            names[tab] = name;
            return tab;
        });
    });
    const auto moveTab = [this](int by) {
        editTabs(by < 0 ? QStringLiteral("左移页") : QStringLiteral("右移页"),
                 [this, by](QStringList &names, QList<TabPage> &pages) {
                     const int tab = tsShowPages->currentIndex();
                     const int to = tab + by;
                     if (to < 0 || to >= names.size())
                         throw Error(QStringLiteral("页已在最%1边").arg(by < 0 ? "左" : "右"));
                     names.swapItemsAt(tab, to);
                     for (TabPage &p : pages)
                         p.owner = p.owner == tab ? to : p.owner == to ? tab : p.owner;
                     // Pages print in tab order.
                     std::stable_sort(pages.begin(), pages.end(),
                                      [](const TabPage &a, const TabPage &b) {
                                          return a.owner < b.owner;
                                      });
                     return to;
                 });
    };
    connect(actTabLeft, &QAction::triggered, this, [moveTab] { moveTab(-1); });
    connect(actTabRight, &QAction::triggered, this, [moveTab] { moveTab(1); });

    actBindInput = makeAction(this, "actBindInput", QStringLiteral("绑定节点为输入(&I)"),
                              QString(), QStringLiteral("所选单元格显示并输入树中选中的节点"));
    actBindResult = makeAction(this, "actBindResult", QStringLiteral("绑定节点为结果(&O)"),
                               QString(), QStringLiteral("所选单元格显示树中选中节点的计算结果"));
    actUnbindCell = makeAction(this, "actUnbindCell", QStringLiteral("解除绑定(&U)"), QString(),
                               QStringLiteral("所选单元格不再与节点交换数值"));
    connect(actBindInput, &QAction::triggered, this, [this] { bindSelectedCells(1); });
    connect(actBindResult, &QAction::triggered, this, [this] { bindSelectedCells(0); });
    connect(actUnbindCell, &QAction::triggered, this, [this] { bindSelectedCells(-1); });
}

void TfmWinIDE::createMenus()
{
    mniView = new QMenu(QStringLiteral("查看(&V)"), this);
    mniView->setObjectName(QStringLiteral("mniView"));
    mniViewManager = mniView->addAction(QStringLiteral("工程管理器(&P)"));
    mniViewManager->setObjectName(QStringLiteral("mniViewManager"));
    mniViewManager->setCheckable(true);
    mniViewMsg = mniView->addAction(QStringLiteral("信息框(&M)"));
    mniViewMsg->setObjectName(QStringLiteral("mniViewMsg"));
    mniViewMsg->setCheckable(true);
    N3 = mniView->addSeparator();
    N3->setObjectName(QStringLiteral("N3"));
    mmIDE->addMenu(mniView);
    m_pageGroup = new QActionGroup(this);
    m_pageGroup->setExclusive(true);

    connect(mniView, &QMenu::aboutToShow, this, &TfmWinIDE::mniViewClick);
    // Checkable entries: a click inverts the check mark, then the handler follows it.
    connect(mniViewManager, &QAction::toggled, this, &TfmWinIDE::mniViewManagerClick);
    connect(mniViewMsg, &QAction::toggled, this, &TfmWinIDE::mniViewMsgClick);

    pmuReportTab = new QMenu(this);
    pmuReportTab->setObjectName(QStringLiteral("pmuReportTab"));
    connect(tsShowPages, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        pmuReportTabPopup();
        pmuReportTab->popup(tsShowPages->mapToGlobal(pos));
    });

    pmReport = new QMenu(this);
    pmReport->setObjectName(QStringLiteral("pmReport"));
    pmReport->addAction(actCompile_Node);
    pmReport->addAction(actCompile_Page);
    pmReport->addAction(actCompileProject);
    pmReport->addAction(actCheckProject);
    pmReport->addSeparator();
    pmReport->addAction(actSaveExamData);
    pmReport->addAction(actLoadExamData);

    createDesignMenu();
    pmReport->addSeparator();
    pmReport->addMenu(pmDesign);
    pmReport->addAction(actBindInput);
    pmReport->addAction(actBindResult);
    pmReport->addAction(actUnbindCell);

    pmProject = new QMenu(this);
    pmProject->setObjectName(QStringLiteral("pmProject"));
    pmProject->addActions({actAddChildNode, actAddSiblingNode, actDeleteNode});
    pmProject->addSeparator();
    pmProject->addActions({actMoveNodeUp, actMoveNodeDown, actOutdentNode, actIndentNode});
    pmProject->addSeparator();
    pmProject->addActions({actCopyNode, actPasteNode});
    pmProject->addSeparator();
    pmProject->addAction(actCompileProject);
    pmProject->addAction(actCheckProject);
    pmProject->addSeparator();
    pmProject->addAction(actSaveExamData);
    pmProject->addAction(actLoadExamData);
    auto *actSweep = new QAction(QStringLiteral("参数扫描(&W)..."), this);
    actSweep->setObjectName(QStringLiteral("actSweep"));
    connect(actSweep, &QAction::triggered, this, [this] {
        auto *dialog = new TqzSweepDialog(*Project, m_document->workbook(), *m_file, this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->show();
    });
    pmReport->insertAction(pmReport->actions().at(3), actSweep); // after the run entries
    pmProject->insertAction(actCheckProject, actSweep);
    connect(tvProject, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        pmProject->popup(tvProject->viewport()->mapToGlobal(pos));
    });
}

// ---- loading ----

void TfmWinIDE::loadProjectBytes(const QByteArray &document,
                                 const QString &where,
                                 const QString &caption)
{
    refuseDuringRun(where);
    m_document->loadBytes(document, where);
    finishLoading(caption);
}

void TfmWinIDE::loadProjectFile(const QString &fileName)
{
    refuseDuringRun(fileName);
    m_document->loadFile(fileName);
    finishLoading(QFileInfo(fileName).fileName());
}

void TfmWinIDE::startNewProject(const QString &caption)
{
    if (isRunning())
        throw Error(caption + QStringLiteral("：计算进行中，不能新建"));
    finishLoading(caption);
    m_document->fillCodeTable();
    // A calculation is built in the tree: the panel is where to start.
    if (!mniViewManager->isChecked())
        mniViewManager->setChecked(true);
}

void TfmWinIDE::refuseDuringRun(const QString &where) const
{
    // The run works on the nodes and pages a load would replace.
    if (isRunning())
        throw Error(where + QStringLiteral("：计算进行中，不能加载"));
}

void TfmWinIDE::finishLoading(const QString &caption)
{
    setWindowTitle(caption);
    Loaded = true;
    m_currentPage = nullptr;
    rebuildNameTables();
    m_staleNames.clear();
    m_steps.clear();
    m_emptyInputs.clear();
    m_ranSinceLoad = false;
    m_fromTestData.clear();
    setStatus(QString(), false);
    slbReportResize();
    // The steps of the project shown before do not apply to this one, and the loaded state is
    // the clean one (clear alone keeps an empty stack's reset clean state).
    m_undoStack->clear();
    m_undoStack->setClean();
    m_treeEditor->markSaved();
    m_file->EditedTree = nullptr;
    refreshNodeWords();
    pnlNodeProperties->showNode(nullptr);
    pnlNodeProperties->showProblem(QString());
}

void TfmWinIDE::refreshNodeWords()
{
    QStringList names;
    const TqzProjectTree &tree = *Project->TreeView;
    for (int i = 0, n = tree.count(); i < n; ++i)
        names.append(tree.nodeAt(i)->Name);
    names.removeDuplicates();
    pnlNodeProperties->setWords(names, m_treeEditor->libraryNames());
}

void TfmWinIDE::editTree(const std::function<QModelIndex()> &edit,
                         const std::function<QSet<QString>()> &stale)
{
    if (isRunning()) {
        setStatus(QStringLiteral("计算进行中，不能修改节点树"), true);
        return;
    }
    QModelIndex item;
    try {
        item = edit();
    } catch (const Error &e) {
        // Refused: nothing changed. The reason stays beside the tree until the next edit.
        pnlNodeProperties->showProblem(e.message());
        setStatus(e.message(), true);
        tvProjectChange(selectedItem());
        return;
    }
    pnlNodeProperties->showProblem(QString());
    // Results on the pages were computed with the tree as it was.
    if (stale)
        markStale(stale());
    if (item.isValid())
        selectItem(item);
}

void TfmWinIDE::treeEdited(const QModelIndex &item)
{
    m_document->fillCodeTable();
    rebuildNameTables();
    refreshNodeWords();
    m_file->EditedTree = m_treeEditor->treeChanged() ? Project : nullptr;
    if (item.isValid()) {
        tvProject->expand(item.parent());
        selectItem(item);
    }
    tvProjectChange(selectedItem());
    if (!m_statusText.isEmpty() && m_statusError)
        setStatus(QString(), false);
}

QVariant TfmWinIDE::askDesign(const QString &what, const QVariant &current)
{
    if (m_designQuestion)
        return m_designQuestion(this, what, current);
    if (what == QLatin1String("table")) {
        bool ok = false;
        const int cols = QInputDialog::getInt(this, QStringLiteral("新建表格"),
                                              QStringLiteral("列数："), 4, 1, 64, 1, &ok);
        if (!ok)
            return {};
        const int rows = QInputDialog::getInt(this, QStringLiteral("新建表格"),
                                              QStringLiteral("行数："), 10, 1, 500, 1, &ok);
        return ok ? QVariant(QSize(cols, rows)) : QVariant();
    }
    if (what == QLatin1String("font")) {
        bool ok = false;
        const QFont font = QFontDialog::getFont(&ok, current.value<QFont>(), this);
        return ok ? QVariant(font) : QVariant();
    }
    if (what == QLatin1String("colour")) {
        const QColor colour = QColorDialog::getColor(current.value<QColor>(), this);
        return colour.isValid() ? QVariant(colour) : QVariant();
    }
    if (what == QLatin1String("setup"))
        return askPageSetup(this, current.toList());
    if (what == QLatin1String("chart"))
        return askChart(this, current.toMap());
    bool ok = false;
    const bool tab = what == QLatin1String("tab name");
    const QString text = QInputDialog::getText(
        this, tab ? QStringLiteral("重命名页") : QStringLiteral("显示格式"),
        tab ? QStringLiteral("页名：") : QStringLiteral("格式（如 0.00，空为原样）："),
        QLineEdit::Normal, current.toString(), &ok);
    return ok ? QVariant(text) : QVariant();
}

void TfmWinIDE::createDesignMenu()
{
    pmDesign = new QMenu(QStringLiteral("页面设计(&D)"), this);
    pmDesign->setObjectName(QStringLiteral("pmDesign"));
    const auto ask = [this](const QString &what, const QVariant &current) {
        return askDesign(what, current);
    };
    // An entry whose undo step is named by its caption without accelerator and ellipsis.
    const auto add = [this](const char *name, const QString &caption, bool needsCells,
                            const std::function<void(TqzReport &)> &work) {
        QAction *action = pmDesign->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        static const QRegularExpression decoration(QStringLiteral("\\(&.\\)|\\.\\.\\.$"));
        const QString step = QString(caption).remove(decoration);
        connect(action, &QAction::triggered, this,
                [=, this] { designPage(step, needsCells, work); });
        return action;
    };
    add("actNewTable", QStringLiteral("新建表格(&T)..."), false,
        [ask](TqzReport &page) {
            const QVariant size = ask(QStringLiteral("table"), QSize(4, 10));
            if (size.isValid())
                page.NewTable(size.toSize().width(), size.toSize().height());
        });
    pmDesign->addSeparator();
    add("actInsertLine", QStringLiteral("插入行(&I)"), true,
        [](TqzReport &page) { page.InsertLine(); });
    add("actAddLine", QStringLiteral("追加行(&A)"), false,
        [](TqzReport &page) { page.AddLine(); });
    add("actDeleteLine", QStringLiteral("删除行(&D)"), true,
        [](TqzReport &page) { page.DeleteLine(); });
    add("actInsertCell", QStringLiteral("插入单元格"), true,
        [](TqzReport &page) { page.InsertCell(); });
    add("actAddCell", QStringLiteral("追加单元格"), true,
        [](TqzReport &page) { page.AddCell(); });
    add("actDeleteCell", QStringLiteral("删除单元格"), true,
        [](TqzReport &page) { page.DeleteCell(); });
    add("actCombineCell", QStringLiteral("合并单元格(&M)"), true,
        [](TqzReport &page) { page.CombineCell(); });
    add("actSplitCell", QStringLiteral("拆分单元格(&S)"), true,
        [](TqzReport &page) { page.SplitCell(); });
    pmDesign->addSeparator();
    add("actAlignLeft", QStringLiteral("左对齐"), true,
        [](TqzReport &page) { page.SetCellAlignHorzAlign(TEXT_ALIGN_LEFT); });
    add("actAlignCenter", QStringLiteral("居中"), true,
        [](TqzReport &page) { page.SetCellAlignHorzAlign(TEXT_ALIGN_CENTER); });
    add("actAlignRight", QStringLiteral("右对齐"), true,
        [](TqzReport &page) { page.SetCellAlignHorzAlign(TEXT_ALIGN_RIGHT); });
    add("actBold", QStringLiteral("粗体(&B)"), true, [](TqzReport &page) {
        // The first selected cell's font, bold unless it is bold already (then normal).
        LOGFONT font = page.FSelectCells.first()->FLogFont;
        font.lfWeight = font.lfWeight >= 700 ? 400 : 700;
        page.SetCellFont(font);
    });
    add("actCellFont", QStringLiteral("字体(&F)..."), true,
        [ask](TqzReport &page) {
            const QVariant font
                = ask(QStringLiteral("font"), fontFromLogFont(page.FSelectCells.first()->FLogFont));
            if (font.isValid())
                page.SetCellFont(logFontFromFont(font.value<QFont>()));
        });
    add("actBackColor", QStringLiteral("背景色(&G)..."), true,
        [ask](TqzReport &page) {
            const TColor old = page.FSelectCells.first()->FBackGroundColor;
            const QVariant colour = ask(QStringLiteral("colour"),
                                        QColor(old & 0xff, (old >> 8) & 0xff, (old >> 16) & 0xff));
            if (colour.isValid()) {
                const QColor c = colour.value<QColor>();
                page.SetCellBackColor(TColor(c.red()) | TColor(c.green()) << 8
                                      | TColor(c.blue()) << 16);
            }
        });
    add("actDispFormat", QStringLiteral("显示格式(&N)..."), true,
        [ask](TqzReport &page) {
            const QVariant format
                = ask(QStringLiteral("format"), page.FSelectCells.first()->FCellDispFormat);
            if (format.isValid())
                page.SetCellDispFormt(format.toString());
        });
    pmDesign->addSeparator();
    // Borders: all four, none, or one side turned over (as the first selected cell has it).
    const auto borders = [](TqzReport &page, int side) {
        const TReportCell *first = page.FSelectCells.first();
        bool on[4] = {first->FLeftLine, first->FTopLine, first->FRightLine, first->FBottomLine};
        if (side < 0)
            std::fill(std::begin(on), std::end(on), side == -1);
        else
            on[side] = !on[side];
        page.SetCellLines(on[0], on[1], on[2], on[3], first->FLeftLineWidth,
                          first->FTopLineWidth, first->FRightLineWidth, first->FBottomLineWidth);
    };
    add("actAllBorders", QStringLiteral("全部框线"), true,
        [borders](TqzReport &page) { borders(page, -1); });
    add("actNoBorders", QStringLiteral("无框线"), true,
        [borders](TqzReport &page) { borders(page, -2); });
    const char *sideNames[] = {"actLeftBorder", "actTopBorder", "actRightBorder", "actBottomBorder"};
    const QString sideCaptions[] = {QStringLiteral("左框线"), QStringLiteral("上框线"),
                                    QStringLiteral("右框线"), QStringLiteral("下框线")};
    for (int side = 0; side < 4; ++side)
        add(sideNames[side], sideCaptions[side], true,
            [borders, side](TqzReport &page) { borders(page, side); });
    pmDesign->addSeparator();
    QAction *chart = pmDesign->addAction(QStringLiteral("插入图表(&H)..."));
    chart->setObjectName(QStringLiteral("actInsertChart"));
    connect(chart, &QAction::triggered, this, &TfmWinIDE::insertChart);
    add("actPageSetup", QStringLiteral("页面设置(&U)..."), false,
        [this](TqzReport &page) {
            const PageSetup now = page.page().pageSetup();
            const QVariantList current{now.paperSize, now.orientation, now.leftMarginMm,
                                       now.topMarginMm, now.rightMarginMm, now.bottomMarginMm};
            const QVariant answer = askDesign(QStringLiteral("setup"), current);
            if (!answer.isValid())
                return;
            const QVariantList v = answer.toList();
            if (v.size() != 6)
                return;
            page.page().applySetup(
                pageSetupFor(v[0].toInt(), v[1].toInt(), v[2].toInt(), v[3].toInt(),
                             v[4].toInt(), v[5].toInt(), now.dpiX));
        });
}

TqzWorkbookState TfmWinIDE::workbookState() const
{
    TqzWorkbookState state;
    QDomDocument doc;
    QDomElement element = doc.createElement(QString::fromUtf16(WorkbookElementName));
    doc.appendChild(element);
    m_document->workbook().SaveToXML(element);
    state.element = doc.toString(-1);
    state.charts = m_document->workbook().charts();
    state.tab = tsShowPages->currentIndex();
    return state;
}

void TfmWinIDE::applyWorkbook(const TqzWorkbookState &state)
{
    Excel->EndEdits();
    QDomDocument doc;
    if (!doc.setContent(state.element))
        return;
    TqzWorkbook &book = m_document->workbook();
    {
        const QScopedValueRollback applying(m_recording, true);
        book.LoadFromXML(doc.documentElement());
        book.setCharts(state.charts);
    }
    m_currentPage = nullptr;
    if (state.tab >= 0 && state.tab < tsShowPages->count())
        tsShowPages->setCurrentIndex(state.tab);
    slbReportResize();
}

void TfmWinIDE::editTabs(const QString &name,
                         const std::function<int(QStringList &, QList<TabPage> &)> &edit)
{
    if (isRunning())
        return;
    Excel->EndEdits();
    const TqzWorkbookState before = workbookState();
    QDomDocument doc;
    doc.setContent(before.element);
    QStringList names = m_document->workbook().PageNames;
    QList<TabPage> pages;
    int k = 0;
    for (QDomElement child = doc.documentElement().firstChildElement(); !child.isNull();
         child = child.nextSiblingElement(), ++k)
        pages.append({child, k, child.attribute(QStringLiteral("OwnerIndex")).toInt()});
    int show = 0;
    try {
        show = edit(names, pages);
    } catch (const Error &e) {
        setStatus(e.message(), true);
        return;
    }
    QDomDocument out;
    QDomElement element = out.createElement(QString::fromUtf16(WorkbookElementName));
    out.appendChild(element);
    QString tabs;
    for (const QString &tab : std::as_const(names))
        tabs += tab + QStringLiteral("\r\n");
    element.setAttribute(QStringLiteral("ShowPages"), tabs);
    QHash<int, int> moved; // old page index -> new one
    for (qsizetype i = 0; i < pages.size(); ++i) {
        QDomElement child = out.importNode(pages[i].element, true).toElement();
        child.setAttribute(QStringLiteral("OwnerIndex"), QString::number(pages[i].owner));
        element.appendChild(child);
        if (pages[i].oldIndex >= 0)
            moved.insert(pages[i].oldIndex, int(i));
    }
    TqzWorkbookState after;
    after.element = out.toString(-1);
    after.tab = show;
    for (TqzChart chart : before.charts) {
        // A chart goes with its page; the charts of a removed page go with it.
        if (!moved.contains(chart.page))
            continue;
        chart.page = moved.value(chart.page);
        after.charts.append(chart);
    }
    editWorkbook(name, [&] { applyWorkbook(after); });
    setStatus(QString(), false);
}

void TfmWinIDE::renameNode(const QModelIndex &item, const QString &name)
{
    const QString problem = m_treeEditor->fieldProblem(item, TqzNodeField::Name, name);
    if (!problem.isEmpty())
        throw Error(problem);
    const TqzProjectTree &tree = *Project->TreeView;
    const TqzNode *node = tree.node(item);
    const QString old = node->Name;
    if (old == name)
        return;
    // A namesake keeps the old name: what uses it still finds a node.
    bool namesake = false;
    for (int i = 0, n = tree.count(); i < n && !namesake; ++i)
        namesake = tree.nodeAt(i) != node && tree.nodeAt(i)->Name == old;
    const auto formulas = namesake || old.isEmpty()
                              ? QList<QPair<QPersistentModelIndex, QString>>()
                              : m_treeEditor->formulasRenamed(old, name);
    QHash<TqzReport *, QList<TReportCell *>> bound;
    if (!namesake && !old.isEmpty())
        for (const auto &[page, cell] : Excel->CellsOfName(upperAscii(old)))
            bound[page].append(cell);
    if (formulas.isEmpty() && bound.isEmpty()) {
        m_treeEditor->setField(item, TqzNodeField::Name, name);
        return;
    }
    const QPersistentModelIndex renamed = item;
    m_undoStack->beginMacro(QStringLiteral("重命名 %1 为 %2").arg(old, name));
    m_treeEditor->setField(renamed, TqzNodeField::Name, name);
    for (const auto &[user, script] : formulas)
        m_treeEditor->setField(user, TqzNodeField::Script, script);
    for (auto it = bound.cbegin(); it != bound.cend(); ++it) {
        editPage(it.key(), QStringLiteral("重命名绑定 ") + name, [&] {
            for (TReportCell *cell : it.value()) {
                // "[d][d][d][NAME]" keeps its three values; a plain tag is the name itself.
                const QString tag = trimTag(cell->FTagID);
                cell->FTagID = tag.startsWith(u'[') && tag.size() >= 11
                                   ? tag.left(10) + name + tag.right(1)
                                   : name;
            }
        });
        it.key()->update();
    }
    m_undoStack->endMacro();
}

void TfmWinIDE::editWorkbook(const QString &name, const std::function<void()> &change)
{
    const TqzWorkbookState before = workbookState();
    const TqzResultView view = resultView();
    {
        const QScopedValueRollback recording(m_recording, true);
        change();
    }
    TqzWorkbookState after = workbookState();
    if (after.element == before.element && after.charts == before.charts)
        return;
    slbReportResize();
    for (TqzReport *page : std::as_const(Excel->Pages))
        page->update();
    m_undoStack->push(new TqzWorkbookCommand(*this, name, before, after, view, resultView()));
}

void TfmWinIDE::insertChart()
{
    TqzReport *page = currentPage();
    if (isRunning())
        return;
    if (!page || page->FSelectCells.isEmpty()) {
        setStatus(QStringLiteral("先选中图表要占的单元格"), true);
        return;
    }
    QStringList inputs(m_inputNames.begin(), m_inputNames.end());
    QStringList results(m_resultNames.begin(), m_resultNames.end());
    inputs.sort();
    results.sort();
    const QVariantMap current{{QStringLiteral("title"), QString()},
                              {QStringLiteral("inputs"), inputs},
                              {QStringLiteral("results"), results},
                              {QStringLiteral("from"), QStringLiteral("0")},
                              {QStringLiteral("to"), QStringLiteral("1")},
                              {QStringLiteral("points"), 11}};
    const QVariant answer = askDesign(QStringLiteral("chart"), current);
    if (!answer.isValid())
        return;
    const QVariantMap a = answer.toMap();
    TqzChart chart;
    chart.page = static_cast<int>(Excel->Pages.indexOf(page));
    chart.title = a.value(QStringLiteral("title")).toString().trimmed();
    chart.input = a.value(QStringLiteral("input")).toString();
    chart.outputs = a.value(QStringLiteral("outputs")).toStringList();
    chart.points = a.value(QStringLiteral("points")).toInt();
    bool fromOk = false;
    bool toOk = false;
    chart.from = a.value(QStringLiteral("from")).toString().trimmed().toDouble(&fromOk);
    chart.to = a.value(QStringLiteral("to")).toString().trimmed().toDouble(&toOk);
    QString problem;
    if (!m_inputNames.contains(chart.input))
        problem = QStringLiteral("“%1”不是工程的输入节点").arg(chart.input);
    else if (!fromOk || !toOk || std::abs(chart.from) > kMaxChartInput
             || std::abs(chart.to) > kMaxChartInput || chart.from == chart.to)
        problem = QStringLiteral("范围须是两个不同的数（绝对值不超过 1e300）");
    else if (chart.points < 2 || chart.points > kMaxChartPoints)
        problem = QStringLiteral("点数须在 2 到 %1 之间").arg(kMaxChartPoints);
    else if (chart.outputs.isEmpty() || chart.outputs.size() > kMaxChartOutputs)
        problem = QStringLiteral("须选 1 到 %1 个结果").arg(kMaxChartOutputs);
    for (const QString &output : std::as_const(chart.outputs))
        if (problem.isEmpty() && !m_resultNames.contains(output))
            problem = QStringLiteral("“%1”不是工程的计算结果").arg(output);
    if (!problem.isEmpty()) {
        setStatus(QStringLiteral("插入图表：") + problem, true);
        return;
    }
    if (chart.title.isEmpty())
        chart.title = chart.outputs.join(QStringLiteral("、")) + QStringLiteral(" - ") + chart.input;
    // The rectangle of the selected cells.
    chart.first = {INT_MAX, INT_MAX};
    chart.last = {-1, -1};
    for (const TReportCell *cell : std::as_const(page->FSelectCells)) {
        const TCellPos at = page->page().positionOf(cell);
        chart.first = {std::min(chart.first.line, at.line), std::min(chart.first.cell, at.cell)};
        chart.last = {std::max(chart.last.line, at.line), std::max(chart.last.cell, at.cell)};
    }
    QStringList problems;
    editWorkbook(QStringLiteral("插入图表 ") + chart.title, [&] {
        TqzWorkbook &book = m_document->workbook();
        QList<TqzChart> charts = book.charts();
        charts.append(chart);
        book.setCharts(charts);
        problems = computeCharts(*m_document);
    });
    for (const QString &line : std::as_const(problems))
        appendLog(line);
    setStatus(problems.isEmpty() ? QString() : problems.first(), !problems.isEmpty());
    // The chart is seen, not the selection drawn over it.
    if (TqzReport *shown = Excel->Pages.value(chart.page)) {
        shown->RemoveAllSelectedCell();
        shown->update();
    }
}

void TfmWinIDE::designPage(const QString &name,
                           bool needsCells,
                           const std::function<void(TqzReport &)> &step)
{
    TqzReport *page = currentPage();
    if (!page && !Excel->Pages.isEmpty())
        page = Excel->Pages.first();
    if (!page || isRunning())
        return;
    if (needsCells && page->FSelectCells.isEmpty()) {
        setStatus(QStringLiteral("先选中要修改的单元格"), true);
        return;
    }
    const int steps = m_undoStack->index();
    try {
        editPage(page, name, [&] { step(*page); });
    } catch (const Error &e) {
        setStatus(e.message(), true);
        return;
    }
    page->update();
    if (m_undoStack->index() == steps)
        setStatus(QStringLiteral("%1：页面没有改变（所选单元格不适用，或已取消）").arg(name), true);
    else
        setStatus(QString(), false);
}

void TfmWinIDE::bindSelectedCells(int kind)
{
    TqzReport *page = currentPage();
    if (!page || isRunning())
        return;
    const TqzNode *node = Project->TreeView->node(selectedItem());
    if (kind >= 0 && !node) {
        setStatus(QStringLiteral("先在节点树中选中要绑定的节点"), true);
        return;
    }
    const QList<TReportCell *> cells = page->FSelectCells;
    if (cells.isEmpty()) {
        setStatus(QStringLiteral("先选中要绑定的单元格"), true);
        return;
    }
    const QString tag = kind < 0 ? QString()
                                 : QStringLiteral("[2][%1][0][%2]").arg(kind).arg(node->Name);
    const QString name = kind < 0 ? QStringLiteral("解除绑定")
                                  : QStringLiteral("绑定 ") + node->Name;
    editPage(page, name, [&] {
        for (TReportCell *cell : cells)
            cell->FTagID = tag;
    });
    page->update();
    setStatus(QString(), false);
}



// ---- what the pages tell the user: stale, failed and defaulted values ----

void TfmWinIDE::rebuildNameTables()
{
    m_inputNames.clear();
    m_resultNames.clear();
    m_usedBy.clear();
    const TqzProjectTree &tree = *Project->TreeView;
    const int count = tree.count();
    QSet<QString> names;
    for (int i = 0; i < count; ++i) {
        const TqzNode *node = tree.nodeAt(i);
        if (node->Name.isEmpty())
            continue;
        names.insert(node->Name);
        (node->Script.isEmpty() ? m_inputNames : m_resultNames).insert(node->Name);
    }
    // A formula that mentions a name uses it. A name inside a longer one counts as well: a
    // result marked stale too often misleads nobody, one missed would.
    for (int i = 0; i < count; ++i) {
        const TqzNode *node = tree.nodeAt(i);
        if (node->Script.isEmpty())
            continue;
        for (const QString &name : std::as_const(names))
            if (name != node->Name && node->Script.contains(name))
                m_usedBy[name].append(node->Name);
    }
    // A name both typed on some item and computed on another is a result.
    m_inputNames -= m_resultNames;
}

QSet<QString> TfmWinIDE::dependentsOf(const QString &name) const
{
    QSet<QString> found;
    QStringList todo{name};
    while (!todo.isEmpty()) {
        const QString next = todo.takeLast();
        for (const QString &user : m_usedBy.value(next))
            if (!found.contains(user)) {
                found.insert(user);
                todo.append(user);
            }
    }
    return found;
}

QStringList TfmWinIDE::staleNames() const
{
    QStringList names(m_staleNames.cbegin(), m_staleNames.cend());
    names.sort();
    return names;
}

void TfmWinIDE::markStale(const QSet<QString> &names)
{
    bool any = false;
    for (const QString &name : names) {
        if (!m_resultNames.contains(name))
            continue;
        any = true;
        m_staleNames.insert(name);
        for (const auto &[page, cell] : Excel->CellsOfName(name))
            page->SetCellMark(
                cell, TReportControl::CellMark::Stale, QStringLiteral("结果未更新，按 F9 计算"));
    }
    if (any || !m_staleNames.isEmpty())
        setStatus(QStringLiteral("结果未更新，按 F9 计算"), false);
}

void TfmWinIDE::pageTextsEdited(TqzReport *page, const QList<TCellTextEdit> &edits)
{
    const TqzResultView before = resultView();
    for (const TCellTextEdit &edit : edits)
        if (TReportCell *cell = page->CellFromRC(edit.line, edit.cell)) {
            pageCellEdited(page, cell);
            // A value typed over test data is the user's.
            if (const std::optional<QString> tag = page->NameOfCell(cell))
                m_fromTestData.remove(*tag);
        }
    // Typed during a run, the change belongs to the run's step.
    const int pageIndex = static_cast<int>(Excel->Pages.indexOf(page));
    if (m_recording || pageIndex < 0)
        return;
    // The contentChanged that ends this operation is part of the step.
    m_stepChangePending = true;
    m_typing = false;
    QList<TqzCellText> cells;
    for (const TCellTextEdit &edit : edits)
        cells.append({pageIndex, edit.line, edit.cell, edit.before, edit.after});
    const bool cleared = std::all_of(
        edits.cbegin(), edits.cend(), [](const TCellTextEdit &e) { return e.after.isEmpty(); });
    QString name = cleared ? QStringLiteral("清除") : QStringLiteral("输入");
    if (edits.size() == 1) {
        const TReportCell *cell = page->CellFromRC(edits.first().line, edits.first().cell);
        if (const std::optional<QString> tag = cell ? page->NameOfCell(cell) : std::nullopt)
            name += QLatin1Char(' ') + *tag;
    } else {
        name += QStringLiteral(" %1 个单元格").arg(edits.size());
    }
    m_undoStack->push(new TqzTextsCommand(*this, name, cells, {}, before, resultView()));
}

void TfmWinIDE::pageCellEdited(TqzReport *page, TReportCell *cell)
{
    const std::optional<QString> name = page->NameOfCell(cell);
    if (!name)
        return;
    if (page->cellMark(cell) == TReportControl::CellMark::Defaulted)
        page->SetCellMark(cell, TReportControl::CellMark::None);
    // A value typed over a result is not that result either, until the next run.
    QSet<QString> stale = dependentsOf(*name);
    stale.insert(*name);
    markStale(stale);
}

void TfmWinIDE::setStatus(const QString &text, bool error)
{
    if (text == m_statusText && error == m_statusError)
        return;
    m_statusText = text;
    m_statusError = error;
    emit statusChanged();
}

bool TfmWinIDE::endEdits()
{
    return Excel->EndEdits();
}

bool TfmWinIDE::settleStaleResults(bool needRun)
{
    endEdits();
    if (m_staleNames.isEmpty() && !(needRun && !m_ranSinceLoad))
        return true;
    StaleChoice choice = StaleChoice::Cancel;
    if (m_staleQuestion) {
        choice = m_staleQuestion(this);
    } else {
        QMessageBox box(QMessageBox::Question,
                        windowTitle(),
                        QStringLiteral("结果未更新，是否先计算？"),
                        QMessageBox::NoButton,
                        this);
        QPushButton *calculate = box.addButton(QStringLiteral("计算(&C)"), QMessageBox::AcceptRole);
        QPushButton *carryOn
            = box.addButton(QStringLiteral("继续(&G)"), QMessageBox::DestructiveRole);
        box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
        box.setDefaultButton(calculate);
        box.exec();
        if (box.clickedButton() == calculate)
            choice = StaleChoice::Calculate;
        else if (box.clickedButton() == carryOn)
            choice = StaleChoice::Continue;
    }
    switch (choice) {
    case StaleChoice::Calculate:
        actCompileProjectExecute();
        return true;
    case StaleChoice::Continue:
        return true;
    case StaleChoice::Cancel:
        break;
    }
    return false;
}

void TfmWinIDE::showRunOutcome(const TqzRunResult &result, const QSet<QString> &evaluated)
{
    using Mark = TReportControl::CellMark;
    for (const QString &name : evaluated) {
        if (!m_staleNames.remove(name))
            continue;
        for (const auto &[page, cell] : Excel->CellsOfName(name))
            if (page->cellMark(cell) == Mark::Stale)
                page->SetCellMark(cell, Mark::None);
    }
    Excel->ClearCellMarks(Mark::Failed);
    Excel->ClearCellMarks(Mark::Defaulted);
    // Inputs that are no number (a letter O typed for a zero) are the usual cause: each is
    // marked, and named on the results it feeds.
    QHash<QString, QString> notNumbers; // input name -> its text
    for (const QString &name : std::as_const(m_inputNames)) {
        const TqzNode *node = firstNodeNamed(*Project->TreeView, name);
        if (node && !node->Value.trimmed().isEmpty() && !numberFromText(node->Value.trimmed()))
            notNumbers.insert(name, node->Value.trimmed());
    }
    for (const auto &[name, message] : result.failures) {
        QString tip = QStringLiteral("计算失败：") + withExplanation(message);
        for (auto it = notNumbers.cbegin(); it != notNumbers.cend(); ++it)
            if (dependentsOf(it.key()).contains(name))
                tip += QStringLiteral("\n输入 %1 = %2 不是数").arg(it.key(), it.value());
        for (const auto &[page, cell] : Excel->CellsOfName(name))
            page->SetCellMark(cell, Mark::Failed, tip);
    }
    // Only an input that fed a failed step is marked: a text field (a medium's name) is no
    // number by right.
    for (auto it = notNumbers.cbegin(); it != notNumbers.cend(); ++it) {
        const QSet<QString> fed = dependentsOf(it.key());
        const bool failedBecause
            = std::any_of(result.failures.cbegin(), result.failures.cend(), [&](const auto &f) {
                  return fed.contains(f.first);
              });
        if (!failedBecause)
            continue;
        for (const auto &[page, cell] : Excel->CellsOfName(it.key()))
            page->SetCellMark(cell, Mark::Failed, QStringLiteral("输入不是数：%1").arg(it.value()));
    }
    for (const QString &name : result.emptyInputs) {
        const TqzNode *node = firstNodeNamed(*Project->TreeView, name);
        const QString value = node ? node->Value : QString();
        for (const auto &[page, cell] : Excel->CellsOfName(name))
            page->SetCellMark(
                cell, Mark::Defaulted, QStringLiteral("输入为空，沿用节点的值 %1").arg(value));
    }

    const int empty = static_cast<int>(result.emptyInputs.size());
    const QString emptyNote
        = empty > 0 ? QStringLiteral("，%1 个空输入沿用原值").arg(empty) : QString();
    if (result.aborted) {
        setStatus(QStringLiteral("计算中止：") + result.abortMessage, true);
    } else if (result.failedSteps > 0) {
        setStatus(QStringLiteral("计算完成：%1 步失败").arg(result.failedSteps) + emptyNote, true);
    } else if (!m_staleNames.isEmpty()) {
        setStatus(QStringLiteral("结果未更新，按 F9 计算"), false);
    } else if (empty > 0) {
        setStatus(QStringLiteral("计算完成：%1 个输入为空，沿用原值").arg(empty), false);
    } else {
        setStatus(QStringLiteral("计算完成"), false);
    }

    if (result.failedSteps == 0 && !result.aborted)
        return;
    // The pane opens at the first failure (or the reason the run stopped).
    if (!mniViewMsg->isChecked())
        mniViewMsg->setChecked(true);
    flushLog();
    const QString needle
        = result.failedSteps > 0 ? QStringLiteral("编译失败") : QStringLiteral("运行中止");
    const QTextCursor found = mmoMessage->document()->find(needle);
    if (!found.isNull()) {
        mmoMessage->setTextCursor(QTextCursor(found.block()));
        mmoMessage->centerCursor();
    }
}

void TfmWinIDE::FillCodeTable()
{
    m_document->fillCodeTable();
}

// ---- page area ----

bool TfmWinIDE::fitContentWidth()
{
    int widest = 0;
    for (const TqzReport *page : std::as_const(Excel->Pages))
        if (!page->isHidden())
            widest = std::max(widest, page->frameGeometry().width());
    // ArrangePages centres a page at (width - page - 20) / 2 and never left of PageLeftMin.
    const int needed = widest > 0 ? widest + 2 * Excel->PageLeftMin + 20 : 0;
    const int width = std::max(slbReport->viewport()->width(), needed);
    if (width == m_content->width())
        return false;
    m_content->resize(width, m_content->height());
    return true;
}

void TfmWinIDE::fitContentHeight()
{
    int bottom = 0;
    for (const TqzReport *page : std::as_const(Excel->Pages))
        if (!page->isHidden())
            bottom = std::max(bottom, page->frameGeometry().bottom() + 1);
    const int height = std::max(slbReport->viewport()->height(), bottom + Excel->PageTop);
    if (height != m_content->height())
        m_content->resize(m_content->width(), height);
}

void TfmWinIDE::slbReportResize()
{
    fitContentWidth();
    if (Loaded)
        Excel->Rearrange();
    fitContentHeight();
}

bool TfmWinIDE::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == slbReport->viewport()) {
        if (event->type() == QEvent::Resize) {
            slbReportResize();
        } else if (event->type() == QEvent::Wheel) {
            const auto *wheel = static_cast<QWheelEvent *>(event);
            int delta = wheel->angleDelta().y();
            if (delta == 0)
                delta = wheel->pixelDelta().y();
            if (delta != 0) {
                QScrollBar *bar = slbReport->verticalScrollBar();
                bar->setValue(bar->value() + (delta < 0 ? kWheelStep : -kWheelStep));
            }
            // The scroll area's own wheel step would move the pages a second time.
            return true;
        }
    } else if (watched == m_content && event->type() == QEvent::ChildAdded) {
        // Every page the workbook puts here is watched for changes of its size (a zoom).
        QObject *child = static_cast<QChildEvent *>(event)->child();
        if (child->isWidgetType())
            child->installEventFilter(this);
    } else if (event->type() == QEvent::Resize && watched->parent() == m_content
               && Excel->Pages.contains(qobject_cast<TqzReport *>(watched))) {
        // A page that changes size would overlap its neighbours and leave the content short.
        slbReportResize();
    }
    return QWidget::eventFilter(watched, event);
}

// ---- tabs and the View menu ----

void TfmWinIDE::tsShowPagesChange(int newTab)
{
    // Emptying the tab bar reports -1: no tab, so no pages to choose.
    if (newTab < 0)
        return;
    Excel->EndEdits();
    slbReport->verticalScrollBar()->setValue(0);
    Excel->ShowOwnerPages(newTab);
    if (fitContentWidth())
        Excel->ArrangePages(Excel->PageTop);
    fitContentHeight();
}

void TfmWinIDE::pmuReportTabPopup()
{
    pmuReportTab->clear();
    for (int tab = 0; tab < tsShowPages->count(); ++tab) {
        QAction *entry = pmuReportTab->addAction(tsShowPages->tabText(tab));
        entry->setCheckable(true);
        entry->setChecked(tab == tsShowPages->currentIndex());
        connect(entry, &QAction::triggered, this, [this, entry] { PageMenuItemClick(entry); });
    }
    pmuReportTab->addSeparator();
    pmuReportTab->addActions({actAddTab, actRemoveTab, actRenameTab, actTabLeft, actTabRight});
}

void TfmWinIDE::mniViewClick()
{
    RebuildPageMenu(mniView);
}

void TfmWinIDE::RebuildPageMenu(QMenu *menu)
{
    const QList<QAction *> entries = menu->actions();
    for (qsizetype i = kFirstPageEntry; i < entries.size(); ++i) {
        QAction *entry = entries[i];
        menu->removeAction(entry);
        entry->setActionGroup(nullptr);
        if (entry->parent() == menu)
            entry->deleteLater();
    }
    for (int tab = 0; tab < tsShowPages->count(); ++tab) {
        auto *entry = new QAction(tsShowPages->tabText(tab), menu);
        entry->setCheckable(true);
        entry->setActionGroup(m_pageGroup);
        entry->setChecked(tab == tsShowPages->currentIndex());
        connect(entry, &QAction::triggered, this, [this, entry] { PageMenuItemClick(entry); });
        menu->addAction(entry);
    }
}

void TfmWinIDE::PageMenuItemClick(QAction *entry)
{
    for (int tab = 0; tab < tsShowPages->count(); ++tab) {
        if (tsShowPages->tabText(tab) == entry->text()) {
            tsShowPages->setCurrentIndex(tab);
            return;
        }
    }
}

void TfmWinIDE::mniViewManagerClick()
{
    const bool on = mniViewManager->isChecked();
    pnlProjectManager->setVisible(on);
    splClient->setVisible(on);
    if (on) {
        const int total = splitClient->width();
        splitClient->setSizes(
            {kTreePanelWidth, std::max(0, total - kTreePanelWidth - kSplitterWidth)});
        // The tree above, the node's properties below.
        const int height = std::max(splitTree->height(), 400);
        splitTree->setSizes({height * 5 / 9, height * 4 / 9});
    }
}

void TfmWinIDE::mniViewMsgClick()
{
    const bool on = mniViewMsg->isChecked();
    mmoMessage->setVisible(on);
    splBottom->setVisible(on);
    if (on) {
        flushLog();
        const int total = splitBottom->height();
        splitBottom->setSizes(
            {std::max(0, total - kMessagePaneHeight - kSplitterWidth), kMessagePaneHeight});
    }
}

// ---- tree and pages ----

void TfmWinIDE::tvProjectChange(const QModelIndex &item)
{
    // During a run the pane holds the run's log.
    if (isRunning())
        return;
    const TqzNode *node = Project->TreeView->node(item);
    pnlNodeProperties->showNode(node);
    if (!node)
        return;
    clearLog();
    appendLog(QStringLiteral("名称: ") + node->Name);
    appendLog(QStringLiteral("编码: ") + node->Caption);
    appendLog(QStringLiteral("取值: ") + node->Value);
    appendLog(QStringLiteral("单位: ") + node->Unit);
    appendLog(QStringLiteral("脚本: ") + node->Script);
    QString coded;
    try {
        coded = CodeTable->Translate(node->Script);
    } catch (const Error &e) {
        // A script the dictionary cannot translate (one that would grow past the formula
        // limit) is shown with the reason instead.
        coded = e.message();
    }
    appendLog(QStringLiteral("编码脚本: ") + coded);
}

TqzReport *TfmWinIDE::currentPage() const
{
    return m_currentPage.data();
}

void TfmWinIDE::ReportMouseDown(TqzReport *page, Qt::MouseButton button, const QPoint &)
{
    Excel->SetCurrentPage(page);
    m_currentPage = Excel->GetCurrentPage();
    if (!m_currentPage || !m_currentPage->FLastSelectCell || isRunning())
        return;
    clearLog();
    if (button == Qt::LeftButton) {
        // A run button runs the whole project, as F9 does.
        if (m_currentPage->FLastSelectCell->FCellText == m_currentPage->RunCaption) {
            QMetaObject::invokeMethod(actCompileProject, &QAction::trigger, Qt::QueuedConnection);
            return;
        }
        const QString tag = m_currentPage->FLastSelectCell->FTagID;
        if (tag.isEmpty())
            return;
        try {
            m_currentPage->CellTag->Parse(tag);
        } catch (const Error &e) {
            appendLog(e.message());
            return;
        }
        appendLog(QStringLiteral("触发体: ") + m_currentPage->CellTag->Name);
        Project->FindNodeByName(m_currentPage->CellTag->Name);
        if (Project->SelectedNode.isValid())
            selectItem(Project->SelectedNode);
    } else if (button == Qt::RightButton) {
        pmReport->popup(QCursor::pos());
    }
}

void TfmWinIDE::actCheckProjectExecute()
{
    if (isRunning())
        return;
    // A value still in an edit box counts as typed.
    Excel->EndEdits();
    if (!m_checkPanel) {
        m_checkPanel = new TqzCheckPanel(this);
        m_checkPanel->setWindowFlag(Qt::Tool);
        connect(m_checkPanel, &TqzCheckPanel::findingActivated, this, &TfmWinIDE::showFinding);
        connect(m_checkPanel,
                &TqzCheckPanel::recheckRequested,
                this,
                &TfmWinIDE::actCheckProjectExecute);
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const ProjectCheckResult result = checkProject(*Project, m_document->workbook());
    QApplication::restoreOverrideCursor();
    m_checkPanel->setResult(result);
    m_checkPanel->show();
    m_checkPanel->raise();
}

void TfmWinIDE::showFinding(const ProjectFinding &finding)
{
    // The project may have changed since the check: a place it no longer has is passed over.
    if (finding.item >= 0) {
        const QModelIndex item = Project->TreeView->itemAt(finding.item);
        if (!item.isValid())
            return;
        if (!mniViewManager->isChecked())
            mniViewManager->setChecked(true);
        selectItem(item);
        return;
    }
    TqzWorkbook &book = m_document->workbook();
    if (finding.pageIndex < 0 || finding.pageIndex >= book.pageCount()
        || finding.pageIndex >= Excel->Pages.size())
        return;
    TqzReport *view = Excel->Pages.at(finding.pageIndex);
    TReportCell *cell = view->CellFromRC(finding.line, finding.cellIndex);
    if (!cell)
        return;
    const int tab = book.page(finding.pageIndex)->OwnerIndex;
    if (tab >= 0 && tab < tsShowPages->count() && tab != tsShowPages->currentIndex())
        tsShowPages->setCurrentIndex(tab);
    Excel->SetCurrentPage(view);
    view->RemoveAllSelectedCell();
    view->AddSelectedCell(cell);
    view->FLastSelectCell = cell;
    const QRect rect = view->pageToWindow(cell->FCellRect);
    const QPoint at = view->mapTo(slbReport->widget(), rect.center());
    slbReport->ensureVisible(at.x(), at.y(), rect.width() / 2 + 20, rect.height() / 2 + 20);
    view->update();
}

// ---- the message pane and the run host ----

void TfmWinIDE::stepDone(const TqzRunStep &step)
{
    m_steps.append(step);
}

CalcBook TfmWinIDE::calculationBook() const
{
    QHash<QString, QString> origins;
    for (const QString &name : m_fromTestData)
        origins.insert(name, kOriginTestData);
    CalcBook book = calcBookOf(*m_document, m_file->Document, m_steps, m_emptyInputs, origins);
    if (m_file->Document.isEmpty())
        book.checksumNote = QStringLiteral("（新工程，尚未保存）");
    else if (!m_undoStack->isClean())
        book.checksumNote = QStringLiteral("（文件载入时；此后有未保存的修改）");
    if (book.title.isEmpty())
        book.title = windowTitle();
    return book;
}

void TfmWinIDE::clearLog()
{
    m_log->clear();
    m_shownLines = 0;
    mmoMessage->clear();
}

void TfmWinIDE::appendLog(const QString &line)
{
    static const QString failed = QStringLiteral("  编译失败 错误信息: ");
    m_log->append(line.startsWith(failed) ? withExplanation(line) : line);
    if (!isRunning())
        flushLog();
}

void TfmWinIDE::flushLog()
{
    const QStringList &lines = m_log->lines();
    if (m_shownLines < lines.size()) {
        mmoMessage->appendPlainText(lines.sliced(m_shownLines).join(QLatin1Char('\n')));
        m_shownLines = lines.size();
    }
    m_sinceFlush.restart();
}

QStringList TfmWinIDE::logLines() const
{
    // As the pane shows them: an entry that holds line breaks is several lines there.
    const QStringList &lines = m_log->lines();
    return lines.isEmpty() ? QStringList() : lines.join(QLatin1Char('\n')).split(QLatin1Char('\n'));
}

void TfmWinIDE::beginBusy()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ++m_busyDepth;
}

void TfmWinIDE::endBusy()
{
    if (m_busyDepth > 0) {
        --m_busyDepth;
        QApplication::restoreOverrideCursor();
    }
    flushLog();
}

void TfmWinIDE::postProgress(int wParam, int lParam)
{
    if (m_progressReceiver)
        QCoreApplication::postEvent(m_progressReceiver, new TqzRunProgressEvent(wParam, lParam));
}

void TfmWinIDE::processPendingMessages()
{
    if (m_sinceFlush.elapsed() >= kLogFlushMs)
        flushLog();
    QCoreApplication::processEvents();
}

QModelIndex TfmWinIDE::selectedItem() const
{
    const QModelIndexList rows = tvProject->selectionModel()->selectedRows();
    return rows.isEmpty() ? QModelIndex() : rows.first();
}

void TfmWinIDE::selectItem(const QModelIndex &item)
{
    tvProject->selectionModel()->setCurrentIndex(
        item, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (item.isValid())
        tvProject->scrollTo(item);
}

// ---- runs ----

bool TfmWinIDE::isRunning() const
{
    return m_run && m_run->isRunning();
}

void TfmWinIDE::setRunActionsEnabled(bool enabled)
{
    for (QAction *action :
         {actCompile_Node, actCompile_Page, actCompileProject, actSaveExamData, actLoadExamData})
        action->setEnabled(enabled);
}

void TfmWinIDE::runWith(const std::function<TqzRunResult(TqzRun &)> &what, const QModelIndex &scope)
{
    if (isRunning())
        return;
    // An edit box still open would write its text over the results once the user clicks on.
    Excel->EndEdits();
    QSet<QString> evaluated;
    const TqzProjectTree &tree = *Project->TreeView;
    const int first = scope.isValid() ? tree.absoluteIndex(scope) : 0;
    const int last = scope.isValid() && first >= 0 ? tree.lastDescendant(first) : tree.count() - 1;
    for (int i = std::max(first, 0); i <= last && i < tree.count(); ++i)
        evaluated.insert(tree.nodeAt(i)->Name);
    // F9 undone in one step gives back the values of nodes and cells before the run.
    recordTexts(QStringLiteral("计算"), [&] {
        setRunActionsEnabled(false);
        m_steps.clear();
        TqzRunResult result;
        try {
            result = what(*m_run);
        } catch (const Error &e) {
            appendLog(e.message());
            result.aborted = true;
            result.abortMessage = e.message();
        } catch (const std::exception &e) {
            appendLog(QString::fromLocal8Bit(e.what()));
            result.aborted = true;
            result.abortMessage = QString::fromLocal8Bit(e.what());
        }
        flushLog();
        setRunActionsEnabled(true);
        if (result.started) {
            m_ranSinceLoad = true;
            m_emptyInputs = result.emptyInputs;
            // Charts follow the values of the run.
            if (!result.aborted)
                for (const QString &problem : computeCharts(*m_document))
                    appendLog(problem);
        }
        if (result.started || result.aborted)
            showRunOutcome(result, result.aborted ? QSet<QString>() : evaluated);
        // Writing results can change the height of cells and so of pages.
        slbReportResize();
    });
    if (m_closeRequested) {
        m_closeRequested = false;
        closeAfterRun();
    }
}

void TfmWinIDE::actCompile_NodeExecute()
{
    QModelIndex scope = selectedItem();
    if (!scope.isValid() && Project->TreeView->count() > 0)
        scope = Project->TreeView->itemAt(0);
    runWith([](TqzRun &run) { return run.runSelected(); }, scope);
}

void TfmWinIDE::actCompile_PageExecute()
{
    const int tab = tsShowPages->currentIndex();
    if (tab < 0)
        return;
    const QString caption = tsShowPages->tabText(tab);
    const QModelIndex scope = Project->FindNodeByName(caption);
    if (!scope.isValid())
        return;
    runWith([caption](TqzRun &run) { return run.runPage(caption); }, scope);
}

void TfmWinIDE::actCompileProjectExecute()
{
    runWith([](TqzRun &run) { return run.runProject(); },
            Project->TreeView->count() > 0 ? Project->TreeView->itemAt(0) : QModelIndex());
}

// ---- test data ----

void TfmWinIDE::actSaveExamDataExecute()
{
    if (isRunning() || !settleStaleResults())
        return;
    try {
        const QString written = SaveExamData(*Project, *this);
        if (!written.isEmpty())
            appendLog(QStringLiteral("已保存测试数据 ") + QDir::toNativeSeparators(written));
    } catch (const Error &e) {
        appendLog(QStringLiteral("保存测试数据失败: ") + e.message());
    }
}

void TfmWinIDE::actLoadExamDataExecute()
{
    if (isRunning())
        return;
    Excel->EndEdits();
    const QString caption = QStringLiteral("加载测试数据");
    const QString filter = QStringLiteral("测试数据 (*.exm)");
    const QString fileName
        = m_openDialog ? m_openDialog(this, caption, ExamFolder(), filter)
                       : QFileDialog::getOpenFileName(this, caption, ExamFolder(), filter);
    if (fileName.isEmpty())
        return;
    try {
        recordTexts(QStringLiteral("加载测试数据"), [&] {
            const TqzExamLoadResult loaded
                = LoadExamData(fileName, *Project, m_document->workbook(), *this);
            for (const QString &name : loaded.names)
                m_fromTestData.insert(name);
            if (loaded.loaded > 0) {
                // New inputs: every result that uses one of them is out of date.
                QSet<QString> users;
                for (const QString &name : std::as_const(m_inputNames))
                    users.unite(dependentsOf(name));
                markStale(users);
            }
        });
    } catch (const Error &) {
        // Already in the pane, with what and where; nothing has changed.
        return;
    }
    // New texts can change the height of cells and so of pages.
    slbReportResize();
}

// ---- closing ----

void TfmWinIDE::closeEvent(QCloseEvent *event)
{
    Excel->EndEdits();
    if (isRunning()) {
        // The run is inside this window's objects: let it end at its next step, then close.
        m_closeRequested = true;
        m_run->requestStop();
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void TfmWinIDE::closeAfterRun()
{
    if (auto *frame = qobject_cast<QMdiSubWindow *>(parentWidget()))
        frame->close();
    else
        close();
}

// ---- undo ----

void TfmWinIDE::pageDragStarted(TqzReport *page)
{
    if (isRunning())
        return;
    m_dragPage = page;
    m_dragStream = savePageStream(*page);
    m_dragView = resultView();
}

void TfmWinIDE::pageDragFinished(TqzReport *page)
{
    if (m_dragPage != page)
        return;
    m_dragPage = nullptr;
    const QByteArray before = std::exchange(m_dragStream, QByteArray());
    const int index = static_cast<int>(Excel->Pages.indexOf(page));
    const QByteArray after = savePageStream(*page);
    if (index < 0 || after == before)
        return;
    slbReportResize();
    m_undoStack->push(new TqzPageCommand(*this, QStringLiteral("调整行高列宽"), index, before,
                                         after, m_dragView, resultView()));
}

void TfmWinIDE::workbookChanged()
{
    if (Excel->isEditing()) {
        // Typing: the step comes when the edit is confirmed.
        m_typing = true;
        return;
    }
    // The change that ends a typed step, or an edit cancelled (its text put back).
    const bool stepEnds = std::exchange(m_stepChangePending, false);
    const bool typedEnds = std::exchange(m_typing, false);
    if (stepEnds || typedEnds || m_recording)
        return;
    // A drag under way is recorded when it ends.
    if (m_dragPage)
        return;
    // A change no step records (page numbers filled by printing, a write through the API)
    // cannot be undone: the saved state is out of reach until the next save.
    m_undoStack->resetClean();
}

void TfmWinIDE::editPage(TqzReport *page, const QString &name, const std::function<void()> &edit)
{
    const int pageIndex = static_cast<int>(Excel->Pages.indexOf(page));
    if (pageIndex < 0)
        return;
    page->EndEdit();
    const auto streamOf = [page] { return savePageStream(*page); };
    const QByteArray before = streamOf();
    const TqzResultView viewBefore = resultView();
    {
        const QScopedValueRollback recording(m_recording, true);
        edit();
    }
    const QByteArray after = streamOf();
    if (after == before)
        return;
    slbReportResize();
    m_undoStack->push(
        new TqzPageCommand(*this, name, pageIndex, before, after, viewBefore, resultView()));
}

TqzResultView TfmWinIDE::resultView() const
{
    TqzResultView view;
    view.stale = m_staleNames;
    view.status = m_statusText;
    view.statusError = m_statusError;
    for (qsizetype p = 0; p < Excel->Pages.size(); ++p) {
        const TqzReport *page = Excel->Pages[p];
        using Mark = TReportControl::CellMark;
        if (page->cellMarkCount(Mark::Stale) + page->cellMarkCount(Mark::Failed)
                + page->cellMarkCount(Mark::Defaulted)
            == 0)
            continue;
        for (int l = 0; l < page->lineCount(); ++l) {
            const TReportLine *line = page->line(l);
            for (int c = 0; c < line->cellCount(); ++c) {
                const TReportCell *cell = line->cell(c);
                const auto kind = page->cellMark(cell);
                if (kind != TReportControl::CellMark::None)
                    view.marks.append({static_cast<int>(p),
                                       l,
                                       c,
                                       static_cast<int>(kind),
                                       page->cellMarkTip(cell)});
            }
        }
    }
    return view;
}

QList<QList<QStringList>> TfmWinIDE::pageTexts() const
{
    QList<QList<QStringList>> texts;
    texts.reserve(Excel->Pages.size());
    for (const TqzReport *page : std::as_const(Excel->Pages)) {
        QList<QStringList> lines;
        lines.reserve(page->lineCount());
        for (int l = 0; l < page->lineCount(); ++l) {
            const TReportLine *line = page->line(l);
            QStringList cells;
            cells.reserve(line->cellCount());
            for (int c = 0; c < line->cellCount(); ++c)
                cells.append(line->cell(c)->FCellText);
            lines.append(cells);
        }
        texts.append(lines);
    }
    return texts;
}

QStringList TfmWinIDE::nodeValues() const
{
    const TqzProjectTree &tree = *Project->TreeView;
    QStringList values;
    values.reserve(tree.count());
    for (int i = 0, n = tree.count(); i < n; ++i)
        values.append(tree.nodeAt(i)->Value);
    return values;
}

void TfmWinIDE::recordTexts(const QString &name, const std::function<void()> &change)
{
    const QList<QList<QStringList>> textsBefore = pageTexts();
    const QStringList valuesBefore = nodeValues();
    const TqzResultView viewBefore = resultView();
    {
        const QScopedValueRollback recording(m_recording, true);
        change();
    }
    QList<TqzCellText> cells = diffTexts(textsBefore, pageTexts());
    // A run that changed no cell (it stopped at once, or found every result as it was) leaves
    // nothing to undo: node values alone are not saved with the project.
    if (cells.isEmpty())
        return;
    QList<TqzNodeValue> nodes = diffValues(valuesBefore, nodeValues());
    m_undoStack->push(new TqzTextsCommand(
        *this, name, std::move(cells), std::move(nodes), viewBefore, resultView()));
}

void TfmWinIDE::applyTexts(const QList<TqzCellText> &cells,
                           const QList<TqzNodeValue> &nodes,
                           bool after)
{
    Excel->EndEdits();
    QSet<TqzReport *> touched;
    for (const TqzCellText &change : cells) {
        TqzReport *page = Excel->Pages.value(change.page);
        TReportCell *cell = page ? page->CellFromRC(change.line, change.cell) : nullptr;
        if (!cell)
            continue;
        cell->SetCellText(after ? change.after : change.before);
        touched.insert(page);
    }
    TqzProjectTree &tree = *Project->TreeView;
    for (const TqzNodeValue &change : nodes)
        if (change.node < tree.count())
            tree.nodeAt(change.node)->Value = after ? change.after : change.before;
    for (TqzReport *page : std::as_const(touched)) {
        page->UpdateLines();
        page->update();
    }
    // The cell of a single edit is shown and selected, so the user sees what came back.
    if (cells.size() == 1) {
        TqzReport *page = Excel->Pages.value(cells.first().page);
        if (page && page->isVisible())
            page->SelectOnly(page->CellFromRC(cells.first().line, cells.first().cell));
    }
    slbReportResize();
}

void TfmWinIDE::applyPageStream(int page, const QByteArray &stream)
{
    TqzReport *report = Excel->Pages.value(page);
    if (!report)
        return;
    const QScopedValueRollback applying(m_recording, true);
    report->EndEdit();
    QBuffer buffer;
    buffer.setData(stream);
    buffer.open(QIODevice::ReadOnly);
    report->LoadFromStream(buffer, 0);
    report->update();
    slbReportResize();
}

void TfmWinIDE::applyResultView(const TqzResultView &view)
{
    m_staleNames = view.stale;
    Excel->ClearCellMarks(TReportControl::CellMark::None);
    for (const TqzResultView::Mark &mark : view.marks) {
        TqzReport *page = Excel->Pages.value(mark.page);
        if (const TReportCell *cell = page ? page->CellFromRC(mark.line, mark.cell) : nullptr)
            page->SetCellMark(cell, static_cast<TReportControl::CellMark>(mark.kind), mark.tip);
    }
    setStatus(view.status, view.statusError);
}

} // namespace tessarin
