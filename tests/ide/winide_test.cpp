// The project window driven through its real widgets: cells clicked, popups and menus opened and
// chosen, the wheel turned, runs started by key and menu, progress and test data observed.

#include "checkpanel.h"
#include "error.h"
#include "programdir.h"
#include "projectdocument.h"
#include "projectfile.h"
#include "projecttree.h"
#include "qzexcel.h"
#include "qzproject.h"
#include "qzreport.h"
#include "qzworkbook.h"
#include "qztranslate.h"
#include "reportgrid/gridfixture.h"
#include "runprogress.h"
#include "winide.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTreeView>
#include <QTreeWidget>
#include <QUndoStack>
#include <QtTest/qtestspontaneevent.h>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace tessarin;

namespace {

const QString kSample = QStringLiteral(TESSARIN_TEST_DATA "/workbook/pump_sheets.flw");

// Records the progress events a window posts; `onPosition` acts while the run is in progress.
class ProgressRecorder : public QObject
{
public:
    std::vector<std::pair<int, int>> events;
    std::function<void()> onPosition;
    bool event(QEvent *e) override
    {
        if (e->type() != TqzRunProgressEvent::EventType)
            return QObject::event(e);
        const auto *p = static_cast<TqzRunProgressEvent *>(e);
        events.emplace_back(p->wParam, p->lParam);
        if (p->wParam == 1 && onPosition)
            onPosition();
        return true;
    }
};

TReportCell *cellTagged(const TqzReport *page, const QString &tag)
{
    for (int l = 0; l < page->lineCount(); ++l)
        for (int c = 0; c < page->line(l)->cellCount(); ++c)
            if (page->line(l)->cell(c)->FTagID == tag)
                return page->line(l)->cell(c);
    return nullptr;
}

// Entry captions, "-" for a separator, "*" before a checked one.
QStringList texts(const QList<QAction *> &actions)
{
    QStringList result;
    for (const QAction *a : actions)
        result << (a->isSeparator() ? "-" : (a->isChecked() ? "*" : "") + a->text());
    return result;
}

QAction *entry(QMenu *menu, const QString &text)
{
    for (QAction *a : menu->actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

QStringList stepNames(const QStringList &log)
{
    QStringList names;
    for (const QString &line : log)
        if (line.startsWith("第") && line.contains("步-----计算: "))
            names << line.section("计算: ", 1);
    return names;
}

std::unique_ptr<TqzNode> makeNode(const QString &name, const QString &script)
{
    auto node = std::make_unique<TqzNode>();
    node->Name = node->Caption = name;
    node->Script = script;
    return node;
}

// The window in a stand-in main window, as the program shows it.
class WindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        frame.resize(1100, 800);
        window = new TfmWinIDE;
        frame.setCentralWidget(window);
        window->setProgressReceiver(&progress);
        frame.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    }

    template<class T = QWidget>
    T *find(const char *name) const
    {
        T *object = window->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(object, nullptr) << name;
        return object;
    }
    TqzReport *page(int i) const { return window->excel().Pages.at(i); }
    QStringList log() const { return window->logLines(); }
    void press(TqzReport *p, const QString &tag, Qt::MouseButton button = Qt::LeftButton)
    {
        const TReportCell *cell = cellTagged(p, tag);
        ASSERT_NE(cell, nullptr) << tag.toStdString();
        QTest::mouseClick(p, button, {}, p->pageToWindow(cell->FCellRect).center());
    }
    std::vector<TqzReport *> shownPages() const
    {
        std::vector<TqzReport *> shown;
        for (TqzReport *p : window->excel().Pages)
            if (!p->isHidden())
                shown.push_back(p);
        return shown;
    }

    gridtest::ScopedPrinterLayer noPrinter;
    QMainWindow frame;
    TfmWinIDE *window = nullptr; // owned by the frame
    ProgressRecorder progress;
};

TEST_F(WindowTest, ComponentsCaptionsHintsShortcutsAndLoading)
{
    struct Row
    {
        const char *name;
        QString text, toolTip, statusTip;
        QKeySequence shortcut;
    };
    // clang-format off
    const Row rows[] = {
        {"actCompile_Node", "模块运行(&M)", "运行报表中选择的模块", "运行报表中选择的模块", Qt::Key_F4},
        {"actCompile_Page", "运行当前页(&P)", "运行当前页", "运行当前页", {}},
        {"actCompileProject", "运行工程(&R)", "运行", "运行工程以得到计算结果", {}},
        {"actSaveExamData", "保存测试数据(&S)...", "", "", {}},
        {"actLoadExamData", "加载测试数据(&L)...", "", "", {}},
        {"actCheckProject", "检查工程(&K)", "检查工程", "检查公式、名称、编码和单元格标记，不运行工程", {}},
        {"mniViewManager", "工程管理器(&P)", "", "", {}},
        {"mniViewMsg", "信息框(&M)", "", "", {}},
    };
    // clang-format on
    for (const Row &row : rows) {
        const QAction *a = find<QAction>(row.name);
        ASSERT_NE(a, nullptr);
        // Without a hint of its own an action's tool tip is Qt's default.
        const QString tip = row.toolTip.isEmpty() ? QString() : a->toolTip();
        EXPECT_EQ(QStringList({a->text(), tip, a->statusTip()}),
                  QStringList({row.text, row.toolTip, row.statusTip}));
        EXPECT_EQ(a->shortcut(), row.shortcut) << row.name;
    }
    EXPECT_EQ(window->objectName(), "fmWinIDE");
    EXPECT_EQ(window->windowTitle(), "流程集成开发环境");
    EXPECT_EQ(window->viewMenu()->title(), "查看(&V)");
    EXPECT_EQ(texts(window->viewMenu()->actions()),
              QStringList({"工程管理器(&P)", "信息框(&M)", "-"}));
    const QStringList runs
        = {"模块运行(&M)", "运行当前页(&P)", "运行工程(&R)", "参数扫描(&W)...", "检查工程(&K)"};
    const QStringList exam = {"-", "保存测试数据(&S)...", "加载测试数据(&L)..."};
    const QStringList bind = {"-", "页面设计(&D)", "绑定节点为输入(&I)", "绑定节点为结果(&O)",
                              "解除绑定(&U)"};
    EXPECT_EQ(texts(find<QMenu>("pmReport")->actions()), runs + exam + bind);
    const QStringList tree = {"添加子节点(&C)", "添加同级节点(&N)", "删除节点(&D)", "-",
                              "上移(&U)", "下移(&W)", "升级(&L)", "降级(&R)", "-",
                              "复制节点(&O)", "粘贴节点(&P)", "-"};
    EXPECT_EQ(texts(find<QMenu>("pmProject")->actions()), tree + runs.mid(2) + exam);
    for (const char *name : {"pnlProjectManager", "splClient", "mmoMessage", "splBottom"})
        EXPECT_TRUE(find(name)->isHidden()) << name;
    for (const char *name : {"pnlReport", "slbReport", "tsShowPages"})
        EXPECT_TRUE(find(name)->isVisible()) << name;

    // One empty page under "默认页" until a project is loaded.
    const QTabBar *tabs = find<QTabBar>("tsShowPages");
    EXPECT_EQ(tabs->count() == 1 ? tabs->tabText(0) : "", "默认页");
    EXPECT_EQ(window->excel().Pages.size(), 1);
    EXPECT_FALSE(window->isLoaded());
    window->loadProjectFile(kSample);
    EXPECT_TRUE(window->isLoaded());
    EXPECT_EQ(window->windowTitle(), "pump_sheets.flw");
    EXPECT_EQ(window->projectFile().FileName, kSample);
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(1), "电机");
    EXPECT_EQ(shownPages(), std::vector<TqzReport *>({page(0), page(2)}));
    EXPECT_EQ(window->codeTable().Translate("流量*扬程"), "Q*H");

