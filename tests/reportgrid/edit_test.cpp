// Table editing of a report page: building tables, merging and splitting, adding and deleting
// lines and cells, formats and positional access, checked through the page's resulting layout.

#include "error.h"
#include "logfont.h"
#include "printerlayer.h"
#include "reportcontrol.h"

#include <QFontMetrics>
#include <QImage>

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

using namespace tessarin;

namespace {

using Positions = std::vector<std::pair<int, int>>;

// Pages sized as without a printer (768 x 1058 at 96 dots per inch) while the object lives.
class NoPrinter
{
public:
    NoPrinter()
        : m_previous(setPrinterLayer(std::make_unique<FixedPrinterLayer>()))
    {}
    ~NoPrinter() { setPrinterLayer(std::move(m_previous)); }

private:
    std::unique_ptr<PrinterLayer> m_previous;
};

// The page structure as text: per line "left+width", the text in quotes, and for a covered
// cell "^line.cell" of its master; lines separated by " | ".
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
    // Height of a line of empty cells with the default font and one-pixel borders.
    int emptyLineHeight() const
    {
        return QFontMetrics(fontFromLogFont(defaultCellFont())).height() + 4;
    }
    int lineBottom(int line) const
    {
        return page.line(line)->FLineTop + page.line(line)->GetLineHeight();
    }

    NoPrinter printer;
    TReportControl page;
    QStringList warnings;
};

// ---- NewTable ----

TEST_F(TableEdit, NewTableFourByThreeOnEmptyPage)
{
    page.NewTable(4, 3);
    const std::string line = "77+163 240+163 403+163 566+163";
    EXPECT_EQ(describe(page), line + " | " + line + " | " + line);
    const int h = emptyLineHeight();
    for (int l = 0; l < 3; ++l)
        EXPECT_EQ(page.line(l)->FLineTop, 77 + l * h) << l;
    EXPECT_EQ(at(2, 3)->FCellRect, (TRect{566, 77 + 2 * h, 729, 77 + 3 * h}));
    EXPECT_TRUE(warnings.isEmpty());
}

TEST_F(TableEdit, NewTableUsesPageWidthAtAnyZoomAndLaysOutSingleLine)
{
    page.SetScale(200);
    page.NewTable(2, 1);
    EXPECT_EQ(describe(page), "77+327 404+327");
    EXPECT_EQ(page.line(0)->GetLineHeight(), emptyLineHeight());
    EXPECT_EQ(at(0, 1)->FCellRect, (TRect{404, 77, 731, 77 + emptyLineHeight()}));
}

TEST_F(TableEdit, NewTableOnPageWithLinesOnlyWarns)
{
    labelledTable(2, 2);
    const std::string before = describe(page);
    page.NewTable(5, 5);
    EXPECT_EQ(describe(page), before);
    EXPECT_EQ(warnings, QStringList{QStringLiteral("警告|关闭正在编辑的报表后，才能建立新表格。")});

    page.ResetContent();
    EXPECT_EQ(page.CountFLines(), 0);
    EXPECT_TRUE(page.FSelectCells.isEmpty());
    page.NewTable(1, 1);
    EXPECT_EQ(page.CountFLines(), 1);
    EXPECT_EQ(warnings.size(), 1);
}

TEST_F(TableEdit, NewTableRefusesEmptyDimensions)
{
    EXPECT_THROW(page.NewTable(0, 3), Error);
    EXPECT_THROW(page.NewTable(3, 0), Error);
    EXPECT_EQ(page.CountFLines(), 0);
}

// ---- CombineCell ----

TEST_F(TableEdit, CombineTwoByTwoBlock)
{
    labelledTable(4, 3);
    page.SetCellSFocus(0, 0, 1, 1);
    page.CombineCell();
    EXPECT_EQ(describe(page), "77+326'0010' 403+163'02' 566+163'03'"
                              " | 77+326^0.0 403+163'12' 566+163'13'"
                              " | 77+163'20' 240+163'21' 403+163'22' 566+163'23'");
    EXPECT_EQ(page.FSelectCells, QList<TReportCell *>{at(0, 0)});
    EXPECT_EQ(at(0, 0)->FCellRect, (TRect{77, 77, 403, lineBottom(1)}));
    EXPECT_EQ(page.GetCallText(0, 0), QStringLiteral("0010"));
    EXPECT_EQ(page.GetCallText(1, 0), QString());
}

