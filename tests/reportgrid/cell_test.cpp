// Cells and lines: fonts, height rules, rectangles, merges and copies.

#include "gridfixture.h"
#include "reportcell.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

using namespace tessarin;
using gridtest::ScopedPrinterLayer;

namespace {

// A line of one control-less cell of the given width, measured.
struct LoneCell
{
    TReportLine line;
    TReportCell *cell;
    explicit LoneCell(int width, const QString &text = QString())
    {
        cell = line.appendCell(std::make_unique<TReportCell>());
        cell->SetCellWidth(width);
        cell->SetCellText(text);
        line.CalcLineHeight();
    }
};

} // namespace

TEST(LogFont, DefaultCellFontFollowsScreenResolution)
{
    for (auto [dpi, height] : {std::pair{96, -16}, {120, -20}, {144, -24}}) {
        auto layer = std::make_unique<FixedPrinterLayer>();
        layer->screenY = dpi;
        ScopedPrinterLayer scoped(std::move(layer));
        const LOGFONT f = TReportCell().FLogFont;
        EXPECT_EQ(f.lfHeight, height) << dpi;
        EXPECT_EQ(f.faceName(), QStringLiteral("宋体"));
    }
}

TEST(LogFont, BytesRoundTripLittleEndianWithCodePageFace)
{
    LOGFONT f;
    f.lfHeight = -21;
    f.lfWeight = 700;
    f.lfItalic = 1;
    f.lfPitchAndFamily = 0x31;
    f.setFaceName(QStringLiteral("宋体"));
    const QByteArray bytes = f.toBytes();
    ASSERT_EQ(bytes.size(), LogFontSize);
    EXPECT_EQ(bytes.left(4), QByteArray::fromHex("ebffffff"));
    EXPECT_EQ(bytes.mid(16, 4), QByteArray::fromHex("bc020000"));
    EXPECT_EQ(bytes.mid(28, 5), QByteArray::fromHex("cbcecce500")); // GB2312 bytes, then NUL
    EXPECT_TRUE(LOGFONT::fromBytes(bytes.constData()) == f);

    f.setFaceName(QString(20, QChar(0x6C49))); // 40 bytes: whole characters and the NUL kept
    EXPECT_EQ(f.lfFaceName[31], '\0');
    EXPECT_EQ(f.faceName(), QString(15, QChar(0x6C49)));
}

TEST(LogFont, ConvertsToQFont)
{
    LOGFONT f = defaultCellFont();
    f.lfWeight = 700;
    f.lfItalic = 1;
    f.lfUnderline = 1;
    const QFont font = fontFromLogFont(f);
    EXPECT_EQ(font.pixelSize(), 16);
    EXPECT_EQ(font.weight(), QFont::Bold);
    EXPECT_TRUE(font.italic());
    EXPECT_TRUE(font.underline());
    EXPECT_EQ(fontFromLogFont(defaultCellFont()).weight(), QFont::Normal);

    LOGFONT cellHeight = defaultCellFont();
    cellHeight.lfHeight = 30; // positive: character plus internal leading
    EXPECT_LE(QFontMetrics(fontFromLogFont(cellHeight)).height(), 30);
}

// ---- heights ----

struct HeightCase
{
    const char *name;
    QString text;
    int width;
    int topWidth;
    int bottomWidth;
    int lines; // text lines the height makes room for; 0: the fixed minimum
};

class CellHeight : public ::testing::TestWithParam<HeightCase>
{
protected:
    ScopedPrinterLayer layer;
};