    // No tab names: emptying the tab bar reports tab -1, which must not hide every page.
    QFile file(kSample);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray noTabs = file.readAll();
    const int at = noTabs.indexOf("ShowPages=\"");
    noTabs.replace(at, noTabs.indexOf('"', at + 11) - at + 1, "ShowPages=\"\"");
    window->loadProjectBytes(noTabs, "no tabs", "no tabs");
    EXPECT_EQ(tabs->count(), 0);
    EXPECT_EQ(shownPages().size(), 3u);
}

TEST_F(WindowTest, CellPressesSelectTheTaggedNodeAndOfferTheRunCommands)
{
    window->loadProjectFile(kSample);
    QMenu *popup = find<QMenu>("pmReport");
    // Before any cell is selected, a right press only makes the page current.
    press(page(0), "扬程", Qt::RightButton);
    EXPECT_EQ(window->currentPage(), page(0));
    EXPECT_FALSE(popup->isVisible());
    cellTagged(page(0), "PageNum")->FTagID = "[1][2]"; // too short to parse
    page(0)->touchContent();

    const QStringList power = {"名称: 轴功率",
                               "编码: N",
                               "取值: ",
                               "单位: kW",
                               "脚本: 流量*扬程*密度*9.81/3600/效率/1000",
                               "编码脚本: Q*H*rho*9.81/3600/eta/1000"};
    struct Row
    {
        const char *what;
        QString tag;
        Qt::MouseButton button;
        QStringList log;
        QString selected; // the tree item selected afterwards
    };
    // clang-format off
    const std::vector<Row> rows = {
        {"a node with a script: its six lines", "轴功率", Qt::LeftButton, power, "轴功率"},
        {"the same cell again: the trigger line stays", "轴功率", Qt::LeftButton, {"触发体: 轴功率"}, "轴功率"},
        {"an input (no script) is not selected", "[2][1][0][流量]", Qt::LeftButton, {"触发体: 流量"}, "轴功率"},
        {"a tag padded with blanks names no node", " 效率 ", Qt::LeftButton, {"触发体:  效率 "}, "轴功率"},
        {"a run button runs the project", "RUN", Qt::LeftButton, {"*正在从报表中获取流程数据..."}, "*"},
        {"a cell without tag clears the pane", "", Qt::LeftButton, {}, "轴功率"},
        {"a tag that cannot be parsed says so", "[1][2]", Qt::LeftButton, {"*[1][2]"}, "轴功率"},
        {"right press: the popup, the pane cleared", "扬程", Qt::RightButton, {}, "轴功率"},
        {"middle press: only the pane cleared", "扬程", Qt::MiddleButton, {}, "轴功率"},
    };
    // clang-format on
    QTreeView *tree = find<QTreeView>("tvProject");
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        window->appendLog("old line");
        press(page(0), row.tag, row.button);
        QCoreApplication::processEvents(); // a run button's run is queued
        if (row.selected == "*") {         // a run: its log, whatever it selects
            EXPECT_TRUE(log().contains(row.log.first().mid(1))) << log().join('\n').toStdString();
            EXPECT_TRUE(log().last().startsWith("编译时间: ")); // the run ended
            popup->hide();
            continue;
        }
        if (row.log.value(0).startsWith('*')) {
            ASSERT_EQ(log().size(), 1);
            EXPECT_TRUE(log().first().contains(row.log.first().mid(1)))
                << log().first().toStdString();
        } else {
            EXPECT_EQ(log(), row.log);
        }
        const QModelIndexList selected = tree->selectionModel()->selectedRows();
        EXPECT_EQ(selected.size() == 1 ? selected.first().data().toString() : "", row.selected);
        EXPECT_EQ(popup->isVisible(), row.button == Qt::RightButton);
        popup->hide();
    }
}

