// The tree panel as an author uses it: keys and drops edit the tree as undo steps, subtrees go
// from one window to another through the clipboard, the formula box colours and completes, and
// the page designer's steps undo to the page as it was.

#include "nodeeditor.h"
#include "projectfile.h"
#include "projecttree.h"
#include "qzexcel.h"
#include "qzproject.h"
#include "qzreport.h"
#include "qzworkbook.h"
#include "qzchart.h"
#include "reportgrid/gridfixture.h"
#include "winide.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCompleter>
#include <QDomDocument>
#include <QTabBar>
#include <QLabel>
#include <QMainWindow>
#include <QMimeData>
#include <QTest>
#include <QUndoStack>

#include <gtest/gtest.h>

using namespace tessarin;

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList &s, std::ostream *os)
{
    *os << '"' << s.join(u' ').toStdString() << '"';
}
QT_END_NAMESPACE

namespace {

const QString kSample = QStringLiteral(TESSARIN_TEST_DATA "/workbook/pump_sheets.flw");

QStringList outline(const TqzProjectTree &tree)
{
    QStringList out;
    for (int i = 0; i < tree.count(); ++i) {
        int depth = 0;
        for (int p = tree.parentIndex(i); p >= 0; p = tree.parentIndex(p))
            ++depth;
        out << QString(depth, u'.') + tree.nodeAt(i)->Name;
    }
    return out;
}

// Types `text` one character at a time, as a keyboard (or an input method) gives it; keyClicks
// cannot, as it sends characters beyond Latin-1 as NUL.
void typeText(QWidget *widget, const QString &text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, c.unicode() < 0x80 ? Qt::Key(QChar(c).toUpper().unicode()) : Qt::Key_unknown, QString(c), {});
}

class TreePanel : public ::testing::Test
{
protected:
    void SetUp() override
    {
        frame.resize(1100, 800);
        window = new TfmWinIDE;
        frame.setCentralWidget(window);
        window->startNewProject(QStringLiteral("新工程"));
        frame.show();
        QApplication::setActiveWindow(&frame);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
        tree = window->tvProject;
        // 面积 with 长度 and 宽度 below it, then 周长.
        key(Qt::Key_Insert);
        rename(QStringLiteral("面积"));
        key(Qt::Key_Insert, Qt::ControlModifier);
        rename(QStringLiteral("长度"));
        key(Qt::Key_Insert);
        rename(QStringLiteral("宽度"));
        select(0);
        key(Qt::Key_Insert);
        rename(QStringLiteral("周长"));
    }
    void key(int k, Qt::KeyboardModifiers modifiers = {})
    {
        tree->setFocus();
        // Keys without a character (Insert) have no ASCII form for keyClick.
        QTest::sendKeyEvent(QTest::Click, tree, Qt::Key(k), QString(), modifiers);
    }
    void rename(const QString &name)
    {
        QLineEdit *edit = window->pnlNodeProperties->edit(TqzNodeField::Name);
        edit->setFocus();
        edit->selectAll();
        typeText(edit, name);
        QTest::keyClick(edit, Qt::Key_Return);
    }
    void select(int i)
    {
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                          tree->visualRect(nodes().itemAt(i)).center());
    }
    const TqzProjectTree &nodes() const { return *window->project().TreeView; }
    QString current() const
    {
        const TqzNode *n = nodes().node(tree->currentIndex());
        return n ? n->Name : QString();
    }
    // Drops node `from` on the middle of node `on` (below the last node for -1).
    void drop(TqzNodeTreeView *target, int from, int on)
    {
        auto *mime = new QMimeData;
        const QModelIndex item = nodes().itemAt(from);
        mime->setData(kNodesMime, branchToXml(nodes(), item));
        mime->setData(kNodePlaceMime,
                      QByteArray::number(reinterpret_cast<quintptr>(&nodes())) + ':'
                          + QByteArray::number(from));
        const auto *model = qobject_cast<const TqzProjectTree *>(target->model());
        const QPoint at = on < 0 ? QPoint(5, target->viewport()->height() - 3)
                                 : target->visualRect(model->itemAt(on)).center();
        // What the drop event does; a platform drag cannot run in a test.
        EXPECT_TRUE(target->dropNodes(mime, at));
        delete mime;
    }

    gridtest::ScopedPrinterLayer noPrinter;
    QMainWindow frame;
    TfmWinIDE *window = nullptr;
    TqzNodeTreeView *tree = nullptr;
};

