// Table editing of a report page, checked through the page's resulting structure and layout.

#include "error.h"
#include "gridfixture.h"
#include "logfont.h"
#include "reportcontrol.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QMouseEvent>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace tessarin;

namespace {

using Positions = std::vector<std::pair<int, int>>;

// The page as text: per cell "left+width", its text in quotes and, when covered, "^line.cell"
// of its master; lines separated by " | ".
std::string describe(const TReportControl &page)
{
    QStringList lines;
    for (int l = 0; l < page.lineCount(); ++l) {
        QStringList cells;
        for (int c = 0; c < page.line(l)->cellCount(); ++c) {
            const TReportCell *cell = page.line(l)->cell(c);
            QString s = QStringLiteral("%1+%2").arg(cell->FCellLeft).arg(cell->FCellWidth);
            if (!cell->FCellText.isEmpty())
                s += QStringLiteral("'%1'").arg(cell->FCellText);
            if (const TReportCell *m = cell->FOwnerCell)
                s += QStringLiteral("^%1.%2").arg(m->FOwnerLine->FIndex).arg(m->FCellIndex);
            cells << s;
        }
        lines << cells.join(u' ');
    }
    return lines.join(QStringLiteral(" | ")).toStdString();
}

class TableEdit : public ::testing::Test
{
protected:
    TableEdit()
    {
        page.messageBoxHook = [this](const QString &text, const QString &caption) {
            warnings << caption + u'|' + text;
        };
    }

    TReportCell *at(int line, int cell) const { return page.CellFromRC(line, cell); }
    void select(const Positions &cells)
    {
        page.RemoveAllSelectedCell();
        for (auto [l, c] : cells)
            page.SetCellFocus(l, c);
    }
    // A table whose cells hold their positions as text ("00", "01", ...).
    void labelledTable(int cols, int rows)
    {
        page.NewTable(cols, rows);
        for (int l = 0; l < rows; ++l)
            for (int c = 0; c < cols; ++c)
                page.SetCallText(l, c, QStringLiteral("%1%2").arg(l).arg(c));
        page.UpdateLines();
    }
    // A line of empty cells: one text line of the default font plus one-pixel borders.
    static int emptyLineHeight()
    {
        return QFontMetrics(fontFromLogFont(defaultCellFont())).height() + 4;
    }
    int bottomOf(int line) const { return page.line(line)->FLineRect.bottom; }