TEST_F(WindowTest, PagesSwitchThroughTheViewMenuAndTheTabPopup)
{
    window->loadProjectFile(kSample);
    QTabBar *tabs = find<QTabBar>("tsShowPages");
    QScrollBar *bar = find<QScrollArea>("slbReport")->verticalScrollBar();
    QMenu *tabPopup = find<QMenu>("pmuReportTab");
    struct Row
    {
        bool viaView; // else the tab popup
        QString entry;
        int tab;
        std::vector<int> pages;
    };
    const Row rows[] = {{true, "电机", 1, {1}},
                        {false, "泵性能", 0, {0, 2}},
                        {false, "电机", 1, {1}},
                        {true, "泵性能", 0, {0, 2}}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.entry.toStdString() + (row.viaView ? " view" : " popup"));
        bar->setValue(bar->maximum());
        QList<QAction *> entries;
        QMenu *menu = row.viaView ? window->viewMenu() : tabPopup;
        if (row.viaView) {
            menu->popup(QPoint(10, 10)); // filled afresh on every opening
        } else {
            QContextMenuEvent e(
                QContextMenuEvent::Mouse, QPoint(5, 5), tabs->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(tabs, &e);
        }
        EXPECT_TRUE(menu->isVisible());
        menu->hide();
        // The tab popup ends with the tab edits, after a separator.
        entries = row.viaView ? menu->actions().mid(3) : menu->actions().first(2);
        if (!row.viaView) {
            EXPECT_EQ(texts(menu->actions().mid(2)),
                      QStringList({"-", "添加页(&A)", "删除页(&D)", "重命名页(&R)...", "左移(&L)",
                                   "右移(&M)"}));
        }
        const QString current = tabs->tabText(tabs->currentIndex());
        EXPECT_EQ(texts(entries),
                  current == "电机" ? QStringList({"泵性能", "*电机"})
                                    : QStringList({"*泵性能", "电机"}));
        for (const QAction *e : entries)
            EXPECT_EQ(e->actionGroup() && e->actionGroup()->isExclusive(), row.viaView);
        entry(menu, row.entry)->trigger();
        EXPECT_EQ(tabs->currentIndex(), row.tab);
        std::vector<TqzReport *> expected;
        for (int p : row.pages)
            expected.push_back(page(p));
        EXPECT_EQ(shownPages(), expected);
        EXPECT_EQ(bar->value(), 0);
    }
    // An entry whose caption no tab has changes nothing.
    QAction stray("默认页");
    window->PageMenuItemClick(&stray);
    EXPECT_EQ(tabs->currentIndex(), 0);
}