TEST_F(TableEdit, CombineTakesSelectedBlocksWithTheirCoveredCells)
{
    for (bool coveredSelectedToo : {false, true}) {
        page.ResetContent();
        labelledTable(3, 2);
        select({{0, 0}, {1, 0}});
        page.CombineCell();
        if (coveredSelectedToo)
            page.SetCellSFocus(0, 0, 1, 1); // master, covered cell and the column beside
        else
            select({{0, 0}, {0, 1}, {1, 1}});
        page.CombineCell();
        EXPECT_EQ(describe(page), "77+436'0010' 513+218'02' | 77+436^0.0 513+218'12'");
        EXPECT_EQ(page.FSelectCells, QList<TReportCell *>{at(0, 0)});
    }
}

class CombineRefusal : public TableEdit, public ::testing::WithParamInterface<Positions>
{};

TEST_P(CombineRefusal, LeavesPageAndSelectionAlone)
{
    labelledTable(4, 3);
    select({{0, 3}, {1, 3}});
    page.CombineCell(); // a block in the last column, lines 0 and 1
    select(GetParam());
    const std::string before = describe(page);
    const QList<TReportCell *> selection = page.FSelectCells;
    page.CombineCell();
    EXPECT_EQ(describe(page), before);
    EXPECT_EQ(page.FSelectCells, selection);
}

INSTANTIATE_TEST_SUITE_P(
    Selections, CombineRefusal,
    ::testing::Values(Positions{{0, 0}},                         // one cell
                      Positions{{0, 0}, {0, 1}, {1, 0}},         // L shape
                      Positions{{0, 0}, {1, 0}, {1, 1}},         // L shape the other way
                      Positions{{0, 0}, {2, 0}},                 // lines not adjacent
                      Positions{{0, 0}, {0, 2}},                 // gap inside a line
                      Positions{{1, 2}, {1, 3}},                 // covered cell without master
                      Positions{{1, 2}, {2, 2}, {1, 3}, {2, 3}}, // block cut through
                      Positions{{0, 2}, {0, 3}}));               // block reaching below

// ---- SplitCell ----

TEST_F(TableEdit, SplitUndoesOnlyTheVerticalMerge)
{
    labelledTable(4, 3);
    page.SetCellSFocus(0, 0, 1, 1);
    page.CombineCell();
    page.AddSelectedCell(at(0, 2));
    page.SplitCell(); // two cells selected: refused
    EXPECT_EQ(at(0, 0)->GetOwnedCellCount(), 1);

    select({{0, 0}});
    page.SplitCell();
    EXPECT_EQ(describe(page), "77+326'0010' 403+163'02' 566+163'03'"
                              " | 77+326 403+163'12' 566+163'13'"
                              " | 77+163'20' 240+163'21' 403+163'22' 566+163'23'");
    EXPECT_EQ(page.FSelectCells, QList<TReportCell *>{at(0, 0)});
    EXPECT_EQ(at(0, 0)->FCellRect.bottom, lineBottom(0));
    EXPECT_FALSE(page.CanSplit());
}

TEST_F(TableEdit, SplitMasterNeedsTheHeightOfItsMergedText)
{
    page.NewTable(2, 2);
    const QString words = QStringLiteral("离心泵 设计 扬程 流量 轴功率 效率 汽蚀余量 ");
    page.SetCallText(0, 0, words + words);
    page.SetCallText(1, 0, words + words);
    select({{0, 0}, {1, 0}});
    page.CombineCell();
    page.SplitCell();

    const TReportCell *cell = at(0, 0);
    const TRect box{cell->FCellLeft + 5, cell->GetCellTop() + 2,
                    cell->FCellLeft + cell->FCellWidth - 5, 65535};
    const int textHeight =
        CellTextLayout::measure(cell->cellFont(), box, cell->FCellText, 0).height();
    ASSERT_GT(textHeight, 2 * QFontMetrics(cell->cellFont()).height());
    EXPECT_EQ(page.line(0)->GetLineHeight(), textHeight + 4);
    EXPECT_EQ(page.line(1)->GetLineHeight(), emptyLineHeight());
}