TEST_P(CellHeight, FollowsFontMetrics)
{
    const HeightCase &c = GetParam();
    LoneCell lone(c.width);
    lone.cell->SetTopLineWidth(c.topWidth);
    lone.cell->SetBottomLineWidth(c.bottomWidth);
    lone.cell->SetCellText(c.text);
    const int lh = gridtest::lineHeightOf(*lone.cell);
    const int b = c.topWidth + c.bottomWidth;
    const int expected = c.lines == 0 ? b + 18 : c.lines * lh + 2 + b;
    EXPECT_EQ(lone.cell->FMinCellHeight, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CellHeight,
    ::testing::Values(
        HeightCase{"EmptyIsOneLine", QString(), 100, 1, 1, 1},
        HeightCase{"OneLine", QStringLiteral("流量"), 100, 1, 1, 1},
        HeightCase{"ThickBorders", QStringLiteral("流量"), 100, 3, 2, 1},
        HeightCase{"TwoLines", QStringLiteral("A\r\nB"), 100, 1, 1, 2},
        HeightCase{"EmptyMiddleLine", QStringLiteral("A\r\n\r\nB"), 100, 1, 1, 3},
        HeightCase{"TrailingBreakAddsOneLine", QStringLiteral("A\r\n"), 100, 1, 1, 2},
        HeightCase{"BareBreak", QStringLiteral("\r\n"), 100, 1, 1, 2},
        HeightCase{"WrapsChineseText", QString(12, QChar(0x6C49)), 10 + 4 * 16 + 4, 1, 1, 3},
        HeightCase{"MinimumWidthIgnoresText", QStringLiteral("A\r\nB\r\nC"), 10, 1, 1, 0},
        HeightCase{"TooNarrowForText", QStringLiteral("A\r\nB"), 3, 1, 1, 0}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CellHeightRules, LongLatinWordBreaksInsideTheWord)
{
    ScopedPrinterLayer layer;
    LoneCell lone(40, QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ"));
    const int lh = gridtest::lineHeightOf(*lone.cell);
    EXPECT_GE(lone.cell->FMinCellHeight, 3 * lh + 4);
    EXPECT_EQ((lone.cell->FMinCellHeight - 4) % lh, 0);
}

TEST(CellSetters, WidthAndMarginLimits)
{
    ScopedPrinterLayer layer;
    LoneCell lone(50);
    TReportCell &c = *lone.cell;
    c.SetCellWidth(3);
    EXPECT_EQ(c.FCellWidth, 10);
    c.FMinCellHeight = -7; // a recalculation would overwrite this
    c.SetCellWidth(10);
    EXPECT_EQ(c.FMinCellHeight, -7) << "same width must not recalculate";
    c.SetCellWidth(-40);
    EXPECT_EQ(c.FCellWidth, 10);
    EXPECT_EQ(c.FMinCellHeight, 20);

    for (int m : {6, 0, -5, 100})
        c.SetLeftMargin(m);
    EXPECT_EQ(c.FLeftMargin, 5);
    c.FLeftMargin = 8; // as a stored page may hold
    c.SetLeftMargin(5);
    EXPECT_EQ(c.FLeftMargin, 5);
}

// ---- rectangles ----

class TextRectAlign : public ::testing::TestWithParam<int>
{
protected:
    ScopedPrinterLayer layer;
};

TEST_P(TextRectAlign, PlacesTextRectInTheLine)
{
    const int align = GetParam();
    LoneCell lone(120, QStringLiteral("压力"));
    TReportCell &c = *lone.cell;
    c.FVertAlign = align;
    lone.line.SetDragHeight(100);
    lone.line.SetLineTop(40);
    c.SetCellLeft(30);
    c.CalcCellRect();
    EXPECT_EQ(c.FCellRect, (TRect{30, 40, 150, 140}));
    const int need = c.FMinCellHeight;
    int shift = 0;
    if (align == 1)
        shift = (100 - need + 1) / 2;
    else if (align == 2)
        shift = 100 - need;
    EXPECT_EQ(c.FTextRect.left, 30 + 5 + 1);
    EXPECT_EQ(c.FTextRect.right, 150 - 5 - 1);
    EXPECT_EQ(c.FTextRect.top, 40 + 1 + 1 + shift);
    EXPECT_EQ(c.FTextRect.height(), need - 4);
}

INSTANTIATE_TEST_SUITE_P(Vertical, TextRectAlign, ::testing::Values(0, 1, 2, 7, -1));

// ---- lines ----

TEST(Line, CreateLineMakesEqualRoundedCells)
{
    ScopedPrinterLayer layer;
    // total width, count, rounded step, stored width (never below the minimum)
    for (auto [total, count, step, width] : {std::tuple{653, 4, 163, 163}, {100, 3, 33, 33},
                                             {11, 2, 6, 10}, {5, 1, 5, 10}}) {
        TReportLine line;
        line.CreateLine(77, count, total);
        ASSERT_EQ(line.cellCount(), count);
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(line.cell(i)->FCellIndex, i);
            EXPECT_EQ(line.cell(i)->FCellLeft, 77 + i * step) << total;
            EXPECT_EQ(line.cell(i)->FCellWidth, width);
            EXPECT_EQ(line.cell(i)->FOwnerLine, &line);
        }
    }
    TReportLine none;
    none.CreateLine(0, 0, 100);
    none.CreateLine(0, -3, 100);
    EXPECT_EQ(none.cellCount(), 0);
}

TEST(Line, HeightIsNeverBelowTallestCell)
{
    ScopedPrinterLayer layer;
    TReportLine line;
    line.CreateLine(0, 2, 200);
    line.cell(1)->SetCellText(QStringLiteral("1\r\n2\r\n3"));
    line.CalcLineHeight();
    const int tallest = line.cell(1)->FMinCellHeight;
    EXPECT_EQ(line.GetLineHeight(), tallest);
    for (int drag : {-50, 0, 5, tallest}) {
        line.SetDragHeight(drag);
        EXPECT_EQ(line.GetLineHeight(), tallest) << drag;
    }
    line.SetDragHeight(tallest + 30);
    EXPECT_EQ(line.GetLineHeight(), tallest + 30);
    line.cell(0)->FDragCellHeight = tallest + 60;
    line.CalcLineHeight();
    EXPECT_EQ(line.GetLineHeight(), tallest + 60);
}

// ---- merges ----

namespace {

// Three one-cell lines under a control-less stack: master on top, two cells to absorb.
struct Block
{
    std::vector<std::unique_ptr<TReportLine>> lines;
    TReportCell *cells[3];
    explicit Block(int width = 100)
    {
        for (int i = 0; i < 3; ++i) {
            lines.push_back(std::make_unique<TReportLine>());
            cells[i] = lines[i]->appendCell(std::make_unique<TReportCell>());
            cells[i]->SetCellWidth(width);
        }
    }
    // As the control lays a page out: masters first, then heights and tops.
    void layout()
    {
        for (TReportCell *c : cells)
            if (c->isMaster())
                c->CalcMinCellHeight();
        int top = 0;
        for (auto &l : lines) {
            l->CalcLineHeight();
            l->SetLineTop(top);
            top += l->GetLineHeight();
        }
        for (auto &l : lines)
            l->GetLineRect();
    }
};

} // namespace

TEST(Merge, AddOwnedCellMovesTextAndKeepsOrder)
{
    ScopedPrinterLayer layer;
    Block b;
    b.cells[0]->SetCellText(QStringLiteral("A"));
    b.cells[1]->SetCellText(QStringLiteral("B"));
    b.cells[2]->SetCellText(QStringLiteral("C"));
    b.cells[0]->AddOwnedCell(b.cells[2]);
    b.cells[0]->AddOwnedCell(b.cells[1]);
    b.cells[0]->AddOwnedCell(b.cells[1]); // already owned
    b.cells[0]->AddOwnedCell(nullptr);
    b.cells[0]->AddOwnedCell(b.cells[0]); // never itself
    EXPECT_EQ(b.cells[0]->FCellText, QStringLiteral("ACB"));
    EXPECT_EQ(b.cells[0]->FCellsList, (QList<TReportCell *>{b.cells[2], b.cells[1]}));
    EXPECT_TRUE(b.cells[1]->FCellText.isEmpty());
    EXPECT_EQ(b.cells[1]->FOwnerCell, b.cells[0]);
    EXPECT_TRUE(b.cells[0]->IsCellOwned(b.cells[2]));
    EXPECT_EQ(b.cells[0]->GetOwnedCellCount(), 2);

    b.cells[0]->RemoveOwnedCell(b.cells[2]);
    EXPECT_EQ(b.cells[2]->FOwnerCell, nullptr);
    b.cells[0]->RemoveAllOwnedCell();
    EXPECT_EQ(b.cells[1]->FOwnerCell, nullptr);
    EXPECT_EQ(b.cells[0]->GetOwnedCellCount(), 0);
}

TEST(Merge, AbsorbingAMasterTakesOverItsCells)
{
    ScopedPrinterLayer layer;
    Block b;
    b.cells[1]->SetCellText(QStringLiteral("mid"));
    b.cells[2]->SetCellText(QStringLiteral("low"));
    b.cells[1]->AddOwnedCell(b.cells[2]);
    b.cells[0]->AddOwnedCell(b.cells[1]);
    EXPECT_EQ(b.cells[0]->FCellText, QStringLiteral("midlow"));
    EXPECT_EQ(b.cells[0]->FCellsList, (QList<TReportCell *>{b.cells[1], b.cells[2]}));
    EXPECT_TRUE(b.cells[1]->FCellsList.isEmpty()) << "a master never owns a master";
    EXPECT_EQ(b.cells[2]->FOwnerCell, b.cells[0]);
}

TEST(Merge, LowestCellTakesWhatTheMasterTextLacks)
{
    ScopedPrinterLayer layer;
    Block b;
    b.layout();
    b.cells[0]->AddOwnedCell(b.cells[1]);
    b.cells[0]->AddOwnedCell(b.cells[2]);
    b.cells[0]->SetCellText(QStringLiteral("1\r\n2\r\n3\r\n4\r\n5"));
    b.layout();
    const int required = 5 * gridtest::lineHeightOf(*b.cells[0]) + 4;
    ASSERT_EQ(b.cells[0]->FRequiredCellHeight, required);
    ASSERT_GT(required, 60);
    EXPECT_EQ(b.lines[0]->GetLineHeight(), 20);
    EXPECT_EQ(b.lines[1]->GetLineHeight(), 20);
    EXPECT_EQ(b.lines[2]->GetLineHeight(), 20 + required - 60);
    EXPECT_EQ(b.cells[0]->FCellRect.height(), required);
    EXPECT_EQ(b.cells[0]->FTextRect.height(), required - 4);

    // Narrowing the master to the minimum gives the block back its plain height.
    b.cells[0]->SetCellWidth(10);
    b.layout();
    EXPECT_EQ(b.lines[2]->GetLineHeight(), 20);
    EXPECT_EQ(b.cells[0]->FCellRect.height(), 60);
}

TEST(Merge, FreeingCellsLeavesNoDanglingLinks)
{
    ScopedPrinterLayer layer;
    Block b;
    b.cells[0]->AddOwnedCell(b.cells[1]);
    b.cells[0]->AddOwnedCell(b.cells[2]);
    b.lines[2].reset(); // owned cell freed first
    EXPECT_EQ(b.cells[0]->FCellsList, (QList<TReportCell *>{b.cells[1]}));
    b.lines[0].reset(); // then the master
    EXPECT_EQ(b.cells[1]->FOwnerCell, nullptr);
}

TEST(Merge, DamagedLinksDoNotRecurse)
{
    ScopedPrinterLayer layer;
    Block b;
    // Two cells listing each other, as a damaged stored page could describe them.
    b.cells[0]->FCellsList = {b.cells[1]};
    b.cells[1]->FCellsList = {b.cells[0]};
    b.cells[0]->SetCellText(QStringLiteral("x"));
    b.layout();
    EXPECT_EQ(b.cells[0]->FMinCellHeight, 20);
    b.cells[0]->FCellsList.clear();
    b.cells[1]->FCellsList.clear();
}

TEST(Merge, CopyCellFormatAndPlacementInOwnerList)
{
    ScopedPrinterLayer layer;
    Block b;
    TReportCell &src = *b.cells[1];
    src.SetCellText(QStringLiteral("x"));
    b.cells[0]->SetCellText(QStringLiteral("M"));
    b.cells[0]->AddOwnedCell(b.cells[1]);
    b.cells[0]->AddOwnedCell(b.cells[2]);
    src.FDiagonal = LINE_LEFT1 | LINE_RIGHT3;
    src.FBackGroundColor = 0x0000FF00;
    src.FHorzAlign = 2;
    src.FDragCellHeight = 33;
    src.FTagID = QStringLiteral("TAG");
    src.FScriptID = 9;
    src.FCellDispFormat = QStringLiteral("0.0");
    src.FLogFont.lfWeight = 700;
    src.SetCellText(QStringLiteral("later text")); // text in an owned cell stays there

    TReportLine beside;
    TReportCell *copy = beside.appendCell(std::make_unique<TReportCell>());
    copy->FCellRect = {1, 2, 3, 4};
    copy->CopyCell(&src, true);
    EXPECT_EQ(b.cells[0]->FCellsList, (QList<TReportCell *>{copy, b.cells[1], b.cells[2]}));
    EXPECT_EQ(b.cells[0]->FCellText, QStringLiteral("Mx")) << "insertion beside adds no text";
    EXPECT_EQ(copy->FOwnerCell, b.cells[0]);
    EXPECT_TRUE(copy->FCellText.isEmpty());
    EXPECT_TRUE(copy->FTagID.isEmpty());
    EXPECT_TRUE(copy->FCellDispFormat.isEmpty());
    EXPECT_EQ(copy->FScriptID, 0);
    EXPECT_EQ(copy->FDiagonal, src.FDiagonal);
    EXPECT_EQ(copy->FBackGroundColor, src.FBackGroundColor);
    EXPECT_EQ(copy->FHorzAlign, 2);
    EXPECT_EQ(copy->FDragCellHeight, 33);
    EXPECT_EQ(copy->FCellWidth, src.FCellWidth);
    EXPECT_TRUE(copy->FLogFont == src.FLogFont);
    EXPECT_EQ(copy->FCellRect, TRect{});
    EXPECT_EQ(copy->FOwnerLine, &beside);

    TReportLine below;
    TReportCell *appended = below.appendCell(std::make_unique<TReportCell>());
    appended->CopyCell(&src, false);
    EXPECT_EQ(b.cells[0]->FCellsList.last(), appended);
    EXPECT_EQ(b.cells[0]->FCellText, QStringLiteral("Mx"));
}

// ---- painting ----

namespace {

QImage paintLone(TReportCell &cell, bool print)
{
    QImage img(cell.FCellRect.right + 20, cell.FCellRect.bottom + 20, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    cell.PaintCell(p, print);
    return img;
}

const QRgb black = qRgb(0, 0, 0);
const QRgb grey = qRgb(0xC0, 0xC0, 0xC0);
const QRgb white = qRgb(255, 255, 255);

} // namespace

TEST(PaintCell, BordersOnScreenAndOnPaper)
{
    ScopedPrinterLayer layer;
    TReportLine line;
    line.CreateLine(10, 3, 120);
    line.FIndex = 1; // not the first line
    line.CalcLineHeight();
    line.SetLineTop(10);
    line.GetLineRect();
    TReportCell &mid = *line.cell(1);
    mid.SetLeftLine(false);
    mid.SetTopLine(false);
    mid.SetRightLine(false);
    mid.SetBottomLine(false);
    const TRect r = mid.FCellRect;
    const int my = (r.top + r.bottom) / 2;
    const int mx = (r.left + r.right) / 2;

    QImage screen = paintLone(mid, false);
    EXPECT_EQ(screen.pixel(r.right, my), grey);
    EXPECT_EQ(screen.pixel(mx, r.bottom), grey);
    EXPECT_EQ(screen.pixel(r.left, my), white) << "left edge belongs to the neighbour";
    EXPECT_EQ(screen.pixel(mx, r.top), white);
    QImage paper = paintLone(mid, true);
    EXPECT_EQ(paper.pixel(r.right, my), white);
    EXPECT_EQ(paper.pixel(mx, r.bottom), white);

    TReportCell &first = *line.cell(0);
    line.FIndex = 0;
    first.SetLeftLine(false);
    first.SetTopLine(false);
    QImage corner = paintLone(first, false);
    EXPECT_EQ(corner.pixel(first.FCellRect.left, my), grey);
    EXPECT_EQ(corner.pixel((first.FCellRect.left + first.FCellRect.right) / 2,
                           first.FCellRect.top), grey);
    EXPECT_EQ(corner.pixel(first.FCellRect.right, my), black);
}

TEST(PaintCell, BackgroundDiagonalsAndOwnedCells)
{
    ScopedPrinterLayer layer;
    Block b(80);
    b.cells[0]->AddOwnedCell(b.cells[1]);
    b.layout();
    TReportCell &m = *b.cells[0];
    m.FBackGroundColor = 0x000000FF; // red
    m.FDiagonal = LINE_LEFT1;
    QImage img = paintLone(m, true);
    const TRect r = m.FCellRect;
    EXPECT_EQ(img.pixel(r.left + 20, r.top + 3), qRgb(255, 0, 0));
    EXPECT_EQ(img.pixel(r.left + 20, r.bottom - 2), qRgb(255, 0, 0)) << "fills the whole block";
    EXPECT_EQ(img.pixel(r.left + 1, r.top + 1), black);
    const QPoint mid((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    int onStroke = 0;
    for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
            onStroke += img.pixel(mid.x() + dx, mid.y() + dy) == black;
    EXPECT_GT(onStroke, 0);
    EXPECT_EQ(img.pixel(r.right - 3, r.top + 3), qRgb(255, 0, 0)) << "no stroke from the right";

    QImage owned = paintLone(*b.cells[1], false);
    EXPECT_EQ(owned.pixelColor(b.cells[1]->FCellRect.right, b.cells[1]->FCellRect.top + 3),
              QColor(Qt::white));

    m.FBackGroundColor = clWhite;
    m.FDiagonal = 0;
    QImage plain = paintLone(m, true);
    EXPECT_EQ(plain.pixel(r.left + 20, r.top + 3), white);
}

TEST(PaintCell, LinesBreakWhereTheHeightWasMeasured)
{
    ScopedPrinterLayer layer;
    const QString text(4, QChar(0x6C49));
    LoneCell probe(200, text);
    const int advance = QFontMetrics(probe.cell->cellFont()).horizontalAdvance(text);
    // Wide enough for the four glyphs, but the text rectangle is two pixels narrower.
    LoneCell lone(advance + 10, text);
    ASSERT_EQ(lone.cell->FMinCellHeight, gridtest::lineHeightOf(*lone.cell) + 4);
    lone.line.SetLineTop(5);
    lone.cell->SetCellLeft(5);
    lone.cell->CalcCellRect();
    QImage img = paintLone(*lone.cell, true);
    const QRect r = lone.cell->textRect();
    int darkInLastGlyph = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.right() - advance / 4 + 3; x <= r.right(); ++x)
            darkInLastGlyph += qGray(img.pixel(x, y)) < 128;
    EXPECT_GT(darkInLastGlyph, 5) << "the last glyph stays on the measured line";
}