TEST_F(WindowTest, PageAreaFollowsTheViewportAndTheWheel)
{
    QScrollArea *area = find<QScrollArea>("slbReport");
    // Before loading, resizes leave the pages where they are.
    window->excel().Pages.first()->move(3, 15);
    frame.resize(1300, 800);
    QTest::qWait(0);
    EXPECT_EQ(window->excel().Pages.first()->x(), 3);

    window->loadProjectFile(kSample);
    const auto check = [&](const char *when) {
        SCOPED_TRACE(when);
        const QWidget *content = area->widget();
        const int view = area->viewport()->width();
        int bottom = 0;
        for (const TqzReport *p : shownPages()) {
            EXPECT_GE(p->y(), bottom + (bottom ? window->excel().PageGap : 0)); // no overlap
            bottom = std::max(bottom, p->geometry().bottom());
            const int centred = (content->width() - p->width() - 20) / 2;
            EXPECT_EQ(p->x(), std::max(centred, window->excel().PageLeftMin));
            EXPECT_LE(p->geometry().right(), content->width());
        }
        EXPECT_EQ(content->width(), std::max(view, shownPages().front()->width() + 50));
        EXPECT_GT(content->height(), bottom);
        EXPECT_GE(content->height(), area->viewport()->height());
    };
    check("after loading");
    frame.resize(1400, 700);
    QTest::qWait(0);
    check("wider");
    find<QTabBar>("tsShowPages")->setCurrentIndex(1);
    check("other tab");
    frame.resize(500, 600);
    QTest::qWait(0);
    check("narrower than a page");
    find<QTabBar>("tsShowPages")->setCurrentIndex(0);
    check("back, narrow");
    frame.resize(1100, 700);
    page(0)->SetScale(150);
    check("the first page zoomed");

    // Each wheel event moves the area 8 pixels, over a page and over the bare area alike.
    QScrollBar *bar = area->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 100);
    const struct
    {
        int angle, events, expected;
    } turns[] = {{-120, 1, 8}, {-120, 2, 24}, {120, 1, 16}, {-15, 1, 24}, {240, 5, 0}};
    for (QWidget *target : {static_cast<QWidget *>(page(0)), area->viewport()}) {
        for (const auto &turn : turns) {
            for (int i = 0; i < turn.events; ++i) {
                const QPoint at(40, 40);
                QWheelEvent wheel(at,
                                  target->mapToGlobal(at),
                                  {},
                                  {0, turn.angle},
                                  Qt::NoButton,
                                  Qt::NoModifier,
                                  Qt::NoScrollPhase,
                                  false);
                // As from the window system (sendEvent would clear the flag), so that a page
                // passes the event on to the area.
                QSpontaneKeyEvent::setSpontaneous(&wheel);
                qApp->notify(target, &wheel);
            }
            EXPECT_EQ(bar->value(), turn.expected) << turn.angle << " x" << turn.events;
        }
    }

    // Page Down and Page Up on a page scroll the area by its page step.
    page(0)->setFocus();
    QTest::keyClick(page(0), Qt::Key_PageDown);
    EXPECT_EQ(bar->value(), std::min(bar->pageStep(), bar->maximum()));
    QTest::keyClick(page(0), Qt::Key_PageUp);
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(WindowTest, MessagePaneAndProjectManagerToggle)
{
    window->loadProjectFile(kSample);
    struct Row
    {
        const char *entry;
        std::vector<const char *> widgets;
        int size; // of the first widget when shown: width of the panel, height of the pane
    };
    for (const Row &row : {Row{"mniViewMsg", {"mmoMessage", "splBottom"}, 114},
                           Row{"mniViewManager", {"pnlProjectManager", "splClient"}, 200}}) {
        QAction *a = find<QAction>(row.entry);
        for (bool shown : {true, false, true}) {
            a->trigger();
            EXPECT_EQ(a->isChecked(), shown);
            for (const char *name : row.widgets)
                EXPECT_EQ(find(name)->isVisible(), shown) << name;
        }
        const QWidget *first = find(row.widgets.front());
        EXPECT_EQ(row.size == 114 ? first->height() : first->width(), row.size);
    }
    // Lines written while the pane is hidden are there when it shows again.
    window->clearLog();
    find<QAction>("mniViewMsg")->trigger();
    window->appendLog("while hidden");
    find<QAction>("mniViewMsg")->trigger();
    EXPECT_EQ(find<QPlainTextEdit>("mmoMessage")->toPlainText(), "while hidden");

    // Browsing the tree shows a node's property lines.
    QTreeView *tree = find<QTreeView>("tvProject");
    const QModelIndex head = tree->model()->index(1, 0, tree->model()->index(0, 0));
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(head).center());
    EXPECT_EQ(
        log(),
        QStringList({"名称: 扬程", "编码: H", "取值: 32.5", "单位: m", "脚本: ", "编码脚本: "}));
}