TEST_F(TreePanel, KeysAndDropsEditTheTreeAsUndoSteps)
{
    const QStringList built{"面积", ".长度", ".宽度", "周长"};
    EXPECT_EQ(outline(nodes()), built);
    EXPECT_TRUE(window->projectFile().EditedTree);

    struct Case
    {
        const char *what;
        std::function<void()> act;
        QStringList after;
        const char *selected;
    };
    const std::vector<Case> cases = {
        {"Alt+Up", [&] { select(2); key(Qt::Key_Up, Qt::AltModifier); }, {"面积", ".宽度", ".长度", "周长"}, "宽度"},
        {"Alt+Down", [&] { select(0); key(Qt::Key_Down, Qt::AltModifier); }, {"周长", "面积", ".长度", ".宽度"}, "面积"},
        {"Alt+Right", [&] { select(3); key(Qt::Key_Right, Qt::AltModifier); }, {"面积", ".长度", ".宽度", ".周长"}, "周长"},
        {"Alt+Left", [&] { select(1); key(Qt::Key_Left, Qt::AltModifier); }, {"面积", ".宽度", "长度", "周长"}, "长度"},
        {"Delete", [&] { select(0); key(Qt::Key_Delete); }, {"周长"}, "周长"},
        {"drop on a node", [&] { drop(tree, 1, 3); }, {"面积", ".宽度", "周长", ".长度"}, "长度"},
        {"drop below all", [&] { drop(tree, 0, -1); }, {"周长", "面积", ".长度", ".宽度"}, "面积"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const int steps = window->undoStack()->index();
        c.act();
        EXPECT_EQ(outline(nodes()), c.after);
        EXPECT_EQ(current(), QString::fromUtf8(c.selected));
        EXPECT_EQ(window->undoStack()->index(), steps + 1);
        window->undoStack()->undo();
        EXPECT_EQ(outline(nodes()), built);
    }

    // A drop into the node's own subtree is refused and said so; nothing changes.
    const int steps = window->undoStack()->index();
    drop(tree, 0, 1);
    EXPECT_EQ(outline(nodes()), built);
    EXPECT_EQ(window->undoStack()->index(), steps);
    EXPECT_TRUE(window->pnlNodeProperties->problem->text().contains(QStringLiteral("子节点之下")));
    EXPECT_TRUE(window->statusIsError());

    // Undoing every step leaves an empty tree that saves as it was: nothing to rewrite.
    while (window->undoStack()->canUndo())
        window->undoStack()->undo();
    EXPECT_EQ(nodes().count(), 0);
    EXPECT_EQ(window->projectFile().EditedTree, nullptr);
}

TEST_F(TreePanel, SubtreesGoToAnotherWindowByClipboardAndByDrop)
{
    QMainWindow otherFrame;
    auto *other = new TfmWinIDE;
    otherFrame.setCentralWidget(other);
    other->loadProjectFile(kSample);
    other->mniViewManager->setChecked(true); // 工程管理器: the tree panel is shown on request
    otherFrame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&otherFrame));
    const auto activate = [](QMainWindow &f) {
        QApplication::setActiveWindow(&f);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    };
    const int before = other->project().TreeView->count();

    activate(frame);
    select(0);
    key(Qt::Key_C, Qt::ControlModifier);
    activate(otherFrame);
    other->tvProject->setFocus();
    other->tvProject->setCurrentIndex({});
    QTest::sendKeyEvent(QTest::Click, other->tvProject, Qt::Key_V, QString(), Qt::ControlModifier);
    EXPECT_EQ(other->project().TreeView->count(), before + 3)
        << other->pnlNodeProperties->problem->text().toStdString();
    EXPECT_EQ(other->project().TreeView->nodeAt(before)->Name, QStringLiteral("面积"));
    // The same names twice are refused.
    QTest::sendKeyEvent(QTest::Click, other->tvProject, Qt::Key_V, QString(), Qt::ControlModifier);
    EXPECT_EQ(other->project().TreeView->count(), before + 3);
    EXPECT_TRUE(other->pnlNodeProperties->problem->text().contains(QStringLiteral("已有节点使用")));
    other->undoStack()->undo();
    EXPECT_EQ(other->project().TreeView->count(), before);

    // Dropped on the other window's tree, the subtree is copied there; this one keeps it.
    activate(frame);
    drop(other->tvProject, 3, -1);
    EXPECT_EQ(other->project().TreeView->count(), before + 1);
    EXPECT_EQ(other->project().TreeView->nodeAt(before)->Name, QStringLiteral("周长"));
    EXPECT_EQ(nodes().count(), 4);
}