// ---- VSplitCell ----

struct VSplitCase
{
    int width;
    int count;
    std::vector<int> widths; // left to right after the split
};

class VSplit : public TableEdit, public ::testing::WithParamInterface<VSplitCase>
{};

TEST_P(VSplit, PiecesWidthsFromLeftToRight)
{
    const VSplitCase &c = GetParam();
    page.NewTable(2, 1);
    at(0, 0)->SetCellWidth(c.width);
    page.SetCallText(0, 0, QStringLiteral("X"));
    page.UpdateLines();
    select({{0, 0}});
    page.VSplitCell(c.count);

    const int n = static_cast<int>(c.widths.size());
    ASSERT_EQ(page.CountFcells(0), n + 1);
    int left = 77;
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(at(0, i)->FCellWidth, c.widths[static_cast<size_t>(i)]) << i;
        EXPECT_EQ(at(0, i)->FCellLeft, left) << i;
        EXPECT_EQ(page.GetCallText(0, i), i == 0 ? QStringLiteral("X") : QString()) << i;
        left += at(0, i)->FCellWidth;
    }
    EXPECT_EQ(at(0, n)->FCellLeft, left); // the neighbour moved up to the last piece
    EXPECT_EQ(page.FSelectCells, QList<TReportCell *>{at(0, 0)});
}

INSTANTIATE_TEST_SUITE_P(Widths, VSplit,
                         ::testing::Values(VSplitCase{100, 3, {33, 34, 33}},
                                           VSplitCase{30, 10, {10, 10, 10}},
                                           VSplitCase{50, 9, {12, 14, 12, 12}},
                                           VSplitCase{24, 5, {12, 12}},
                                           VSplitCase{100, 1, {100}}));

TEST_F(TableEdit, VSplitOfMasterSplitsItsBlockIntoBlocks)
{
    page.NewTable(2, 2);
    select({{0, 0}, {1, 0}});
    page.CombineCell();
    page.VSplitCell(3); // 327 pixels: 3 pieces of 109
    EXPECT_EQ(describe(page), "77+109 186+109 295+109 404+327"
                              " | 77+109^0.0 186+109^0.1 295+109^0.2 404+327");
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(at(0, c)->FCellRect.bottom, lineBottom(1)) << c;
}

TEST_F(TableEdit, VSplitRefusals)
{
    page.NewTable(2, 2);
    select({{0, 0}, {1, 0}});
    page.CombineCell();
    const std::string before = describe(page);
    EXPECT_THROW(page.VSplitCell(0), Error);
    select({{1, 0}}); // the covered part of the block
    page.VSplitCell(3);
    select({{0, 1}, {1, 1}});
    page.VSplitCell(3);
    EXPECT_EQ(describe(page), before);
}

// ---- lines ----

TEST_F(TableEdit, AddLineGrowsBlockReachingTheLastLine)
{
    labelledTable(2, 2);
    select({{0, 0}, {1, 0}});
    page.CombineCell();
    page.AddSelectedCell(at(0, 1));
    page.AddLine(); // two cells selected: refused
    ASSERT_EQ(page.CountFLines(), 2);

    page.RemoveAllSelectedCell();
    page.AddLine();
    EXPECT_EQ(describe(page), "77+327'0010' 404+327'01' | 77+327^0.0 404+327'11'"
                              " | 77+327^0.0 404+327");
    EXPECT_EQ(at(0, 0)->FCellRect.bottom, lineBottom(2));
    EXPECT_EQ(at(0, 0)->FCellsList, (QList<TReportCell *>{at(1, 0), at(2, 0)}));
}

