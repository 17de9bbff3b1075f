// The project window driven through its real widgets: cells clicked, popups and menus opened and
// chosen, the wheel turned, runs started by key and menu, progress and test data observed.

#include "error.h"
#include "programdir.h"
#include "projectfile.h"
#include "qzexcel.h"
#include "qzproject.h"
#include "qzreport.h"
#include "qztranslate.h"
#include "reportgrid/gridfixture.h"
#include "runprogress.h"
#include "winide.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <QtTest/qtestspontaneevent.h>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace tessarin;

namespace {

QString samplePath()
{
    return QStringLiteral(TESSARIN_TEST_DATA "/workbook/pump_sheets.flw");
}

QByteArray sampleBytes()
{
    QFile file(samplePath());
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

// Records the progress events a window posts, and lets a test act while a run is in progress.
class ProgressRecorder : public QObject
{
public:
    std::vector<std::pair<int, int>> events;
    std::function<void()> onPosition; // called at every position event
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

QPoint centreOf(const TqzReport *page, const TReportCell *cell)
{
    return page->pageToWindow(cell->FCellRect).center();
}

QStringList texts(const QList<QAction *> &actions)
{
    QStringList result;
    for (const QAction *a : actions)
        result << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return result;
}

QStringList checkedTexts(const QList<QAction *> &actions)
{
    QStringList result;
    for (const QAction *a : actions)
        if (a->isChecked())
            result << a->text();
    return result;
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

    template<class T>
    T *find(const char *name) const
    {
        T *object = window->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(object, nullptr) << name;
        return object;
    }

    void loadSample() { window->loadProjectFile(samplePath()); }
    TqzReport *page(int i) const { return window->excel().Pages.at(i); }
    QStringList log() const { return window->logLines(); }
    void click(TqzReport *p, const QString &tag, Qt::MouseButton button = Qt::LeftButton)
    {
        const TReportCell *cell = cellTagged(p, tag);
        ASSERT_NE(cell, nullptr) << tag.toStdString();
        QTest::mouseClick(p, button, {}, centreOf(p, cell));
    }
    void rightPress(TqzReport *p, const QString &tag)
    {
        QTest::mousePress(p, Qt::RightButton, {}, centreOf(p, cellTagged(p, tag)));
        QTest::mouseRelease(p, Qt::RightButton, {}, centreOf(p, cellTagged(p, tag)));
    }
    // Opens and closes a popup as a user glancing at it would.
    static void glance(QMenu *menu)
    {
        menu->popup(QPoint(10, 10));
        menu->hide();
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

// ---- layout, captions, hints and shortcuts ----

TEST_F(WindowTest, ComponentsCarryTheirNamesCaptionsHintsAndShortcuts)
{
    struct Row
    {
        const char *name;
        QString text, toolTip, statusTip;
        QKeySequence shortcut;
    };
    const Row rows[] = {
        {"actCompile_Node",
         "模块运行(&M)",
         "运行报表中选择的模块",
         "运行报表中选择的模块",
         QKeySequence(Qt::Key_F4)},
        {"actCompile_Page", "运行当前页(&P)", "运行当前页", "运行当前页", {}},
        {"actCompileProject", "运行工程(&R)", "运行", "运行工程以得到计算结果", {}},
        {"actSaveExamData", "保存测试数据(&S)...", "", "", {}},
        {"actLoadExamData", "加载测试数据(&L)...", "", "", {}},
        {"mniViewManager", "工程管理器(&P)", "", "", {}},
        {"mniViewMsg", "信息框(&M)", "", "", {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const QAction *a = find<QAction>(row.name);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->text(), row.text);
        if (!row.toolTip.isEmpty()) {
            EXPECT_EQ(a->toolTip(), row.toolTip);
        }
        EXPECT_EQ(a->statusTip(), row.statusTip);
        EXPECT_EQ(a->shortcut(), row.shortcut);
    }
    EXPECT_EQ(window->objectName(), "fmWinIDE");
    EXPECT_EQ(window->windowTitle(), "流程集成开发环境");
    EXPECT_EQ(window->viewMenu()->title(), "查看(&V)");
    EXPECT_EQ(texts(window->viewMenu()->actions()).mid(0, 3),
              QStringList({"工程管理器(&P)", "信息框(&M)", "-"}));
    EXPECT_EQ(texts(find<QMenu>("pmReport")->actions()),
              QStringList({"模块运行(&M)",
                           "运行当前页(&P)",
                           "运行工程(&R)",
                           "-",
                           "保存测试数据(&S)...",
                           "加载测试数据(&L)..."}));
    EXPECT_EQ(texts(find<QMenu>("pmProject")->actions()),
              QStringList({"运行工程(&R)", "-", "保存测试数据(&S)...", "加载测试数据(&L)..."}));

    // Hidden at start: the tree panel, the message pane and their splitters.
    for (const char *name : {"pnlProjectManager", "splClient", "mmoMessage", "splBottom"})
        EXPECT_FALSE(find<QWidget>(name)->isVisible()) << name;
    for (const char *name : {"tvProject", "pnlReport", "slbReport", "tsShowPages"})
        EXPECT_NE(find<QWidget>(name), nullptr);

    // Before loading: one empty page under "默认页"; loading replaces tabs, pages and title.
    const QTabBar *tabs = find<QTabBar>("tsShowPages");
    ASSERT_EQ(tabs->count(), 1);
    EXPECT_EQ(tabs->tabText(0), "默认页");
    EXPECT_EQ(window->excel().Pages.size(), 1);
    EXPECT_FALSE(window->isLoaded());
    loadSample();
    EXPECT_TRUE(window->isLoaded());
    EXPECT_EQ(window->windowTitle(), "pump_sheets.flw");
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(0), "泵性能");
    EXPECT_EQ(tabs->tabText(1), "电机");
    EXPECT_EQ(shownPages(), std::vector<TqzReport *>({page(0), page(2)}));
    EXPECT_EQ(window->codeTable().Translate(QStringLiteral("流量*扬程")), "Q*H");
    EXPECT_EQ(window->projectFile().FileName, samplePath());
}

TEST_F(WindowTest, AFailedLoadKeepsWhatTheWindowShowed)
{
    loadSample();
    const QByteArray broken = sampleBytes().replace("NodeID=\"1\"", "NodeID=\"x\"");
    EXPECT_THROW(window->loadProjectBytes(broken, "broken", "broken"), Error);
    EXPECT_EQ(window->windowTitle(), "pump_sheets.flw");
    EXPECT_EQ(window->project().TreeView->count(), 5);
    EXPECT_EQ(window->excel().Pages.size(), 3);
}

TEST_F(WindowTest, AWorkbookWithoutTabNamesKeepsItsPagesShown)
{
    // Emptying the tab bar reports tab -1; that must not hide every page.
    QByteArray bytes = sampleBytes();
    const int at = bytes.indexOf("ShowPages=\"");
    ASSERT_GE(at, 0);
    const int end = bytes.indexOf('"', at + 11);
    bytes.replace(at, end - at + 1, "ShowPages=\"\"");
    window->loadProjectBytes(bytes, "no tabs", "no tabs");
    EXPECT_EQ(find<QTabBar>("tsShowPages")->count(), 0);
    EXPECT_FALSE(shownPages().empty());
}

// ---- cell clicks ----

TEST_F(WindowTest, ClickingACellSelectsItsNodeAndShowsWhatItCan)
{
    loadSample();
    const QStringList power = {"名称: 轴功率",
                               "编码: N",
                               "取值: ",
                               "单位: kW",
                               "脚本: 流量*扬程*密度*9.81/3600/效率/1000",
                               "编码脚本: Q*H*rho*9.81/3600/eta/1000"};
    struct Row
    {
        const char *what;
        int page;
        QString tag;
        QStringList log;
        QString selected; // tree item selected afterwards ("" none)
    };
    const std::vector<Row> rows = {
        {"a node with a script: its six lines", 0, "轴功率", power, "轴功率"},
        {"the same cell again: the trigger line stays", 0, "轴功率", {"触发体: 轴功率"}, "轴功率"},
        {"an input node (no script): trigger only",
         0,
         "[2][1][0][流量]",
         {"触发体: 流量"},
         "轴功率"},
        {"a tag padded with blanks names no node", 0, " 效率 ", {"触发体:  效率 "}, "轴功率"},
        {"a run button cell still names its tag", 0, "RUN", {"触发体: RUN"}, "轴功率"},
        {"a cell without tag clears the pane", 0, "", {}, "轴功率"},
    };
    QTreeView *tree = find<QTreeView>("tvProject");
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        window->appendLog("old line");
        click(page(row.page), row.tag);
        EXPECT_EQ(log(), row.log);
        EXPECT_EQ(window->currentPage(), page(row.page));
        const QModelIndexList selected = tree->selectionModel()->selectedRows();
        ASSERT_EQ(selected.size(), row.selected.isEmpty() ? 0 : 1);
        if (!row.selected.isEmpty()) {
            EXPECT_EQ(selected.first().data().toString(), row.selected);
        }
    }
}

TEST_F(WindowTest, ATagTooShortToParseIsReportedInThePane)
{
    loadSample();
    TReportCell *cell = cellTagged(page(0), "扬程");
    cell->FTagID = "[1][2]";
    page(0)->touchContent();
    click(page(0), "[1][2]");
    ASSERT_EQ(log().size(), 1);
    EXPECT_TRUE(log().first().contains("[1][2]")) << log().first().toStdString();
}

TEST_F(WindowTest, RightClickOffersTheRunCommandsOnceACellWasSelected)
{
    loadSample();
    QMenu *popup = find<QMenu>("pmReport");
    // Nothing selected on the page yet: the press only makes the page current.
    rightPress(page(0), "扬程");
    EXPECT_FALSE(popup->isVisible());
    EXPECT_EQ(window->currentPage(), page(0));
    click(page(0), "扬程");
    rightPress(page(0), "扬程");
    EXPECT_TRUE(popup->isVisible());
    EXPECT_TRUE(log().isEmpty());
    popup->hide();
}

// ---- tabs, the tab popup and the View menu ----

TEST_F(WindowTest, ViewMenuListsOneRadioEntryPerTabEveryTimeItOpens)
{
    loadSample();
    QMenu *view = window->viewMenu();
    for (int opening = 0; opening < 2; ++opening) {
        glance(view);
        const QList<QAction *> entries = view->actions().mid(3);
        EXPECT_EQ(texts(entries), QStringList({"泵性能", "电机"}));
        EXPECT_EQ(checkedTexts(entries), QStringList({"泵性能"}));
        for (const QAction *e : entries)
            EXPECT_TRUE(e->isCheckable() && e->actionGroup() && e->actionGroup()->isExclusive());
    }
}

TEST_F(WindowTest, ChoosingAPageEntrySwitchesTabScrollsToTopAndShowsItsPages)
{
    loadSample();
    QTabBar *tabs = find<QTabBar>("tsShowPages");
    QScrollBar *bar = find<QScrollArea>("slbReport")->verticalScrollBar();
    QMenu *tabPopup = find<QMenu>("pmuReportTab");
    struct Row
    {
        const char *through;
        QString entry;
        int tab;
        std::vector<int> pages;
    };
    const std::vector<Row> rows = {
        {"view menu", "电机", 1, {1}},
        {"tab popup", "泵性能", 0, {0, 2}},
        {"tab popup", "电机", 1, {1}},
        {"view menu", "泵性能", 0, {0, 2}},
        {"view menu, no such tab", "默认页", 0, {0, 2}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.through) + " " + row.entry.toStdString());
        bar->setValue(bar->maximum());
        const int before = bar->value();
        QMenu *menu = window->viewMenu();
        QList<QAction *> entries;
        if (QByteArray(row.through).startsWith("view")) {
            glance(menu);
            entries = menu->actions().mid(3);
        } else {
            // Right-click on the tab bar fills the popup afresh.
            QContextMenuEvent e(
                QContextMenuEvent::Mouse, QPoint(5, 5), tabs->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(tabs, &e);
            EXPECT_TRUE(tabPopup->isVisible());
            entries = tabPopup->actions();
            EXPECT_EQ(texts(entries), QStringList({"泵性能", "电机"}));
            EXPECT_EQ(checkedTexts(entries), QStringList({tabs->tabText(tabs->currentIndex())}));
            tabPopup->hide();
        }
        QAction *chosen = nullptr;
        for (QAction *e : entries)
            if (e->text() == row.entry)
                chosen = e;
        if (chosen)
            chosen->trigger();
        else
            window->PageMenuItemClick(std::make_unique<QAction>(row.entry).get());
        EXPECT_EQ(tabs->currentIndex(), row.tab);
        std::vector<TqzReport *> expected;
        for (int p : row.pages)
            expected.push_back(page(p));
        EXPECT_EQ(shownPages(), expected);
        EXPECT_EQ(bar->value(), chosen ? 0 : before);
    }
}

TEST_F(WindowTest, PageAreaContentFollowsTheViewportAndThePages)
{
    QScrollArea *area = find<QScrollArea>("slbReport");
    const auto check = [&](const char *when) {
        SCOPED_TRACE(when);
        const QWidget *content = area->widget();
        const QSize view = area->viewport()->size();
        int bottom = 0, widest = 0;
        for (const TqzReport *p : shownPages()) {
            bottom = std::max(bottom, p->geometry().bottom());
            widest = std::max(widest, p->width());
            // Centred in the viewport when it is wide enough.
            if (view.width() >= p->width() + 50) {
                EXPECT_EQ(p->x(), (content->width() - p->frameGeometry().width() - 20) / 2);
            }
        }
        EXPECT_GE(content->width(), view.width());
        EXPECT_GE(content->width(), widest);
        EXPECT_GT(content->height(), bottom);
        EXPECT_GE(content->height(), view.height());
    };
    loadSample();
    check("after loading");
    frame.resize(1400, 700);
    QTest::qWait(0);
    check("wider");
    find<QTabBar>("tsShowPages")->setCurrentIndex(1);
    check("other tab");
    frame.resize(500, 600);
    QTest::qWait(0);
    check("narrower than a page");
    EXPECT_EQ(page(1)->x(), window->excel().PageLeftMin);
}

TEST_F(WindowTest, ResizesRearrangePagesOnlyOnceLoaded)
{
    TqzReport *first = window->excel().Pages.first();
    first->move(3, first->y());
    frame.resize(1300, 800);
    QTest::qWait(0);
    EXPECT_EQ(first->x(), 3);
    loadSample();
    page(0)->move(3, page(0)->y());
    frame.resize(1200, 800);
    QTest::qWait(0);
    EXPECT_NE(page(0)->x(), 3);
}

TEST_F(WindowTest, WheelMovesThePageAreaEightPixelsPerEvent)
{
    loadSample();
    frame.resize(900, 500);
    QTest::qWait(0);
    QWidget *viewport = find<QScrollArea>("slbReport")->viewport();
    QScrollBar *bar = find<QScrollArea>("slbReport")->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 100);
    struct Row
    {
        int angle; // vertical angle delta of one event; negative turns down
        int events;
        int expected;
    };
    const Row rows[] = {{-120, 1, 8}, {-120, 2, 24}, {120, 1, 16}, {-15, 1, 24}, {240, 5, 0}};
    // Over a page and over the bare page area alike.
    for (QWidget *target : {static_cast<QWidget *>(page(0)), viewport}) {
        bar->setValue(0);
        for (const Row &row : rows) {
            for (int i = 0; i < row.events; ++i) {
                const QPoint local = target == viewport ? QPoint(2, 2) : QPoint(40, 40);
                QWheelEvent wheel(local,
                                  target->mapToGlobal(local),
                                  QPoint(),
                                  QPoint(0, row.angle),
                                  Qt::NoButton,
                                  Qt::NoModifier,
                                  Qt::NoScrollPhase,
                                  false);
                // As from the window system: unhandled by a page, it reaches the page area.
                // (sendEvent would clear the flag; QTest delivers its input the same way.)
                QSpontaneKeyEvent::setSpontaneous(&wheel);
                qApp->notify(target, &wheel);
            }
            EXPECT_EQ(bar->value(), row.expected) << row.angle << " x" << row.events;
        }
    }
}

// ---- the panes ----

TEST_F(WindowTest, MessagePaneAndProjectManagerToggle)
{
    loadSample();
    QAction *msg = find<QAction>("mniViewMsg");
    QAction *manager = find<QAction>("mniViewManager");
    struct Row
    {
        QAction *entry;
        std::vector<const char *> widgets;
    };
    for (const Row &row : {Row{msg, {"mmoMessage", "splBottom"}},
                           Row{manager, {"pnlProjectManager", "splClient"}}}) {
        for (bool expected : {true, false, true}) {
            row.entry->trigger();
            EXPECT_EQ(row.entry->isChecked(), expected);
            for (const char *name : row.widgets)
                EXPECT_EQ(find<QWidget>(name)->isVisible(), expected) << name;
        }
    }
    EXPECT_EQ(find<QWidget>("pnlProjectManager")->width(), 200);
    EXPECT_EQ(find<QWidget>("mmoMessage")->height(), 114);

    // Lines written while the pane is hidden are there when it shows again.
    window->clearLog();
    msg->trigger();
    window->appendLog("while hidden");
    msg->trigger();
    EXPECT_EQ(find<QPlainTextEdit>("mmoMessage")->toPlainText(), "while hidden");

    // Browsing the tree shows a node's property lines.
    QTreeView *tree = find<QTreeView>("tvProject");
    const QModelIndex head = tree->model()->index(0, 0);
    const QModelIndex second = tree->model()->index(1, 0, head);
    tree->scrollTo(second);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(second).center());
    EXPECT_EQ(
        log(),
        QStringList({"名称: 扬程", "编码: H", "取值: 32.5", "单位: m", "脚本: ", "编码脚本: "}));
}

} // namespace

// ---- runs ----

namespace {

std::unique_ptr<TqzNode> makeNode(const QString &name, const QString &script)
{
    auto node = std::make_unique<TqzNode>();
    node->Name = name;
    node->Caption = name;
    node->Script = script;
    return node;
}

QStringList stepNames(const QStringList &log)
{
    QStringList names;
    for (const QString &line : log)
        if (line.startsWith(QStringLiteral("第")) && line.contains(QStringLiteral("步-----计算: ")))
            names << line.section(QStringLiteral("计算: "), 1);
    return names;
}

} // namespace

TEST_F(WindowTest, RunsStartFromTheKeyAndEveryPopupWithProgressAndHourglass)
{
    loadSample();
    // A top-level node named like the second tab, so that "运行当前页" finds one there.
    window->project().TreeView->appendNode(makeNode("电机", "2*3"));
    frame.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
    std::vector<Qt::CursorShape> cursors;
    progress.onPosition = [&] {
        const QCursor *c = QApplication::overrideCursor();
        cursors.push_back(c ? c->shape() : Qt::ArrowCursor);
    };
    QAction *const node = find<QAction>("actCompile_Node");
    QAction *const pageRun = find<QAction>("actCompile_Page");
    QAction *const project = find<QAction>("actCompileProject");
    struct Row
    {
        const char *how;
        int tab;
        std::function<void()> start;
        int maximum; // -1: nothing happens
        QStringList steps;
    };
    const std::vector<Row> rows = {
        {"a click on a cell that names no node, then F4: the first item",
         0,
         [&] {
             // Pages take no focus; the page area around them does, so F4 reaches the window.
             if (QWidget *focus = QApplication::focusWidget())
                 focus->clearFocus();
             click(page(0), "扬程");
             ASSERT_NE(QApplication::focusWidget(), nullptr);
             QTest::keyClick(QApplication::focusWidget(), Qt::Key_F4);
         },
         4,
         {"轴功率"}},
        {"report popup M1", 0, [&] { node->trigger(); }, 4, {"轴功率"}},
        {"report popup R1", 1, [&] { project->trigger(); }, 4, {"轴功率"}},
        {"report popup P1 on a tab no node is named after", 0, [&] { pageRun->trigger(); }, -1, {}},
        {"report popup P1 on the tab named like a node",
         1,
         [&] { pageRun->trigger(); },
         0,
         {"电机"}},
        {"F4 runs the selected node",
         1,
         [&] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_F4); },
         0,
         {"电机"}},
        {"tree popup R2",
         1,
         [&] {
             QMenu *tree = find<QMenu>("pmProject");
             glance(tree);
             tree->actions().first()->trigger();
         },
         4,
         {"轴功率"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.how);
        find<QTabBar>("tsShowPages")->setCurrentIndex(row.tab);
        window->clearLog();
        window->appendLog("before");
        progress.events.clear();
        cursors.clear();
        row.start();
        QCoreApplication::sendPostedEvents(&progress);
        if (row.maximum < 0) {
            EXPECT_TRUE(progress.events.empty());
            EXPECT_EQ(log(), QStringList({"before"}));
            continue;
        }
        ASSERT_GE(progress.events.size(), 3u);
        EXPECT_EQ(progress.events.front(), std::make_pair(0, row.maximum));
        EXPECT_EQ(progress.events.back(), std::make_pair(2, 0));
        for (int i = 1; i + 1 < int(progress.events.size()); ++i)
            EXPECT_EQ(progress.events[size_t(i)], std::make_pair(1, i));
        EXPECT_EQ(int(progress.events.size()), row.maximum + 3);
        EXPECT_EQ(stepNames(log()), row.steps);
        EXPECT_EQ(log().first(), "正在从报表中获取流程数据...");
        EXPECT_TRUE(log().last().startsWith("编译时间: ")) << log().last().toStdString();
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        for (const Qt::CursorShape shape : cursors)
            EXPECT_EQ(shape, Qt::WaitCursor);
        EXPECT_TRUE(node->isEnabled() && pageRun->isEnabled() && project->isEnabled());
    }
    // The result went back into the report cell tagged with the node's name.
    EXPECT_TRUE(cellTagged(page(0), "轴功率")->FCellText.startsWith("6.139"))
        << cellTagged(page(0), "轴功率")->FCellText.toStdString();
}