TEST_F(TreePanel, FormulaBoxColoursCompletesAndConfirmsOnEnter)
{
    using K = TqzFormulaHighlighter::Kind;
    const QList<K> kinds = TqzFormulaHighlighter::classify(
        QStringLiteral("长度*sqrt(2.5e3)+\"长度\""), {QStringLiteral("长度")}, {QStringLiteral("sqrt")});
    const QList<K> expected{K::Name, K::Name, K::Operator, K::Function, K::Function, K::Function,
                            K::Function, K::Operator, K::Number, K::Number, K::Number, K::Number,
                            K::Number, K::Operator, K::Operator, K::Text, K::Text, K::Text, K::Text};
    EXPECT_EQ(kinds, expected);

    select(0);
    TqzFormulaEdit *formula = window->pnlNodeProperties->formula;
    formula->setFocus();
    typeText(formula, QStringLiteral("宽"));
    ASSERT_TRUE(formula->completer()->popup()->isVisible());
    EXPECT_EQ(formula->completer()->currentCompletion(), QStringLiteral("宽度"));
    QTest::keyClick(formula->completer()->popup(), Qt::Key_Return);
    EXPECT_EQ(formula->toPlainText(), QStringLiteral("宽度"));
    typeText(formula, QStringLiteral("*sq"));
    ASSERT_TRUE(formula->completer()->popup()->isVisible());
    QTest::keyClick(formula->completer()->popup(), Qt::Key_Return);
    EXPECT_EQ(formula->toPlainText(), QStringLiteral("宽度*sqrt"));
    typeText(formula, QStringLiteral("(长度)"));
    QTest::keyClick(formula, Qt::Key_Return);
    EXPECT_EQ(nodes().nodeAt(0)->Script, QStringLiteral("宽度*sqrt(长度)"));
    EXPECT_EQ(window->undoStack()->undoText(), QStringLiteral("修改 面积 的脚本"));
    // Shift+Enter breaks the line, for programs; Esc puts the node's formula back.
    QTest::keyClick(formula, Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_TRUE(formula->toPlainText().contains(u'\n'));
    QTest::keyClick(formula, Qt::Key_Escape);
    EXPECT_EQ(formula->toPlainText(), QStringLiteral("宽度*sqrt(长度)"));
}

TEST_F(TreePanel, DesignStepsUndoToThePageAsItWas)
{
    window->setDesignQuestion([](QWidget *, const QString &what, const QVariant &) -> QVariant {
        if (what == QLatin1String("table"))
            return QSize(3, 3);
        if (what == QLatin1String("colour"))
            return QColor(255, 255, 0);
        if (what == QLatin1String("format"))
            return QStringLiteral("0.00");
        return {};
    });
    TqzReport *page = window->excel().Pages.first();
    const auto act = [this](const char *name) {
        window->findChild<QAction *>(QString::fromLatin1(name))->trigger();
    };
    act("actNewTable");
    ASSERT_EQ(page->CountFLines(), 3);
    const auto selectCells = [page](int line, int first, int last) {
        page->RemoveAllSelectedCell();
        for (int c = first; c <= last; ++c)
            page->AddSelectedCell(page->CellFromRC(line, c));
        page->FLastSelectCell = page->CellFromRC(line, first);
    };
    QTest::mouseClick(page, Qt::LeftButton, {},
                      page->pageToWindow(page->CellFromRC(0, 0)->FCellRect).center());
    for (const char *step : {"actInsertLine", "actAddLine", "actDeleteLine", "actInsertCell",
                             "actAddCell", "actDeleteCell", "actCombineCell", "actAlignCenter",
                             "actBold", "actBackColor", "actDispFormat", "actNoBorders",
                             "actLeftBorder"}) {
        SCOPED_TRACE(step);
        selectCells(1, 0, QByteArray(step) == "actCombineCell" ? 1 : 0);
        const QByteArray before = savePageStream(*page);
        const int steps = window->undoStack()->index();
        act(step);
        EXPECT_NE(savePageStream(*page), before);
        EXPECT_EQ(window->undoStack()->index(), steps + 1);
        window->undoStack()->undo();
        EXPECT_EQ(savePageStream(*page), before);
    }
    // A column edge dragged with the mouse is one step too.
    {
        const QRect edge = page->pageToWindow(page->CellFromRC(0, 0)->FCellRect);
        const QPoint from(edge.right(), edge.center().y());
        const QByteArray before = savePageStream(*page);
        const int steps = window->undoStack()->index();
        QTest::mousePress(page, Qt::LeftButton, {}, from);
        QTest::qWait(20);
        QTest::mouseMove(page, from + QPoint(40, 0));
        QTest::mouseRelease(page, Qt::LeftButton, {}, from + QPoint(40, 0));
        QTest::qWait(20);
        EXPECT_NE(savePageStream(*page), before);
        ASSERT_EQ(window->undoStack()->index(), steps + 1);
        EXPECT_EQ(window->undoStack()->undoText(), QStringLiteral("调整行高列宽"));
        window->undoStack()->undo();
        EXPECT_EQ(savePageStream(*page), before);
    }
    // A step that needs selected cells, or more of them, says so and changes nothing.
    const QByteArray before = savePageStream(*page);
    const int steps = window->undoStack()->index();
    page->RemoveAllSelectedCell();
    act("actCombineCell");
    EXPECT_TRUE(window->statusText().contains(QStringLiteral("先选中")));
    selectCells(1, 0, 0);
    act("actCombineCell");
    EXPECT_TRUE(window->statusText().contains(QStringLiteral("没有改变")));
    EXPECT_EQ(savePageStream(*page), before);
    EXPECT_EQ(window->undoStack()->index(), steps);
}

// Tabs added, renamed, moved and removed, and a page's paper changed, each undo to the workbook as
// it was; the last tab cannot go.
TEST_F(TreePanel, TabEditsAndPageSetupUndoToTheWorkbookAsItWas)
{
    window->setDesignQuestion([](QWidget *, const QString &what, const QVariant &) -> QVariant {
        if (what == QLatin1String("tab name"))
            return QStringLiteral("数据表");
        if (what == QLatin1String("setup"))
            return QVariantList{8, 2, 10, 10, 10, 10}; // A3 landscape
        return {};
    });
    TqzWorkbook &book = window->excel().workbook();
    const auto state = [&book] {
        QDomDocument doc;
        QDomElement element = doc.createElement("TqzExcel");
        doc.appendChild(element);
        book.SaveToXML(element);
        return doc.toString(-1);
    };
    const auto act = [this](QAction *action) { action->trigger(); };
    const QString initial = state();
    const int steps = window->undoStack()->index();

    act(window->actAddTab);
    EXPECT_EQ(book.PageNames, QStringList({"默认页", "新页1"}));
    EXPECT_EQ(book.pageCount(), 2);
    EXPECT_EQ(window->tsShowPages->currentIndex(), 1);
    act(window->actRenameTab);
    EXPECT_EQ(book.PageNames, QStringList({"默认页", "数据表"}));
    act(window->actTabLeft);
    EXPECT_EQ(book.PageNames, QStringList({"数据表", "默认页"}));
    EXPECT_EQ(book.page(0)->OwnerIndex, 0);
    EXPECT_EQ(book.page(0)->CountFLines(), 0); // the new, empty page prints first now
    act(window->actTabLeft);
    EXPECT_TRUE(window->statusText().contains(QStringLiteral("最左边")));
    act(window->actRemoveTab);
    EXPECT_EQ(book.PageNames, QStringList({"默认页"}));
    EXPECT_EQ(book.pageCount(), 1);
    act(window->actRemoveTab);
    EXPECT_TRUE(window->statusText().contains(QStringLiteral("至少")));
    EXPECT_EQ(window->undoStack()->index(), steps + 4);

    TqzReport *page = window->excel().Pages.first();
    const QByteArray portrait = savePageStream(*page);
    const int width = page->page().FPageWidth;
    window->findChild<QAction *>("actPageSetup")->trigger();
    EXPECT_EQ(page->page().FOrientation, 2);
    EXPECT_EQ(page->page().FPaperSize, 8);
    EXPECT_GT(page->page().FPageWidth, 2 * width);
    window->undoStack()->undo();
    EXPECT_EQ(savePageStream(*window->excel().Pages.first()), portrait);
    EXPECT_EQ(window->excel().Pages.first()->page().FPageWidth, width);

    while (window->undoStack()->index() > steps)
        window->undoStack()->undo();
    EXPECT_EQ(state(), initial);
    EXPECT_EQ(window->tsShowPages->count(), 1);
}

// A chart inserted over selected cells is computed at once, and its insertion undoes; a chart
// asked for with nothing to plot is refused and says why.
TEST_F(TreePanel, ChartInsertedOverTheSelectionIsOneStep)
{
    TqzTreeEditor &edit = window->treeEditor();
    edit.setField(nodes().itemAt(0), TqzNodeField::Script, QStringLiteral("长度*宽度"));
    edit.setField(nodes().itemAt(2), TqzNodeField::Value, QStringLiteral("3"));
    QVariantMap asked;
    QVariantMap answer{{"title", ""}, {"input", "长度"}, {"from", "1"}, {"to", "5"},
                       {"points", 5}, {"outputs", QStringList{"面积"}}};
    window->setDesignQuestion([&](QWidget *, const QString &what, const QVariant &current) {
        if (what == QLatin1String("table"))
            return QVariant(QSize(4, 6));
        asked = current.toMap();
        return QVariant(answer);
    });
    TqzReport *page = window->excel().Pages.first();
    window->findChild<QAction *>("actNewTable")->trigger();
    page->RemoveAllSelectedCell();
    for (int line = 1; line <= 4; ++line)
        for (int cell = 0; cell < 4; ++cell)
            page->AddSelectedCell(page->CellFromRC(line, cell));
    QTest::mouseClick(page, Qt::LeftButton, Qt::ShiftModifier,
                      page->pageToWindow(page->CellFromRC(4, 3)->FCellRect).center());
    const int steps = window->undoStack()->index();
    window->findChild<QAction *>("actInsertChart")->trigger();
    EXPECT_EQ(asked.value("inputs").toStringList(), QStringList({"周长", "宽度", "长度"}));
    EXPECT_EQ(asked.value("results").toStringList(), QStringList{"面积"});
    TqzWorkbook &book = window->excel().workbook();
    ASSERT_EQ(book.charts().size(), 1);
    const TqzChart chart = book.charts().first();
    EXPECT_EQ(chart.title, QStringLiteral("面积 - 长度"));
    EXPECT_EQ(chart.last.line - chart.first.line, 3);
    ASSERT_EQ(chart.series.size(), 1);
    EXPECT_EQ(chart.series.first().values, (std::vector<double>{3, 6, 9, 12, 15}));
    EXPECT_EQ(window->undoStack()->index(), steps + 1);
    if (const QString shots = qEnvironmentVariable("TESSARIN_SHOT_DIR"); !shots.isEmpty())
        page->grab().save(shots + QStringLiteral("/chart-inserted.png"));
    window->undoStack()->undo();
    EXPECT_TRUE(book.charts().isEmpty());
    window->undoStack()->redo();
    EXPECT_EQ(book.charts().size(), 1);

    // The undo put a new view on the page: nothing is selected there yet.
    window->findChild<QAction *>("actInsertChart")->trigger();
    EXPECT_TRUE(window->statusText().contains(QStringLiteral("先选中")));
    answer["outputs"] = QStringList();
    TqzReport *shown = window->excel().Pages.first();
    QTest::mouseClick(shown, Qt::LeftButton, {},
                      shown->pageToWindow(shown->CellFromRC(0, 0)->FCellRect).center());
    window->findChild<QAction *>("actInsertChart")->trigger();
    EXPECT_TRUE(window->statusText().contains(QStringLiteral("须选")));
    EXPECT_EQ(book.charts().size(), 1);
}

// A node renamed in the panel takes its uses along in one step: the formulas that use the name
// (not a longer name holding it, not a string literal) and the cells bound to it.
TEST_F(TreePanel, RenameTakesFormulasAndBoundCellsAlongInOneStep)
{
    TqzTreeEditor &edit = window->treeEditor();
    const QModelIndex factor = edit.addChild({});
    edit.setField(factor, TqzNodeField::Name, QStringLiteral("长度系数"));
    edit.setField(nodes().itemAt(0), TqzNodeField::Script, QStringLiteral("长度*宽度*长度系数"));
    edit.setField(nodes().itemAt(3), TqzNodeField::Script,
                  QStringLiteral("2*(长度+宽度)*require(长度, \"长度为零\")"));
    window->setDesignQuestion([](QWidget *, const QString &, const QVariant &) {
        return QVariant(QSize(2, 2));
    });
    window->findChild<QAction *>("actNewTable")->trigger();
    TqzReport *page = window->excel().Pages.first();
    page->CellFromRC(0, 1)->FTagID = QStringLiteral("[2][1][0][长度]");
    page->CellFromRC(1, 1)->FTagID = QStringLiteral("长度");
    const QStringList scripts{nodes().nodeAt(0)->Script, nodes().nodeAt(3)->Script};
    const int steps = window->undoStack()->index();

    select(1);
    rename(QStringLiteral("边长"));
    EXPECT_EQ(nodes().nodeAt(1)->Name, QStringLiteral("边长"));
    EXPECT_EQ(nodes().nodeAt(0)->Script, QStringLiteral("边长*宽度*长度系数"));
    EXPECT_EQ(nodes().nodeAt(3)->Script, QStringLiteral("2*(边长+宽度)*require(边长, \"长度为零\")"));
    EXPECT_EQ(page->CellFromRC(0, 1)->FTagID, QStringLiteral("[2][1][0][边长]"));
    EXPECT_EQ(page->CellFromRC(1, 1)->FTagID, QStringLiteral("边长"));
    EXPECT_EQ(window->undoStack()->index(), steps + 1);
    EXPECT_EQ(window->undoStack()->undoText(), QStringLiteral("重命名 长度 为 边长"));

    window->undoStack()->undo();
    EXPECT_EQ(nodes().nodeAt(1)->Name, QStringLiteral("长度"));
    EXPECT_EQ((QStringList{nodes().nodeAt(0)->Script, nodes().nodeAt(3)->Script}), scripts);
    TqzReport *shown = window->excel().Pages.first();
    EXPECT_EQ(shown->CellFromRC(0, 1)->FTagID, QStringLiteral("[2][1][0][长度]"));
    EXPECT_EQ(shown->CellFromRC(1, 1)->FTagID, QStringLiteral("长度"));
}

} // namespace