TEST_F(TableEdit, InsertLineInsideBlockJoinsItAboveItStaysOutside)
{
    labelledTable(2, 2);
    select({{0, 0}, {1, 0}});
    page.CombineCell();
    TReportCell *master = at(0, 0);

    select({{1, 1}});
    page.InsertLine();
    EXPECT_EQ(describe(page), "77+327'0010' 404+327'01' | 77+327^0.0 404+327"
                              " | 77+327^0.0 404+327'11'");
    EXPECT_EQ(master->FCellsList, (QList<TReportCell *>{at(1, 0), at(2, 0)}));

    select({{0, 1}});
    page.InsertLine();
    EXPECT_EQ(page.CountFLines(), 4);
    EXPECT_FALSE(at(0, 0)->isOwned());
    EXPECT_EQ(at(1, 0), master);
    EXPECT_EQ(master->FCellRect, (TRect{77, page.line(1)->FLineTop, 404, lineBottom(3)}));
}

TEST_F(TableEdit, DeleteLineDissolvesOrShrinksBlocks)
{
    labelledTable(2, 4);
    page.SetCellSFocus(0, 0, 2, 0);
    page.CombineCell();

    select({{2, 1}}); // the line of the block's lowest covered cell
    page.DeleteLine();
    EXPECT_EQ(describe(page), "77+327'001020' 404+327'01' | 77+327^0.0 404+327'11'"
                              " | 77+327'30' 404+327'31'");
    EXPECT_TRUE(page.FSelectCells.isEmpty());

    select({{0, 1}}); // the master's line
    page.DeleteLine();
    EXPECT_EQ(describe(page), "77+327 404+327'11' | 77+327'30' 404+327'31'");
    EXPECT_EQ(page.line(0)->FLineTop, 77);
}

// ---- cells ----

TEST_F(TableEdit, AddAndInsertCellCopyFormatWithoutText)
{
    labelledTable(2, 1);
    at(0, 1)->SetBottomLineWidth(3);
    select({{0, 0}});
    page.AddCell(); // a copy of the last cell of the line
    EXPECT_EQ(describe(page), "77+327'00' 404+327'01' 731+327");
    EXPECT_EQ(at(0, 2)->FBottomLineWidth, 3);

    page.InsertCell(); // a copy of the selected cell, before it
    EXPECT_EQ(describe(page), "77+327 404+327'00' 731+327'01' 1058+327");
    EXPECT_EQ(page.FSelectCells, QList<TReportCell *>{at(0, 1)});
}

TEST_F(TableEdit, CellAddedBesideCoveredCellStaysOutsideTheBlock)
{
    page.NewTable(2, 2);
    select({{0, 1}, {1, 1}});
    page.CombineCell();
    select({{1, 0}});
    page.AddCell(); // the last cell of line 1 is covered by the block
    EXPECT_EQ(describe(page), "77+327 404+327 | 77+327 404+327^0.1 731+327");
    EXPECT_EQ(at(0, 1)->GetOwnedCellCount(), 1);
    EXPECT_EQ(at(0, 1)->FCellRect.bottom, lineBottom(1));

    select({{1, 1}}); // the covered cell itself, selected by position
    page.InsertCell();
    EXPECT_EQ(describe(page), "77+327 404+327 | 77+327 404+327 731+327^0.1 1058+327");
    EXPECT_EQ(at(0, 1)->GetOwnedCellCount(), 1);
}

TEST_F(TableEdit, DeleteCellRemovesEmptiedLinesAndWholeBlocks)
{
    labelledTable(2, 4);
    select({{1, 0}, {1, 1}});
    page.DeleteCell();
    EXPECT_EQ(describe(page), "77+327'00' 404+327'01' | 77+327'20' 404+327'21'"
                              " | 77+327'30' 404+327'31'");
    EXPECT_EQ(page.line(1)->FLineTop, 77 + emptyLineHeight());
    EXPECT_TRUE(page.FSelectCells.isEmpty());

    select({{0, 1}, {1, 1}});
    page.CombineCell();
    select({{0, 0}, {0, 1}}); // the master goes with its covered cell
    page.DeleteCell();
    EXPECT_EQ(describe(page), "77+327'20' | 77+327'30' 404+327'31'");
    EXPECT_EQ(page.FLastSelectCell, nullptr);
}

// ---- formats ----