    // No printer: a 768 x 1058 page at 96 dots per inch.
    gridtest::ScopedPrinterLayer printer;
    TReportControl page;
    QStringList warnings;
};

TEST_F(TableEdit, NewTableSpansPrintableWidthOfPage)
{
    page.NewTable(4, 3);
    const std::string line = "77+163 240+163 403+163 566+163";
    EXPECT_EQ(describe(page), line + " | " + line + " | " + line);
    const int h = emptyLineHeight();
    EXPECT_EQ(at(2, 3)->FCellRect, (TRect{566, 77 + 2 * h, 729, 77 + 3 * h}));

    // The same page width at another zoom; a single line is laid out as well.
    page.ResetContent();
    page.SetScale(200);
    page.NewTable(2, 1);
    EXPECT_EQ(describe(page), "77+327 404+327");
    EXPECT_EQ(at(0, 1)->FCellRect, (TRect{404, 77, 731, 77 + h}));
    EXPECT_TRUE(warnings.isEmpty());
}

TEST_F(TableEdit, NewTableRefusals)
{
    EXPECT_THROW(page.NewTable(0, 3), Error);
    EXPECT_THROW(page.NewTable(3, 0), Error);
    page.AddLine(); // no last line to copy
    EXPECT_EQ(page.CountFLines(), 0);
    labelledTable(2, 2);
    const std::string before = describe(page);
    page.NewTable(5, 5);
    EXPECT_EQ(describe(page), before);
    EXPECT_EQ(warnings, QStringList{QStringLiteral("警告|关闭正在编辑的报表后，才能建立新表格。")});
}

TEST_F(TableEdit, CombineTwoByTwoBlockThenSplitIt)
{
    labelledTable(4, 3);
    page.SetCellSFocus(0, 0, 1, 1);
    page.CombineCell();
    const std::string rest = " 403+163'02' 566+163'03' | 77+326^0.0 403+163'12' 566+163'13'"
                             " | 77+163'20' 240+163'21' 403+163'22' 566+163'23'";
    EXPECT_EQ(describe(page), "77+326'0010'" + rest);
    EXPECT_EQ(page.FSelectCells, QList<TReportCell *>{at(0, 0)});
    EXPECT_EQ(at(0, 0)->FCellRect, (TRect{77, 77, 403, bottomOf(1)}));
    EXPECT_EQ(page.GetCallText(1, 0), QString());

    page.AddSelectedCell(at(0, 2));
    page.SplitCell(); // two cells selected
    select({{0, 0}});
    page.SplitCell();
    std::string split = rest;
    split.erase(split.find("^0.0"), 4);
    EXPECT_EQ(describe(page), "77+326'0010'" + split);
    EXPECT_EQ(at(0, 0)->FCellRect.bottom, bottomOf(0));
    EXPECT_EQ(page.FSelectCells, QList<TReportCell *>{at(0, 0)});
}

TEST_F(TableEdit, CombineTakesSelectedBlocksWithTheirCoveredCells)
{
    for (bool coveredSelectedToo : {false, true}) {
        page.ResetContent();
        labelledTable(3, 2);
        select({{0, 0}, {1, 0}});
        page.CombineCell();
        if (coveredSelectedToo)
            page.SetCellSFocus(0, 0, 1, 1);
        else
            select({{0, 0}, {0, 1}, {1, 1}});
        page.CombineCell();
        EXPECT_EQ(describe(page), "77+436'0010' 513+218'02' | 77+436^0.0 513+218'12'");
    }
}

class CombineRefusal : public TableEdit, public ::testing::WithParamInterface<Positions>
{};

TEST_P(CombineRefusal, LeavesPageAndSelectionAlone)
{
    labelledTable(4, 3);
    select({{0, 3}, {1, 3}});
    page.CombineCell(); // a block in the last column over lines 0 and 1
    select(GetParam());
    const std::string before = describe(page);
    const QList<TReportCell *> selection = page.FSelectCells;
    page.CombineCell();
    EXPECT_EQ(describe(page), before);
    EXPECT_EQ(page.FSelectCells, selection);
}

INSTANTIATE_TEST_SUITE_P(
    Selections, CombineRefusal,
    ::testing::Values(Positions{{0, 0}}, Positions{{0, 0}, {0, 1}, {1, 0}}, // L shapes
                      Positions{{0, 0}, {1, 0}, {1, 1}},
                      Positions{{0, 0}, {2, 0}},                 // lines not adjacent
                      Positions{{0, 0}, {0, 2}},                 // gap inside a line
                      Positions{{1, 2}, {1, 3}},                 // covered cell, no master
                      Positions{{1, 2}, {2, 2}, {1, 3}, {2, 3}}, // block cut through
                      Positions{{0, 2}, {0, 3}}));               // block reaching below

TEST_F(TableEdit, SplitMasterGetsTheHeightOfItsMergedText)
{
    page.NewTable(2, 2);
    const QString words = QStringLiteral("离心泵 设计 扬程 流量 轴功率 效率 汽蚀余量 ");
    page.SetCallText(0, 0, words + words);
    page.SetCallText(1, 0, words);
    select({{0, 0}, {1, 0}});
    page.CombineCell();
    page.SplitCell();
    const TReportCell *cell = at(0, 0);
    const TRect box{cell->FCellLeft + 5, 0, cell->FCellLeft + cell->FCellWidth - 5, 65535};
    const int text = CellTextLayout::measure(cell->cellFont(), box, cell->FCellText, 0).height();
    ASSERT_GT(text, 2 * QFontMetrics(cell->cellFont()).height());
    EXPECT_EQ(page.line(0)->GetLineHeight(), text + 4);
    EXPECT_EQ(page.line(1)->GetLineHeight(), emptyLineHeight());
}

TEST_F(TableEdit, VSplitPiecesFromLeftToRight)
{
    const struct
    {
        int width, count;
        std::string expected; // the split cell keeps the text; its right neighbour follows
    } cases[] = {{100, 3, "77+33'X' 110+34 144+33 177+327"},
                 {30, 10, "77+10'X' 87+10 97+10 107+327"},
                 {50, 9, "77+12'X' 89+14 103+12 115+12 127+327"},
                 {24, 5, "77+12'X' 89+12 101+327"},
                 {100, 1, "77+100'X' 177+327"}};
    for (const auto &c : cases) {
        page.ResetContent();
        page.NewTable(2, 1);
        at(0, 0)->SetCellWidth(c.width);
        page.SetCallText(0, 0, QStringLiteral("X"));
        page.UpdateLines();
        select({{0, 0}});
        page.VSplitCell(c.count);
        EXPECT_EQ(describe(page), c.expected) << c.width << " / " << c.count;
        EXPECT_EQ(page.FSelectCells, QList<TReportCell *>{at(0, 0)});
    }
}

TEST_F(TableEdit, VSplitOfMasterMakesBlocksAndRefusesCoveredCells)
{
    page.NewTable(2, 2);
    select({{0, 0}, {1, 0}});
    page.CombineCell();
    EXPECT_THROW(page.VSplitCell(0), Error);
    select({{1, 0}});
    page.VSplitCell(3);
    select({{0, 0}});
    page.VSplitCell(3); // 327 pixels: three pieces of 109
    EXPECT_EQ(describe(page), "77+109 186+109 295+109 404+327"
                              " | 77+109^0.0 186+109^0.1 295+109^0.2 404+327");
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(at(0, c)->FCellRect.bottom, bottomOf(1)) << c;
}

TEST_F(TableEdit, LinesAddedToDeletedFromAndInsertedIntoBlocks)
{
    labelledTable(2, 2);
    select({{0, 0}, {1, 0}});
    page.CombineCell();
    TReportCell *master = at(0, 0);
    page.AddSelectedCell(at(0, 1));
    page.AddLine(); // two cells selected
    page.RemoveAllSelectedCell();
    page.AddLine();
    EXPECT_EQ(describe(page), "77+327'0010' 404+327'01' | 77+327^0.0 404+327'11'"
                              " | 77+327^0.0 404+327");
    EXPECT_EQ(master->FCellRect.bottom, bottomOf(2));

    select({{1, 1}});
    page.InsertLine(); // inside the block: joins it before the covered cell it copies
    EXPECT_EQ(master->FCellsList, (QList<TReportCell *>{at(1, 0), at(2, 0), at(3, 0)}));
    select({{0, 1}});
    page.InsertLine(); // above the master: an ordinary line
    EXPECT_FALSE(at(0, 0)->isOwned());
    EXPECT_EQ(master->FCellRect, (TRect{77, page.line(1)->FLineTop, 404, bottomOf(4)}));

    select({{4, 1}});
    page.DeleteLine(); // the lowest covered line: the block shrinks
    EXPECT_EQ(master->FCellRect.bottom, bottomOf(3));
    select({{1, 1}});
    page.DeleteLine(); // the master's line: the block dissolves
    EXPECT_EQ(describe(page), "77+327 404+327 | 77+327 404+327 | 77+327 404+327'11'");
    EXPECT_TRUE(page.FSelectCells.isEmpty());
}

TEST_F(TableEdit, CellsAddedBesideBlocksStayOutsideThem)
{
    labelledTable(2, 2);
    at(0, 1)->SetBottomLineWidth(3);
    select({{0, 0}});
    page.AddCell();
    page.InsertCell();
    EXPECT_EQ(describe(page), "77+327 404+327'00' 731+327'01' 1058+327 | 77+327'10' 404+327'11'");
    EXPECT_EQ(at(0, 3)->FBottomLineWidth, 3);

    page.ResetContent();
    page.NewTable(2, 2);
    select({{0, 1}, {1, 1}});
    page.CombineCell();
    select({{1, 0}});
    page.AddCell(); // the last cell of the line is covered by the block
    select({{1, 1}});
    page.InsertCell(); // the covered cell itself, selected by position
    EXPECT_EQ(describe(page), "77+327 404+327 | 77+327 404+327 731+327^0.1 1058+327");
    EXPECT_EQ(at(0, 1)->FCellRect.bottom, bottomOf(1));
}

TEST_F(TableEdit, DeleteCellRemovesEmptiedLinesAndWholeBlocks)
{
    labelledTable(2, 4);
    select({{1, 0}, {1, 1}});
    page.DeleteCell();
    EXPECT_EQ(describe(page), "77+327'00' 404+327'01' | 77+327'20' 404+327'21'"
                              " | 77+327'30' 404+327'31'");
    EXPECT_EQ(page.line(1)->FLineTop, 77 + emptyLineHeight());
    select({{0, 1}, {1, 1}});
    page.CombineCell();
    select({{0, 0}, {0, 1}}); // the master takes its covered cell along
    page.DeleteCell();
    EXPECT_EQ(describe(page), "77+327'20' | 77+327'30' 404+327'31'");
    EXPECT_TRUE(page.FSelectCells.isEmpty());
    EXPECT_EQ(page.FLastSelectCell, nullptr);
}

TEST_F(TableEdit, FormatsAndPositionalAccess)
{
    page.NewTable(3, 2);
    select({{0, 1}});
    LOGFONT big = defaultCellFont();
    big.lfHeight = -40;
    page.SetCellFont(big);
    EXPECT_EQ(page.line(0)->GetLineHeight(), QFontMetrics(fontFromLogFont(big)).height() + 4);
    select({{1, 0}, {1, 2}});
    page.SetCellLines(false, true, false, true, 1, 4, 1, 5);
    EXPECT_EQ(page.line(1)->GetLineHeight(), emptyLineHeight() + 7);
    EXPECT_EQ(page.line(1)->FLineTop, bottomOf(0));

    EXPECT_THROW(page.CountFcells(2), Error);
    EXPECT_THROW(page.GetCallText(0, 3), Error);
    EXPECT_THROW(page.SetCallText(-1, 0, QStringLiteral("x")), Error);
    EXPECT_THROW(page.SetLineHegit(2, 40), Error);
}

TEST_F(TableEdit, EditBoxFollowsFormatsAndClosesOnStructuralEdits)
{
    page.NewTable(2, 2);
    page.show();
    const QPoint inCell = at(1, 0)->cellRect().center();
    QMouseEvent dbl(QEvent::MouseButtonDblClick, inCell, page.mapToGlobal(inCell),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&page, &dbl);
    ASSERT_TRUE(page.isEditing());
    select({{1, 0}});
    LOGFONT big = defaultCellFont();
    big.lfHeight = -40;
    page.SetCellFont(big);
    ASSERT_TRUE(page.isEditing());
    const QRect text = page.pageToWindow(at(1, 0)->FTextRect);
    EXPECT_EQ(page.FEditWnd->geometry().top(), text.top());
    EXPECT_EQ(page.FEditWnd->geometry().bottom(), text.bottom());
    page.InsertLine();
    EXPECT_FALSE(page.isEditing());
    EXPECT_EQ(page.FEditCell, nullptr);
}

TEST_F(TableEdit, MergedAndSplitCellsDrawClosedGrid)
{
    page.NewTable(4, 4);
    page.SetCellSFocus(0, 0, 1, 1);
    page.CombineCell();
    page.SetCallText(0, 0, QStringLiteral("合并单元格 merged"));
    select({{2, 2}});
    page.VSplitCell(3);
    page.UpdateLines();
    page.RemoveAllSelectedCell();

    const QImage image = page.grab().toImage();
    if (qEnvironmentVariableIsSet("TESSARIN_EDIT_PNG"))
        image.save(qEnvironmentVariable("TESSARIN_EDIT_PNG"));
    const auto black = [&](int x, int y) { return image.pixelColor(x, y) == QColor(Qt::black); };
    const TRect block = at(0, 0)->FCellRect;
    EXPECT_FALSE(black(block.right - 20, bottomOf(0))); // nothing crosses the block
    EXPECT_FALSE(black(240, block.top + 3));
    for (int x : {block.left, block.right})
        EXPECT_TRUE(black(x, bottomOf(0))) << x;
    for (int y : {block.top, block.bottom})
        EXPECT_TRUE(black(block.left + 10, y)) << y;
    for (int c = 2; c <= 5; ++c) { // every piece is closed on both sides
        const TRect r = at(2, c)->FCellRect;
        EXPECT_TRUE(black(r.left, r.top + 3) && black(r.right, r.bottom - 3)) << c;
    }
}

} // namespace
