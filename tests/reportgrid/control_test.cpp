// The page control without mouse input: page size, zoom, margins, layout, hit testing and the
// selection list.

#include "gridfixture.h"
#include "reportcontrol.h"

#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QSet>

#include <cmath>
#include <cstdlib>
#include <functional>

#include <gtest/gtest.h>

using namespace tessarin;
using gridtest::addLines;
using gridtest::ScopedPrinterLayer;

TEST(PageSize, WithoutPrinterFixedPageScaledByZoom)
{
    ScopedPrinterLayer layer;
    TReportControl control;
    EXPECT_EQ(control.FPageWidth, 768);
    EXPECT_EQ(control.FPageHeight, 1058);
    EXPECT_EQ(control.size(), QSize(768, 1058));
    control.SetScale(50);
    EXPECT_EQ(control.size(), QSize(384, 529));
    EXPECT_EQ(control.FSavedScale, 50);
    control.SetScale(0); // refused: no page to show at zero
    control.SetScale(-20);
    EXPECT_EQ(control.FReportScale, 50);
    EXPECT_EQ(control.size(), QSize(384, 529));
    control.SetScale(133);
    EXPECT_EQ(control.size(), QSize(1021, 1407));
    // A page size read from a damaged stream, zoomed: no overflow, and a widget Qt can have.
    control.SetWndSize(67109922, 2000000000);
    EXPECT_EQ(control.size(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
}

TEST(PageSize, PrinterPageConvertedToScreenPixelsOnce)
{
    auto fixed = std::make_unique<FixedPrinterLayer>();
    fixed->installed = true;
    fixed->pageSize = QSize(4800, 6600);
    fixed->dpiX = 600;
    fixed->dpiY = 600;
    ScopedPrinterLayer layer(std::move(fixed));
    TReportControl control;
    EXPECT_EQ(control.FPageWidth, 768);
    EXPECT_EQ(control.FPageHeight, 1056);

    // A later printer change does not move a page already sized.
    layer.layer().pageSize = QSize(6600, 4800);
    control.CalcWndSize();
    EXPECT_EQ(control.FPageWidth, 768);

    control.SetWndSize(1000, 700);
    EXPECT_EQ(control.FSavedPageWidth, 1000);
    control.SetScale(50);
    EXPECT_EQ(control.size(), QSize(500, 350));
    layer.layer().installed = false;
    control.CalcWndSize();
    EXPECT_EQ(control.FPageHeight, 700);
    control.SetPageSize(10, 10);
    EXPECT_EQ(control.FPageWidth, 1000);
}

TEST(PageSize, QtPrinterLayerOnThisMachine)
{
    ScopedPrinterLayer keep; // restores the fixed layer afterwards
    setPrinterLayer(std::make_unique<QtPrinterLayer>());
    PrinterLayer &qt = printerLayer();
    TReportControl control;
    if (qt.isInstalledPrinter()) {
        EXPECT_GT(control.FPageWidth, 0);
        ASSERT_NE(qt.deviceMode(), nullptr);
        EXPECT_EQ(qt.deviceMode()->dmFields, DM_ORIENTATION | DM_PAPERSIZE);
    } else {
        EXPECT_EQ(control.size(), QSize(DefaultPageWidth, DefaultPageHeight));
        EXPECT_EQ(qt.deviceMode(), nullptr);
    }
    EXPECT_EQ(pageSizeIdFromPaper(paperFromPageSizeId(QPageSize::A4)), int(QPageSize::A4));
    EXPECT_EQ(paperFromPageSizeId(QPageSize::A4), 9);
    EXPECT_EQ(pageSizeIdFromPaper(9999), -1);
}

// Each Windows paper number maps to a Qt page of the same physical size (in millimetres,
// either orientation), and back to the same number.
TEST(PaperSizes, WindowsNumbersNameTheSamePhysicalSheet)
{
    struct Sheet
    {
        int paper;
        double width, height; // mm
    };
    const double in = 25.4;
    const Sheet sheets[] = {
        {1, 8.5 * in, 11 * in},  {3, 11 * in, 17 * in},    {4, 11 * in, 17 * in},
        {5, 8.5 * in, 14 * in},  {7, 7.25 * in, 10.5 * in}, {8, 297, 420},
        {9, 210, 297},           {11, 148, 210},           {12, 257, 364},
        {13, 182, 257},          {14, 8.5 * in, 13 * in},  {20, 4.125 * in, 9.5 * in},
        {27, 110, 220},          {28, 162, 229},           {34, 176, 250},
        {66, 420, 594},          {70, 105, 148},
    };
    for (const Sheet &sheet : sheets) {
        const int id = pageSizeIdFromPaper(sheet.paper);
        ASSERT_GE(id, 0) << "paper " << sheet.paper;
        QSizeF mm = QPageSize(static_cast<QPageSize::PageSizeId>(id)).size(QPageSize::Millimeter);
        if (mm.width() > mm.height())
            mm.transpose();
        EXPECT_NEAR(mm.width(), sheet.width, 1.0) << "paper " << sheet.paper;
        EXPECT_NEAR(mm.height(), sheet.height, 1.0) << "paper " << sheet.paper;
        EXPECT_EQ(paperFromPageSizeId(id), sheet.paper)
            << "paper " << sheet.paper;
    }
}

TEST(Margins, MillimetresAtTwentyFivePerInch)
{
    ScopedPrinterLayer layer;
    TReportControl control;
    EXPECT_EQ(control.FLeftMargin, 77);
    EXPECT_EQ(control.FRightMargin, 38);
    EXPECT_EQ(control.FTopMargin, 77);
    EXPECT_EQ(control.FBottomMargin, 58);
    EXPECT_EQ(control.GetMargin(), (TRect{20, 20, 10, 15}));

    addLines(control, 2, {100, 100});
    control.SetMargin(10, 5, 10, 10);
    EXPECT_EQ(control.FLeftMargin, 38);
    EXPECT_EQ(control.FTopMargin, 19);
    EXPECT_EQ(control.line(0)->cell(0)->FCellLeft, 38) << "cells follow the new margin";
    EXPECT_EQ(control.line(0)->FLineTop, 19);
    EXPECT_EQ(control.GetMargin(), (TRect{10, 5, 10, 10}));
}

TEST(Layout, LinesStackAndCellsChainFromTheMargins)
{
    ScopedPrinterLayer layer;
    TReportControl control;
    addLines(control, 3, {50, 70, 90});
    // Disturb everything UpdateLines owns.
    control.line(1)->cell(2)->SetCellText(QStringLiteral("1\r\n2\r\n3"));
    control.line(1)->cell(0)->FCellLeft = 500;
    control.line(2)->cell(1)->FCellIndex = 9;
    control.line(2)->FIndex = 7;
    control.UpdateLines();

    int top = control.FTopMargin;
    for (int i = 0; i < control.lineCount(); ++i) {
        TReportLine *line = control.line(i);
        EXPECT_EQ(line->FIndex, i);
        EXPECT_EQ(line->FLineTop, top);
        int left = control.FLeftMargin;
        for (int j = 0; j < line->cellCount(); ++j) {
            const TReportCell *c = line->cell(j);
            EXPECT_EQ(c->FCellIndex, j);
            EXPECT_EQ(c->FCellLeft, left);
            EXPECT_EQ(c->FCellRect, (TRect{left, top, left + c->FCellWidth,
                                           top + line->GetLineHeight()}));
            left += c->FCellWidth;
        }
        EXPECT_EQ(line->FLineRect, (TRect{control.FLeftMargin, top, left,
                                          top + line->GetLineHeight()}));
        top += line->GetLineHeight();
    }
    EXPECT_GT(control.line(1)->GetLineHeight(), control.line(0)->GetLineHeight());
}

TEST(Layout, MergedBlockGrowsOnlyItsBottomLine)
{
    ScopedPrinterLayer layer;
    TReportControl control;
    addLines(control, 4, {120, 60});
    TReportCell *master = control.CellFromRC(0, 0);
    master->AddOwnedCell(control.CellFromRC(1, 0));
    master->AddOwnedCell(control.CellFromRC(2, 0));
    control.UpdateLines();
    const int plain = control.line(3)->GetLineHeight();
    master->SetCellText(QString(40, QChar(0x6C49)));
    control.UpdateLines();
    EXPECT_EQ(control.line(0)->GetLineHeight(), plain);
    EXPECT_EQ(control.line(1)->GetLineHeight(), plain);
    EXPECT_GT(control.line(2)->GetLineHeight(), plain);
    EXPECT_EQ(master->FCellRect.bottom, control.line(3)->FLineTop);
    EXPECT_EQ(master->FCellRect.height(), master->FRequiredCellHeight);
}

TEST(HitTest, CellFromPoint)
{
    ScopedPrinterLayer layer;
    TReportControl control;
    addLines(control, 3, {100, 100});
    TReportCell *master = control.CellFromRC(0, 1);
    master->AddOwnedCell(control.CellFromRC(1, 1));
    control.UpdateLines();
    const TReportLine *l0 = control.line(0);
    const TReportLine *l1 = control.line(1);
    const int x0 = control.FLeftMargin + 10;
    const int x1 = control.FLeftMargin + 150;

    EXPECT_EQ(control.CellFromPoint({x0, l0->FLineTop}), control.CellFromRC(0, 0));
    EXPECT_EQ(control.CellFromPoint({x0, l1->FLineTop}), control.CellFromRC(1, 0))
        << "on the boundary the lower line wins";
    EXPECT_EQ(control.CellFromPoint({x1, l1->FLineTop + 3}), master);
    EXPECT_EQ(control.CellFromPoint({x1, l0->FLineTop + 3}), master);
    EXPECT_EQ(control.CellFromPoint({control.FLeftMargin + 200, l0->FLineTop + 3}), nullptr);
    EXPECT_EQ(control.CellFromPoint({x0, l0->FLineTop - 1}), nullptr);
    EXPECT_EQ(control.CellFromPoint({control.FLeftMargin - 1, l0->FLineTop + 3}), nullptr);
    EXPECT_EQ(control.CellFromRC(5, 0), nullptr);
    EXPECT_EQ(control.CellFromRC(0, -1), nullptr);
}

TEST(Selection, OperationsAndLastSelectedCell)
{
    ScopedPrinterLayer layer;
    TReportControl control;
    addLines(control, 4, {50, 50, 50, 50});
    EXPECT_EQ(control.getcellfont(), nullptr);
    control.SetCellSFocus(1, 1, 2, 2);
    ASSERT_EQ(control.FSelectCells.size(), 4);
    EXPECT_EQ(control.FSelectCells[0], control.CellFromRC(1, 1));
    EXPECT_EQ(control.FSelectCells[3], control.CellFromRC(2, 2));
    EXPECT_EQ(control.FLastSelectCell, control.CellFromRC(2, 2));
    control.SetCellSFocus(3, 0, 2, 0); // reversed range: nothing
    control.SetCellSFocus(0, 3, 0, 2);
    control.SetCellSFocus(3, 3, 9, 9); // past the end: only cells that exist
    EXPECT_EQ(control.FSelectCells.size(), 5);
    EXPECT_FALSE(control.AddSelectedCell(control.CellFromRC(1, 1)));
    EXPECT_FALSE(control.AddSelectedCell(nullptr));
    EXPECT_TRUE(control.RemoveSelectedCell(control.CellFromRC(1, 1)));
    EXPECT_FALSE(control.RemoveSelectedCell(control.CellFromRC(1, 1)));
    control.SetCellFocus(0, 0);
    EXPECT_TRUE(control.IsCellSelected(control.CellFromRC(0, 0)));
    ASSERT_NE(control.getcellfont(), nullptr);
    EXPECT_EQ(control.getcellfont()->pixelSize(), 16);

    control.RemoveAllSelectedCell();
    EXPECT_TRUE(control.FSelectCells.isEmpty());
    EXPECT_EQ(control.FLastSelectCell, control.CellFromRC(0, 0));
}

TEST(Selection, FreedCellsLeaveNoReferences)
{
    ScopedPrinterLayer layer;
    TReportControl control;
    addLines(control, 2, {50, 50});
    control.SetCellFocus(1, 0);
    control.SetCellFocus(0, 1);
    TReportCell *kept = control.CellFromRC(0, 1);
    control.FLineList.erase(control.FLineList.begin() + 1);
    EXPECT_EQ(control.FSelectCells, (QList<TReportCell *>{kept}));
    EXPECT_EQ(control.FLastSelectCell, kept);
    control.line(0)->takeCell(1).reset();
    EXPECT_TRUE(control.FSelectCells.isEmpty());
    EXPECT_EQ(control.FLastSelectCell, nullptr);
}

// The rubber band against a plain reference: the selection holds exactly the cells (masters
// for covered cells) whose rectangles meet the band, previously selected cells keep their
// order, and Shift only adds.
TEST(Selection, RubberBandMatchesEveryCellItMeets)
{
    ScopedPrinterLayer layer;
    TReportControl control;
    addLines(control, 30, {60, 90, 40, 120, 70});
    for (int l = 0; l + 2 < 30; l += 7) {
        control.CellFromRC(l, 1)->AddOwnedCell(control.CellFromRC(l + 1, 1));
        control.CellFromRC(l, 1)->AddOwnedCell(control.CellFromRC(l + 2, 1));
    }
    control.UpdateLines();
    auto reference = [&control](const TRect &band) {
        QSet<TReportCell *> cells;
        for (int l = 0; l < control.lineCount(); ++l)
            for (int c = 0; c < control.line(l)->cellCount(); ++c) {
                TReportCell *cell = control.CellFromRC(l, c);
                if (cell->FCellRect.intersects(band))
                    cells.insert(cell->FOwnerCell ? cell->FOwnerCell : cell);
            }
        return cells;
    };
    const TRect page = control.line(29)->FLineRect;
    const QPoint anchor(control.FLeftMargin + 70, control.FTopMargin + 40);
    control.StartMouseSelect(anchor, true, MK_LBUTTON);
    QSet<TReportCell *> shiftBase;
    std::srand(7);
    for (int step = 0; step < 60; ++step) {
        const QPoint to(page.left - 20 + std::rand() % (page.width() + 40),
                        std::rand() % (page.bottom + 40));
        const bool shift = step % 5 == 4;
        const QList<TReportCell *> before = control.FSelectCells;
        control.MouseMoveHandler(to, shift ? MK_LBUTTON | MK_SHIFT : MK_LBUTTON);
        const TRect band{std::min(anchor.x(), to.x()),
                         std::min(anchor.y(), to.y()),
                         std::max(anchor.x(), to.x()) + (to.x() == anchor.x()),
                         std::max(anchor.y(), to.y()) + (to.y() == anchor.y())};
        const QList<TReportCell *> &now = control.FSelectCells;
        QSet<TReportCell *> expected = reference(band);
        if (shift)
            expected.unite(QSet<TReportCell *>(before.begin(), before.end()));
        ASSERT_EQ(QSet<TReportCell *>(now.begin(), now.end()), expected) << "step " << step;
        ASSERT_EQ(now.size(), expected.size()) << "a cell selected twice";
        // The cells kept are a prefix, in their old order.
        qsizetype k = 0;
        for (TReportCell *cell : before) {
            if (expected.contains(cell)) {
                ASSERT_EQ(now.at(k++), cell) << "step " << step;
            }
        }
        for (int l = 0; l < control.lineCount(); ++l)
            for (int c = 0; c < control.line(l)->cellCount(); ++c)
                ASSERT_EQ(control.IsCellSelected(control.CellFromRC(l, c)),
                          now.contains(control.CellFromRC(l, c)));
    }
    // Writing the list directly (clearing, appending) keeps the membership answers right.
    control.FSelectCells.clear();
    EXPECT_FALSE(control.IsCellSelected(control.CellFromRC(0, 0)));
    control.FSelectCells.append(control.CellFromRC(3, 3));
    EXPECT_TRUE(control.IsCellSelected(control.CellFromRC(3, 3)));
    EXPECT_FALSE(control.AddSelectedCell(control.CellFromRC(3, 3)));
}

// Every change of the page's content through the API is announced once; calls that change
// nothing are not.
struct ContentCase
{
    const char *name;
    std::function<void(TReportControl &)> act;
    int emitted;
};

class ContentChanged : public ::testing::TestWithParam<ContentCase>
{
};

TEST_P(ContentChanged, IsEmittedOncePerChange)
{
    ScopedPrinterLayer layer;
    TReportControl control;
    control.messageBoxHook = [](const QString &, const QString &) {};
    addLines(control, 3, {100, 100, 100});
    control.SetCallText(1, 1, QStringLiteral("12.5"));
    control.SetCellFocus(1, 1);
    int count = 0;
    QObject::connect(&control, &TReportControl::contentChanged, [&count] { ++count; });
    GetParam().act(control);
    EXPECT_EQ(count, GetParam().emitted);
}

using C = TReportControl;
INSTANTIATE_TEST_SUITE_P(
    Operations,
    ContentChanged,
    ::testing::Values(
        ContentCase{"AddLine", [](C &c) { c.AddLine(); }, 1},
        ContentCase{"InsertLine", [](C &c) { c.InsertLine(); }, 1},
        ContentCase{"DeleteLine", [](C &c) { c.DeleteLine(); }, 1},
        ContentCase{"AddCell", [](C &c) { c.AddCell(); }, 1},
        ContentCase{"InsertCell", [](C &c) { c.InsertCell(); }, 1},
        ContentCase{"DeleteCell", [](C &c) { c.DeleteCell(); }, 1},
        ContentCase{"CombineCell", [](C &c) { c.SetCellFocus(2, 1); c.CombineCell(); }, 1},
        ContentCase{"CombineRefused", [](C &c) { c.CombineCell(); }, 0},
        ContentCase{"SplitCell",
                    [](C &c) { c.SetCellFocus(2, 1); c.CombineCell(); c.SplitCell(); }, 2},
        ContentCase{"VSplitCell", [](C &c) { c.VSplitCell(3); }, 1},
        ContentCase{"ResetContent", [](C &c) { c.ResetContent(); }, 1},
        ContentCase{"NewTableRefusedOnAFilledPage", [](C &c) { c.NewTable(2, 2); }, 0},
        ContentCase{"SetCellLines",
                    [](C &c) { c.SetCellLines(true, false, true, false, 1, 1, 2, 1); }, 1},
        ContentCase{"SetCellAlign", [](C &c) { c.SetCellAlign(2, 0); }, 1},
        ContentCase{"SetCellColor", [](C &c) { c.SetCellColor(0xFF, 0xFF00); }, 1},
        ContentCase{"SetCellDiagonal", [](C &c) { c.SetCellDiagonal(LINE_LEFT1); }, 1},
        ContentCase{"SetCellFont", [](C &c) { c.SetCellFont(LOGFONT()); }, 1},
        ContentCase{"SetCellDispFormt", [](C &c) { c.SetCellDispFormt(QStringLiteral("0.0")); },
                    1},
        ContentCase{"FormatWithoutSelection",
                    [](C &c) { c.RemoveAllSelectedCell(); c.SetCellAlign(1, 1); }, 0},
        ContentCase{"SetCellSumText", [](C &c) { c.SetCellSumText(QStringLiteral("x")); }, 1},
        ContentCase{"SetCallText", [](C &c) { c.SetCallText(0, 2, QStringLiteral("流量")); }, 1},
        ContentCase{"SetCallTextSameText",
                    [](C &c) { c.SetCallText(1, 1, QStringLiteral("12.5")); }, 0},
        ContentCase{"SetTagID", [](C &c) { c.SetTagID(0, 0, QStringLiteral("Q")); }, 1},
        ContentCase{"SetScriptID", [](C &c) { c.SetScriptID(0, 0, 4); }, 1},
        ContentCase{"SetLineHegit", [](C &c) { c.SetLineHegit(0, 60); }, 1},
        ContentCase{"SetMargin", [](C &c) { c.SetMargin(30, 20, 10, 15); }, 1},
        ContentCase{"SameMargin", [](C &c) { c.SetMargin(20, 20, 10, 15); }, 0},
        ContentCase{"FreeBmpOfACellWithoutPicture",
                    [](C &c) {
                        TReportCell *cell = c.CellFromRC(0, 0);
                        cell->FBmp.reset();
                        c.FreeBmp(cell);
                    },
                    0},
        ContentCase{"SelectionIsNotContent",
                    [](C &c) { c.SetCellSFocus(0, 0, 2, 2); c.RemoveAllSelectedCell(); }, 0}),
    [](const ::testing::TestParamInfo<ContentCase> &info) { return info.param.name; });

TEST(Paint, PageOutlineCornerMarksAndSelection)
{
    ScopedPrinterLayer layer;
    TReportControl control;
    addLines(control, 2, {100, 100});
    control.SetCellFocus(0, 0);
    QImage img(control.size(), QImage::Format_RGB32);
    img.fill(Qt::red);
    {
        QPainter p(&img);
        control.WMPaint(p, img.rect());
    }
    EXPECT_EQ(img.pixel(0, 500), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(767, 500), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(400, 1057), qRgb(0, 0, 0));
    EXPECT_EQ(img.pixel(400, 30), qRgb(255, 255, 255));
    const int L = control.FLeftMargin;
    const int B = control.FPageHeight - control.FBottomMargin;
    EXPECT_EQ(img.pixel(L - 20, B), qRgb(0x80, 0x80, 0x80));
    EXPECT_EQ(img.pixel(L, B + 20), qRgb(0x80, 0x80, 0x80));
    const TRect sel = control.CellFromRC(0, 0)->FCellRect;
    EXPECT_EQ(img.pixel(sel.left + 50, sel.top + 2), qRgb(0, 0, 0)) << "white inverted";
    const TRect other = control.CellFromRC(0, 1)->FCellRect;
    EXPECT_EQ(img.pixel(other.left + 50, other.top + 2), qRgb(255, 255, 255));
    EXPECT_EQ(control.lastPaintedCellCount(), 4);
}

TEST(Paint, PicturesOfMastersFillTheBlockAndCoveredCellsShowNone)
{
    ScopedPrinterLayer layer;
    TReportControl control;
    addLines(control, 2, {100, 100});
    TReportCell *master = control.CellFromRC(0, 1);
    TReportCell *owned = control.CellFromRC(1, 1);
    master->AddOwnedCell(owned);
    control.UpdateLines();
    QImage red(4, 4, QImage::Format_RGB32);
    red.fill(Qt::red);
    QImage blue(4, 4, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    *owned->FBmp = red;
    owned->FbmpYn = true;
    *master->FBmp = blue;
    master->FbmpYn = true;
    master->SetBackGroundColor(0x0000FF00); // the picture shows over the background
    control.CellFromRC(0, 0)->FBmp.reset(); // a cell whose picture was freed
    for (const int zoom : {100, 50}) {
        control.SetScale(zoom);
        QImage img(control.size(), QImage::Format_RGB32);
        {
            QPainter p(&img);
            control.WMPaint(p, img.rect());
        }
        const double s = zoom / 100.0;
        const TRect r = master->FCellRect;
        const QRect inner(QPoint(int(std::ceil((r.left + 3) * s)), int(std::ceil((r.top + 3) * s))),
                          QPoint(int((r.right - 3) * s) - 1, int((r.bottom - 3) * s) - 1));
        for (const QPoint p : {inner.topLeft(), inner.bottomRight(), inner.center()})
            EXPECT_EQ(img.pixel(p), qRgb(0, 0, 255)) << "zoom " << zoom;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                ASSERT_NE(img.pixel(x, y), qRgb(255, 0, 0)) << "covered picture at zoom " << zoom;
    }
}

TEST(Paint, OnlyCellsInTheAreaArePainted)
{
    ScopedPrinterLayer layer;
    TReportControl control;
    addLines(control, 40, {100, 100, 100, 100, 100});
    QImage img(control.size(), QImage::Format_RGB32);
    QPainter p(&img);
    const TReportCell *c = control.CellFromRC(10, 2);
    control.WMPaint(p, c->cellRect().adjusted(2, 2, -2, -2));
    EXPECT_EQ(control.lastPaintedCellCount(), 1);
    control.WMPaint(p, QRect(0, 0, 768, control.line(3)->FLineTop - 1));
    EXPECT_EQ(control.lastPaintedCellCount(), 3 * 5);
}
