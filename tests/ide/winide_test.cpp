// The project window driven through its real widgets: cells clicked, popups and menus opened and
// chosen, the wheel turned, runs started by key and menu, progress and test data observed.

#include "projectfile.h"
#include "qzexcel.h"
#include "qzproject.h"
#include "qzreport.h"
#include "qztranslate.h"
#include "reportgrid/gridfixture.h"
#include "runprogress.h"
#include "winide.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QTabBar>
#include <QTest>
#include <QTreeView>

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
        {"actCompile_Node", "模块运行(&M)", "运行报表中选择的模块", "运行报表中选择的模块",
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
        if (!row.toolTip.isEmpty())
            EXPECT_EQ(a->toolTip(), row.toolTip);
        EXPECT_EQ(a->statusTip(), row.statusTip);
        EXPECT_EQ(a->shortcut(), row.shortcut);
    }
    EXPECT_EQ(window->objectName(), "fmWinIDE");
    EXPECT_EQ(window->windowTitle(), "流程集成开发环境");
    EXPECT_EQ(window->viewMenu()->title(), "查看(&V)");
    EXPECT_EQ(texts(window->viewMenu()->actions()).mid(0, 3),
              QStringList({"工程管理器(&P)", "信息框(&M)", "-"}));
    EXPECT_EQ(texts(find<QMenu>("pmReport")->actions()),
              QStringList({"模块运行(&M)", "运行当前页(&P)", "运行工程(&R)", "-",
                           "保存测试数据(&S)...", "加载测试数据(&L)..."}));
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
        {"an input node (no script): trigger only", 0, "[2][1][0][流量]", {"触发体: 流量"},
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
        if (!row.selected.isEmpty())
            EXPECT_EQ(selected.first().data().toString(), row.selected);
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
            QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(5, 5),
                                tabs->mapToGlobal(QPoint(5, 5)));
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
            if (view.width() >= p->width() + 50)
                EXPECT_EQ(p->x(), (content->width() - p->frameGeometry().width() - 20) / 2);
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
        int angle;  // vertical angle delta of one event; negative turns down
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
                QWheelEvent wheel(local, target->mapToGlobal(local), QPoint(),
                                  QPoint(0, row.angle), Qt::NoButton, Qt::NoModifier,
                                  Qt::NoScrollPhase, false);
                QApplication::sendEvent(target, &wheel);
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
    EXPECT_EQ(log(), QStringList({"名称: 扬程", "编码: H", "取值: 32.5", "单位: m", "脚本: ",
                                  "编码脚本: "}));
}

} // namespace