TEST_F(WindowTest, RunsStartFromTheKeyAndEveryPopupWithProgressAndHourglass)
{
    window->loadProjectFile(kSample);
    // A top-level node named like the second tab, so that "运行当前页" finds one there.
    window->project().TreeView->appendNode(makeNode("电机", "2*3"));
    frame.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    std::vector<bool> hourglass;
    progress.onPosition = [&] {
        const QCursor *c = QApplication::overrideCursor();
        hourglass.push_back(c && c->shape() == Qt::WaitCursor);
    };
    const auto popupEntry = [&](const char *menu, const QString &text) {
        return [=, this] { entry(find<QMenu>(menu), text)->trigger(); };
    };
    const auto f4 = [] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_F4); };
    struct Row
    {
        const char *how;
        int tab;
        std::function<void()> start;
        int maximum; // -1: nothing happens
        QString step;
    };
    const std::vector<Row> rows = {
        {"F4 after a click on a cell that names no node: the first item",
         0,
         [&] {
             // Pages take no focus; the page area around them does, so F4 reaches the window.
             if (QWidget *focus = QApplication::focusWidget())
                 focus->clearFocus();
             press(page(0), "扬程");
             f4();
         },
         4,
         "轴功率"},
        {"report popup M1", 0, popupEntry("pmReport", "模块运行(&M)"), 4, "轴功率"},
        {"report popup R1", 1, popupEntry("pmReport", "运行工程(&R)"), 4, "轴功率"},
        {"P1 where no node is named like the tab",
         0,
         popupEntry("pmReport", "运行当前页(&P)"),
         -1,
         ""},
        {"P1 where a node is", 1, popupEntry("pmReport", "运行当前页(&P)"), 0, "电机"},
        {"F4 runs the selected node", 1, f4, 0, "电机"},
        {"tree popup R2", 1, popupEntry("pmProject", "运行工程(&R)"), 4, "轴功率"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.how);
        find<QTabBar>("tsShowPages")->setCurrentIndex(row.tab);
        window->clearLog();
        window->appendLog("before");
        progress.events.clear();
        hourglass.clear();
        row.start();
        QCoreApplication::sendPostedEvents(&progress);
        if (row.maximum < 0) {
            EXPECT_TRUE(progress.events.empty());
            EXPECT_EQ(log(), QStringList({"before"}));
            continue;
        }
        std::vector<std::pair<int, int>> expected = {{0, row.maximum}};
        for (int i = 1; i <= row.maximum + 1; ++i)
            expected.emplace_back(1, i);
        expected.emplace_back(2, 0);
        EXPECT_EQ(progress.events, expected);
        EXPECT_EQ(stepNames(log()), QStringList({row.step}));
        EXPECT_EQ(log().first(), "正在从报表中获取流程数据...");
        EXPECT_TRUE(log().last().startsWith("编译时间: ")) << log().last().toStdString();
        EXPECT_EQ(hourglass, std::vector<bool>(size_t(row.maximum + 1), true));
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
    EXPECT_TRUE(cellTagged(page(0), "轴功率")->FCellText.startsWith("6.139"));

    // The shown pane holds the log; a picture of the window after a run, for a person to
    // look at, beside the test program.
    find<QAction>("mniViewMsg")->trigger();
    find<QAction>("mniViewManager")->trigger();
    find<QAction>("actCompileProject")->trigger();
    const QString text = find<QPlainTextEdit>("mmoMessage")->toPlainText();
    EXPECT_TRUE(text.startsWith("正在从报表中获取流程数据...\n"));
    EXPECT_TRUE(text.contains("\n编译完毕\n编译时间: "));
    QTest::qWait(0);
    EXPECT_TRUE(
        frame.grab().save(QCoreApplication::applicationDirPath() + "/winide_after_run.png"));
}