TEST_F(WindowTest, DuringARunRunCommandsAreRefused)
{
    loadSample();
    std::vector<bool> enabled;
    progress.onPosition = [&] {
        enabled.push_back(find<QAction>("actCompileProject")->isEnabled()
                          || find<QAction>("actCompile_Node")->isEnabled()
                          || find<QAction>("actCompile_Page")->isEnabled());
        // A second F9 arriving through the main window while the first run goes on.
        window->actCompileProjectExecute();
        window->actCompile_NodeExecute();
    };
    find<QAction>("actCompileProject")->trigger();
    QCoreApplication::sendPostedEvents(&progress);
    EXPECT_EQ(enabled, std::vector<bool>(5, false));
    const auto starts = std::count_if(
        progress.events.begin(), progress.events.end(), [](const auto &e) { return e.first == 0; });
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(stepNames(log()), QStringList({"轴功率"}));
    EXPECT_EQ(log().count("编译完毕"), 1);
}

TEST(WindowInFrame, ClosingDuringARunStopsTheRunThenCloses)
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
    window->loadProjectFile(samplePath());
    TqzProjectTree &tree = *window->project().TreeView;
    const QModelIndex top = tree.appendNode(makeNode("总计", ""));
    tree.appendNode(makeNode("甲", "1+1"), top);
    tree.appendNode(makeNode("乙", "2+2"), top);

    bool stillShownAfterClose = false;
    progress.onPosition = [&] {
        // Once the first step has been logged, the user closes the window.
        if (!stillShownAfterClose && stepNames(window->logLines()).size() == 1) {
            sub->close();
            stillShownAfterClose = sub && sub->isVisible();
        }
    };
    window->selectItem(top);
    window->actCompile_Node->trigger();
    ASSERT_FALSE(alive.isNull());
    const QStringList log = window->logLines();
    EXPECT_TRUE(stillShownAfterClose);
    EXPECT_EQ(stepNames(log), QStringList({"乙"}));
    EXPECT_TRUE(log.contains("运行中止: 运行已按请求停止")) << log.join('|').toStdString();
    EXPECT_TRUE(tree.nodeAt(tree.count() - 2)->Value.isEmpty()); // 甲 was never evaluated
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(sub.isNull());
    EXPECT_TRUE(alive.isNull());
}