TEST_F(TableEdit, FormatsGrowLinesByFontAndBorders)
{
    page.NewTable(3, 2);
    select({{0, 1}});
    LOGFONT big = defaultCellFont();
    big.lfHeight = -40;
    page.SetCellFont(big);
    EXPECT_EQ(page.line(0)->GetLineHeight(), QFontMetrics(fontFromLogFont(big)).height() + 4);
    EXPECT_EQ(page.line(1)->FLineTop, lineBottom(0));

    select({{1, 0}, {1, 2}});
    page.SetCellLines(false, true, false, true, 1, 4, 1, 5);
    EXPECT_EQ(page.line(1)->GetLineHeight(), emptyLineHeight() - 2 + 9);
    EXPECT_FALSE(at(1, 2)->FLeftLine);
    EXPECT_EQ(at(1, 1)->FTopLineWidth, 1);

    page.SetCellColor(0x000000FF, 0x0000FF00);
    page.SetCellAlign(2, 0);
    page.SetCellSumText(QStringLiteral("和"));
    for (const TReportCell *c : {at(1, 0), at(1, 2)}) {
        EXPECT_EQ(c->FTextColor, 0x000000FFu);
        EXPECT_EQ(c->FBackGroundColor, 0x0000FF00u);
        EXPECT_EQ(c->FHorzAlign, 2);
        EXPECT_EQ(c->FCellText, QStringLiteral("和"));
    }
    EXPECT_EQ(at(1, 1)->FBackGroundColor, clWhite);
}

// ---- positional access ----

TEST_F(TableEdit, PositionalAccessOutsideThePageThrows)
{
    page.NewTable(2, 2);
    EXPECT_THROW(page.CountFcells(2), Error);
    EXPECT_THROW(page.GetCallText(0, 2), Error);
    EXPECT_THROW(page.SetCallText(-1, 0, QStringLiteral("x")), Error);
    EXPECT_THROW(page.GetTagID(1, -1), Error);
    EXPECT_THROW(page.SetScriptID(5, 0, 1), Error);
    EXPECT_THROW(page.SetLineHegit(2, 40), Error);
    page.SetTagID(1, 1, QStringLiteral("[1][1][0]FLOW"));
    page.SetScriptID(1, 1, 7);
    EXPECT_EQ(page.GetTagID(1, 1), QStringLiteral("[1][1][0]FLOW"));
    EXPECT_EQ(page.GetScriptID(1, 1), 7);
}

// ---- what the page shows ----

TEST_F(TableEdit, MergedAndSplitCellsDrawClosedGrid)
{
    page.NewTable(4, 4);
    page.SetCellSFocus(0, 0, 1, 1);
    page.CombineCell();
    page.SetCallText(0, 0, QStringLiteral("合并单元格 merged"));
    select({{2, 2}});
    page.VSplitCell(3);
    page.SetCallText(2, 2, QStringLiteral("甲"));
    page.UpdateLines();
    page.RemoveAllSelectedCell();

    const QImage image = page.grab().toImage();
    if (qEnvironmentVariableIsSet("TESSARIN_EDIT_PNG"))
        image.save(qEnvironmentVariable("TESSARIN_EDIT_PNG"));
    const auto black = [&](int x, int y) { return image.pixelColor(x, y) == QColor(Qt::black); };
    const TRect block = at(0, 0)->FCellRect;
    // No border crosses the merged block; its outline is closed.
    EXPECT_FALSE(black(block.right - 20, lineBottom(0)));
    EXPECT_FALSE(black(240, block.top + 3));
    EXPECT_FALSE(black(240, block.bottom - 3));
    EXPECT_TRUE(black(block.right, lineBottom(0)));
    EXPECT_TRUE(black(block.left, lineBottom(0)));
    EXPECT_TRUE(black(block.left + 10, block.bottom));
    EXPECT_TRUE(black(block.left + 10, block.top));
    // Every piece of the split cell is closed on both sides.
    for (int c = 2; c <= 5; ++c) {
        const TRect r = at(2, c)->FCellRect;
        EXPECT_TRUE(black(r.left, r.top + 3)) << c;
        EXPECT_TRUE(black(r.right, r.bottom - 3)) << c;
    }
}

} // namespace