// An input changed by keys greys every result that uses it until the next run, and results
// that leave the program are asked about; a failed step is told in red, marked on its results
// and shown in the opened pane; an empty input keeps its node's value, marked; an edit box
// left open over a result cannot write its old text over the next run's result.
TEST_F(WindowTest, StaleFailedAndDefaultedValuesAreShown)
{
    using Mark = TReportControl::CellMark;
    window->loadProjectFile(kSample);
    TqzReport *p = page(0);
    const auto cellOf = [&](const char *name) {
        const QList<TReportCell *> cells = p->CellsOfName(QString::fromUtf8(name));
        EXPECT_EQ(cells.size(), 1) << name;
        return cells.value(0);
    };
    TReportCell *flow = cellOf("流量");
    TReportCell *head = cellOf("扬程");
    TReportCell *density = cellOf("效率");
    TReportCell *power = cellOf("轴功率");
    ASSERT_TRUE(flow && head && density && power);
    const auto centreOf
        = [&](TReportCell *cell) { return p->pageToWindow(cell->FCellRect).center(); };
    const auto typeInto = [&](TReportCell *cell, const QString &text, Qt::Key last) {
        QTest::mouseClick(p, Qt::LeftButton, {}, centreOf(cell));
        for (const QChar ch : text)
            QTest::keyClick(QApplication::focusWidget(), char(ch.unicode()));
        QTest::keyClick(QApplication::focusWidget(), last);
    };
    const auto run = [&] { find<QAction>("actCompileProject")->trigger(); };

    run();
    EXPECT_EQ(window->statusText(), "计算完成");
    EXPECT_FALSE(window->statusIsError());
    const QString before = power->FCellText;

    typeInto(flow, "60", Qt::Key_Return);
    EXPECT_EQ(flow->FCellText, "60");
    EXPECT_EQ(p->FSelectCells, QList<TReportCell *>{p->nextInputCell(flow, true)});
    EXPECT_EQ(p->cellMark(power), Mark::Stale);
    EXPECT_EQ(p->cellMark(head), Mark::None);
    EXPECT_EQ(window->staleNames(), QStringList{"轴功率"});
    EXPECT_EQ(window->statusText(), "结果未更新，按 F9 计算");

    struct Row
    {
        TfmWinIDE::StaleChoice answer;
        bool goesOn, staleAfter;
    };
    const Row rows[] = {{TfmWinIDE::StaleChoice::Cancel, false, true},
                        {TfmWinIDE::StaleChoice::Continue, true, true},
                        {TfmWinIDE::StaleChoice::Calculate, true, false}};
    int asked = 0;
    // Saving test data asks too; cancelled, nothing is written.
    window->setStaleQuestion([&](QWidget *) { return ++asked, TfmWinIDE::StaleChoice::Cancel; });
    window->clearLog();
    find<QAction>("actSaveExamData")->trigger();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(log().isEmpty()) << log().join('|').toStdString();
    for (const Row &row : rows) {
        window->setStaleQuestion([&](QWidget *) { return ++asked, row.answer; });
        EXPECT_EQ(window->settleStaleResults(), row.goesOn);
        EXPECT_EQ(window->hasStaleResults(), row.staleAfter);
    }
    EXPECT_TRUE(window->settleStaleResults()); // nothing stale: no question
    EXPECT_EQ(asked, 4);
    EXPECT_NE(power->FCellText, before);
    EXPECT_EQ(p->cellMark(power), Mark::None);

    // F9 while an edit box is open over the result.
    QTest::mouseDClick(p, Qt::LeftButton, {}, centreOf(power));
    for (const char ch : {'5', '5'})
        QTest::keyClick(QApplication::focusWidget(), ch);
    ASSERT_TRUE(p->isEditing());
    p->EndEdit(); // a value typed over a result is no result
    EXPECT_EQ(p->cellMark(power), Mark::Stale);
    QTest::mouseDClick(p, Qt::LeftButton, {}, centreOf(power));
    QTest::keyClick(QApplication::focusWidget(), '6');
    ASSERT_TRUE(p->isEditing());
    run();
    EXPECT_FALSE(p->isEditing());
    const QString result = power->FCellText;
    EXPECT_TRUE(result.startsWith("7.36")) << result.toStdString();
    QTest::mouseClick(p, Qt::LeftButton, {}, centreOf(head));
    EXPECT_EQ(power->FCellText, result);

    // A letter O typed for a zero.
    typeInto(head, "3O", Qt::Key_Return);
    run();
    EXPECT_EQ(window->statusText(), "计算完成：1 步失败");
    EXPECT_TRUE(window->statusIsError());
    EXPECT_EQ(p->cellMark(power), Mark::Failed);
    EXPECT_TRUE(p->cellMarkTip(power).startsWith("计算失败："))
        << p->cellMarkTip(power).toStdString();
    const auto *pane = find<QPlainTextEdit>("mmoMessage");
    EXPECT_TRUE(pane->isVisible());
    EXPECT_TRUE(pane->textCursor().block().text().contains("编译失败"));
    EXPECT_TRUE(pane->textCursor().block().text().endsWith("（缺少 ')'）"));
    // The input that is no number is named, and marked as well.
    EXPECT_TRUE(p->cellMarkTip(power).contains("扬程 = 3O")) << p->cellMarkTip(power).toStdString();
    EXPECT_EQ(p->cellMark(head), Mark::Failed);

    // An input left empty keeps its node's value, marked, and counted.
    typeInto(head, "32.5", Qt::Key_Return);
    QTest::mouseClick(p, Qt::LeftButton, {}, centreOf(density));
    QTest::keyClick(p, Qt::Key_Delete);
    EXPECT_EQ(density->FCellText, "");
    run();
    EXPECT_TRUE(log().contains("  输入为空，沿用 效率 = 0.72")) << log().join('|').toStdString();
    EXPECT_EQ(density->FCellText, "0.72");
    EXPECT_EQ(p->cellMark(density), Mark::Defaulted);
    EXPECT_EQ(p->cellMarkTip(density), "输入为空，沿用节点的值 0.72");
    EXPECT_EQ(p->cellMark(power), Mark::None);
    EXPECT_EQ(window->statusText(), "计算完成：1 个输入为空，沿用原值");
    EXPECT_FALSE(window->statusIsError());
    typeInto(density, "1000", Qt::Key_Tab);
    EXPECT_EQ(p->cellMark(density), Mark::None);
    EXPECT_EQ(p->cellMark(power), Mark::Stale);
}