// ---- test data ----

namespace {

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

QAction *entry(QMenu *menu, const QString &text)
{
    for (QAction *a : menu->actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

} // namespace

TEST_F(WindowTest, TestDataIsSavedAndLoadedThroughBothPopups)
{
    ScopedProgramDirectory dir;
    struct Dialog
    {
        QString caption, folder, filter;
        int calls = 0;
    } asked;
    QString answer;
    window->setOpenFileDialog(
        [&](QWidget *, const QString &caption, const QString &folder, const QString &filter) {
            asked = {caption, folder, filter, asked.calls + 1};
            return answer;
        });

    // An empty tree: nothing is written, the pane says why.
    entry(find<QMenu>("pmProject"), "保存测试数据(&S)...")->trigger();
    EXPECT_FALSE(QFileInfo::exists(dir.exam("VOK1.exm")));
    EXPECT_EQ(log(), QStringList({"工程中没有节点, 未保存测试数据"}));

    loadSample();
    TqzNode *head = window->project().TreeView->nodeAt(2); // 扬程, 32.5
    ASSERT_EQ(head->Name, "扬程");
    struct Row
    {
        const char *menu;
        QString file; // written as the next numbered set
    };
    for (const Row &row : {Row{"pmProject", "VOK1.exm"}, Row{"pmReport", "VOK2.exm"}}) {
        SCOPED_TRACE(row.menu);
        window->clearLog();
        entry(find<QMenu>(row.menu), "保存测试数据(&S)...")->trigger();
        EXPECT_TRUE(QFileInfo::exists(dir.exam(row.file)));
        ASSERT_EQ(log().size(), 1);
        EXPECT_TRUE(log().first().endsWith(row.file)) << log().first().toStdString();
    }

    // Load VOK1 back over changed values, through either popup; a cancelled dialog and a
    // damaged file change nothing.
    QFile damaged(dir.exam("VOK9.exm"));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("<?xml version=\"1.0\"?><root><broken");
    damaged.close();
    struct Load
    {
        const char *menu;
        QString answer;
        QString expected; // value of 扬程 in the node and its cell afterwards
        QString logStart; // "": the pane stays empty
    };
    for (const Load &row : {Load{"pmProject", "", "99", ""},
                            Load{"pmReport", dir.exam("VOK9.exm"), "99", "加载测试数据失败: "},
                            Load{"pmProject", dir.exam("VOK1.exm"), "32.5", "已加载测试数据 "}}) {
        SCOPED_TRACE(row.answer.toStdString());
        head->Value = "99";
        page(0)->SetTagValue("扬程", "99");
        window->clearLog();
        answer = row.answer;
        const int calls = asked.calls;
        entry(find<QMenu>(row.menu), "加载测试数据(&L)...")->trigger();
        EXPECT_EQ(asked.calls, calls + 1);
        EXPECT_EQ(asked.folder, QFileInfo(dir.exam("")).absolutePath());
        EXPECT_TRUE(asked.filter.contains("*.exm"));
        EXPECT_EQ(head->Value, row.expected);
        EXPECT_EQ(cellTagged(page(0), "扬程")->FCellText, row.expected);
        EXPECT_EQ(log().isEmpty(), row.logStart.isEmpty());
        EXPECT_TRUE(log().value(0, "").startsWith(row.logStart)) << log().join('|').toStdString();
    }
    EXPECT_TRUE(log().first().contains("VOK1.exm")) << log().first().toStdString();
}

TEST_F(WindowTest, AfterARunTheShownPaneHoldsTheLogAndTheWindowIsCaptured)
{
    loadSample();
    find<QAction>("mniViewMsg")->trigger();
    find<QAction>("mniViewManager")->trigger();
    click(page(0), "轴功率");
    find<QAction>("actCompileProject")->trigger();
    const QString text = find<QPlainTextEdit>("mmoMessage")->toPlainText();
    EXPECT_TRUE(text.startsWith("正在从报表中获取流程数据...\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\n编译完毕\n编译时间: ")) << text.toStdString();
    EXPECT_EQ(find<QTreeView>("tvProject")->selectionModel()->selectedRows().size(), 1);
    // The picture of the window after a run, for a person to look at.
    QTest::qWait(0);
    const QImage shot = frame.grab().toImage();
    ASSERT_FALSE(shot.isNull());
    // Beside the test program, in the build tree.
    EXPECT_TRUE(shot.save(QCoreApplication::applicationDirPath() + "/winide_after_run.png"));
}