TEST(WindowInFrame, DuringARunRunsAndLoadsAreRefusedAndClosingStopsItFirst)
{
    gridtest::ScopedPrinterLayer noPrinter;
    QMainWindow frame;
    auto *area = new QMdiArea;
    frame.setCentralWidget(area);
    frame.resize(900, 700);
    auto *window = new TfmWinIDE;
    const QPointer<QMdiSubWindow> sub = area->addSubWindow(window);
    const QPointer<TfmWinIDE> alive = window;
    ProgressRecorder progress;
    window->setProgressReceiver(&progress);
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    window->loadProjectFile(kSample);
    TqzProjectTree &tree = *window->project().TreeView;
    const QModelIndex top = tree.appendNode(makeNode("总计", ""));
    tree.appendNode(makeNode("甲", "1+1"), top);
    tree.appendNode(makeNode("乙", "2+2"), top);

    std::vector<bool> enabled;
    bool shownAfterClose = false;
    progress.onPosition = [&] {
        for (const char *name : {"actCompile_Node",
                                 "actCompile_Page",
                                 "actCompileProject",
                                 "actSaveExamData",
                                 "actLoadExamData"})
            enabled.push_back(window->findChild<QAction *>(name)->isEnabled());
        EXPECT_THROW(window->loadProjectFile(kSample), Error);
        // A second F9 through the main window, then, once a step is logged, a close.
        window->actCompileProjectExecute();
        if (!shownAfterClose && stepNames(window->logLines()).size() == 1) {
            sub->close();
            shownAfterClose = sub && sub->isVisible();
        }
    };
    window->selectItem(top);
    window->actCompile_Node->trigger();
    ASSERT_FALSE(alive.isNull());
    const QStringList log = window->logLines();
    EXPECT_EQ(enabled, std::vector<bool>(enabled.size(), false));
    EXPECT_TRUE(shownAfterClose);
    EXPECT_EQ(stepNames(log), QStringList({"乙"}));
    EXPECT_TRUE(log.contains("运行中止: 运行已按请求停止")) << log.join('|').toStdString();
    EXPECT_TRUE(tree.nodeAt(tree.count() - 2)->Value.isEmpty()); // 甲 was never evaluated
    QCoreApplication::sendPostedEvents(&progress);
    EXPECT_EQ(std::count_if(progress.events.begin(),
                            progress.events.end(),
                            [](const auto &e) { return e.first == 0; }),
              1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(sub.isNull());
    EXPECT_TRUE(alive.isNull());
}

// Points the program directory (and so the exam folder) at a fresh folder for one test.
class ScopedProgramDirectory
{
public:
    ScopedProgramDirectory()
        : m_previous(programDirectory())
    {
        setProgramDirectory(m_dir.path());
    }
    ~ScopedProgramDirectory() { setProgramDirectory(m_previous); }
    QString exam(const QString &file) const { return m_dir.path() + "/exam/" + file; }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

// "检查工程" from the tree popup lists what is wrong; a double click on a finding selects its node
// in the tree (opening the tree panel), or shows its page with its cell selected.
TEST_F(WindowTest, CheckProjectListsFindingsAndShowsEachOnDoubleClick)
{
    window->loadProjectFile(kSample);
    TqzProjectTree &tree = *window->document().project().TreeView;
    tree.nodeAt(0)->Script += "*粘度";
    int line = -1, cell = -1;
    for (int l = 0; l < page(0)->lineCount() && line < 0; ++l)
        for (int c = 0; c < page(0)->line(l)->cellCount() && line < 0; ++c)
            if (page(0)->line(l)->cell(c)->FTagID.isEmpty())
                line = l, cell = c;
    ASSERT_GE(line, 0);
    page(0)->SetTagID(line, cell, "ZZ");

    QMenu *popup = find<QMenu>("pmProject");
    ASSERT_NE(entry(popup, "检查工程(&K)"), nullptr);
    entry(popup, "检查工程(&K)")->trigger();
    auto *panel = window->findChild<TqzCheckPanel *>("checkPanel");
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
    QStringList rows;
    for (int r = 0; r < panel->list->topLevelItemCount(); ++r)
        rows << panel->list->topLevelItem(r)->text(2) + "|" + panel->findings()[r].kind;
    EXPECT_EQ(rows, QStringList({"粘度|unknown-name", "ZZ|tag-without-node"}));
    EXPECT_TRUE(panel->summary->text().contains("1 个错误、1 个警告"));

    auto doubleClick = [&](int row) {
        QTreeWidgetItem *item = panel->list->topLevelItem(row);
        const QPoint at = panel->list->visualItemRect(item).center();
        QTest::mouseClick(panel->list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(panel->list->viewport(), Qt::LeftButton, {}, at);
    };
    doubleClick(0);
    EXPECT_TRUE(find("pnlProjectManager")->isVisible());
    EXPECT_EQ(find<QTreeView>("tvProject")->currentIndex(), QModelIndex(tree.itemAt(0)));
    doubleClick(1);
    const TReportCell *tagged = page(0)->line(line)->cell(cell);
    EXPECT_EQ(page(0)->FLastSelectCell, tagged);
    EXPECT_EQ(page(0)->FSelectCells, QList<TReportCell *>({page(0)->line(line)->cell(cell)}));
}

// A chart on a page follows the runs of the window: typed inputs move its values, and the page
// view draws it over its cells.
TEST_F(WindowTest, ChartsFollowTheRunsOfTheWindow)
{
    window->loadProjectFile(kSample);
    TqzWorkbook &book = window->document().workbook();
    TqzChart chart;
    chart.page = 0;
    chart.first = {1, 0};
    chart.last = {6, 3};
    chart.title = QStringLiteral("功率曲线");
    chart.input = QStringLiteral("流量");
    chart.from = 10;
    chart.to = 100;
    chart.points = 4;
    chart.outputs = {QStringLiteral("轴功率")};
    book.setCharts({chart});
    const QImage empty = page(0)->grab().toImage();

    TqzReport *p = page(0);
    TReportCell *head = p->CellsOfName(QStringLiteral("扬程")).value(0);
    ASSERT_NE(head, nullptr);
    QTest::mouseClick(p, Qt::LeftButton, {}, p->pageToWindow(head->FCellRect).center());
    for (const char ch : {'6', '5'})
        QTest::keyClick(QApplication::focusWidget(), ch);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    find<QAction>("actCompileProject")->trigger();

    ASSERT_EQ(book.charts().size(), 1);
    const TqzChart computed = book.charts().first();
    ASSERT_EQ(computed.series.size(), 1);
    EXPECT_EQ(computed.inputUnit, QStringLiteral("m3/h"));
    const double power = 50.0 * 65 * 998.2 * 9.81 / 3600 / 0.72 / 1000; // at 50 m3/h, 65 m
    const std::vector<double> flows = computed.inputValues();
    for (size_t i = 0; i < flows.size(); ++i)
        EXPECT_NEAR(computed.series[0].values[i], power * flows[i] / 50, 1e-9) << i;
    // The lines of the chart are on the page now (before the run it said "尚未计算").
    EXPECT_NE(page(0)->grab().toImage(), empty);
}

TEST_F(WindowTest, TestDataIsSavedAndLoadedThroughBothPopups)
{
    ScopedProgramDirectory dir;
    QStringList asked; // caption, folder, filter of the last dialog
    QString answer;
    window->setOpenFileDialog(
        [&](QWidget *, const QString &caption, const QString &folder, const QString &filter) {
            asked = {caption, folder, filter};
            return answer;
        });

    // An empty tree: nothing is written, the pane says why.
    entry(find<QMenu>("pmProject"), "保存测试数据(&S)...")->trigger();
    EXPECT_FALSE(QFileInfo::exists(dir.exam("VOK1.exm")));
    EXPECT_EQ(log(), QStringList({"工程中没有节点, 未保存测试数据"}));

    window->loadProjectFile(kSample);
    for (const char *menu : {"pmProject", "pmReport"})
        entry(find<QMenu>(menu), "保存测试数据(&S)...")->trigger();
    EXPECT_TRUE(QFileInfo::exists(dir.exam("VOK1.exm")) && QFileInfo::exists(dir.exam("VOK2.exm")));
    EXPECT_TRUE(log().last().startsWith("已保存测试数据 ") && log().last().endsWith("VOK2.exm"))
        << log().last().toStdString();

    QFile damaged(dir.exam("VOK9.exm"));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("<?xml version=\"1.0\"?><root><broken");
    damaged.close();
    TqzNode *head = window->project().TreeView->nodeAt(2);
    ASSERT_EQ(head->Name, "扬程");
    struct Row
    {
        const char *menu;
        QString answer;
        QString value;    // of 扬程, in the node and its cell, afterwards
        QString logStart; // "": the pane stays empty
    };
    const Row rows[] = {{"pmProject", "", "99", ""},
                        {"pmReport", dir.exam("VOK9.exm"), "99", "加载测试数据失败: "},
                        {"pmProject", dir.exam("VOK1.exm"), "32.5", "已加载测试数据 "}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.answer.toStdString());
        head->Value = "99";
        page(0)->SetTagValue("扬程", "99");
        window->clearLog();
        answer = row.answer;
        asked.clear();
        entry(find<QMenu>(row.menu), "加载测试数据(&L)...")->trigger();
        ASSERT_EQ(asked.size(), 3);
        EXPECT_EQ(asked[1], QFileInfo(dir.exam("")).absolutePath());
        EXPECT_TRUE(asked[2].contains("*.exm"));
        EXPECT_EQ(head->Value, row.value);
        EXPECT_EQ(cellTagged(page(0), "扬程")->FCellText, row.value);
        EXPECT_EQ(log().isEmpty(), row.logStart.isEmpty());
        EXPECT_TRUE(log().value(0, "").startsWith(row.logStart)) << log().join('|').toStdString();
    }
    // Loading test data is one step: undone, the cell and the node hold what they held before.
    ASSERT_EQ(window->undoStack()->undoText(), "加载测试数据");
    window->undoStack()->undo();
    EXPECT_EQ(head->Value, "99");
    EXPECT_EQ(cellTagged(page(0), "扬程")->FCellText, "99");
    window->undoStack()->redo();
    EXPECT_EQ(head->Value, "32.5");
    EXPECT_EQ(cellTagged(page(0), "扬程")->FCellText, "32.5");
}

} // namespace
