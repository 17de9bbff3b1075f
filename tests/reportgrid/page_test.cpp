// The page model on its own: editing by position, its change signals, the stream it writes, a
// new page's setup, and the views and painters that stand on it.

#include "atomicfile.h"
#include "error.h"
#include "gridfixture.h"
#include "pagepainter.h"
#include "reportcontrol.h"
#include "reportpage.h"
#include "reportstream.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace tessarin {
namespace {

// Texts line by line ('/'), cells by blanks, "_" for an empty text, a master marked "M" and a
// covered cell "c".
QString texts(const TReportPage &page)
{
    QStringList lines;
    for (const auto &line : page.FLineList) {
        QStringList cells;
        for (const auto &cell : line->FCells) {
            const QString mark = cell->isMaster() ? "M" : cell->isOwned() ? "c" : "";
            cells << mark + (cell->FCellText.isEmpty() ? "_" : cell->FCellText);
        }
        lines << cells.join(' ');
    }
    return lines.join('/');
}

QString widths(const TReportPage &page)
{
    QStringList lines;
    for (const auto &line : page.FLineList) {
        QStringList cells;
        for (const auto &cell : line->FCells)
            cells << QString::number(cell->FCellWidth);
        lines << cells.join(' ');
    }
    return lines.join('/');
}

// Three lines of three cells on an A4 page, texts "11" to "33".
void fillTable(TReportPage &page)
{
    page.NewTable(3, 3);
    for (int l = 0; l < 3; ++l)
        for (int c = 0; c < 3; ++c)
            page.SetCallText(l, c, QStringLiteral("%1%2").arg(l + 1).arg(c + 1));
    page.UpdateLines();
}

struct Signals
{
    explicit Signals(TReportPage &page)
        : content(&page, &TReportPage::contentChanged)
        , restructure(&page, &TReportPage::aboutToRestructure)
        , removed(&page, &TReportPage::cellRemoved)
        , areas(&page, &TReportPage::areasChanged)
        , cells(&page, &TReportPage::cellsChanged)
    {}
    QSignalSpy content;
    QSignalSpy restructure;
    QSignalSpy removed;
    QSignalSpy areas;
    QSignalSpy cells;
};

TEST(ReportPage, StructureEditsByPosition)
{
    struct Case
    {
        const char *name;
        std::function<bool(TReportPage &)> edit; // false: the page refused
        bool done;
        QString texts;
        QString widths;
        int removed; // cells freed
    };
    const QString untouched = "11 12 13/21 22 23/31 32 33";
    const QString square = "218 218 218/218 218 218/218 218 218";
    const Case cases[] = {
        {"append a line",
         [](TReportPage &p) { return p.AddLine(); },
         true,
         "11 12 13/21 22 23/31 32 33/_ _ _",
         square + "/218 218 218",
         0},
        {"insert a line",
         [](TReportPage &p) { return p.InsertLine(1); },
         true,
         "11 12 13/_ _ _/21 22 23/31 32 33",
         square + "/218 218 218",
         0},
        {"insert below the last line",
         [](TReportPage &p) { return p.InsertLine(3); },
         false,
         untouched,
         square,
         0},
        {"delete the lines of two cells",
         [](TReportPage &p) {
             return p.DeleteLine({{0, 1}, {2, 2}, {7, 0}});
         },
         true,
         "21 22 23",
         "218 218 218",
         6},
        {"delete lines of no cell",
         [](TReportPage &p) {
             return p.DeleteLine({{5, 0}});
         },
         false,
         untouched,
         square,
         0},
        {"append a cell",
         [](TReportPage &p) {
             return p.AddCell({1, 0});
         },
         true,
         "11 12 13/21 22 23 _/31 32 33",
         "218 218 218/218 218 218 218/218 218 218",
         0},
        {"insert a cell",
         [](TReportPage &p) {
             return p.InsertCell({1, 1});
         },
         true,
         "11 12 13/21 _ 22 23/31 32 33",
         "218 218 218/218 218 218 218/218 218 218",
         0},
        {"delete a whole line's cells",
         [](TReportPage &p) {
             return p.DeleteCell({{1, 0}, {1, 1}, {1, 2}});
         },
         true,
         "11 12 13/31 32 33",
         "218 218 218/218 218 218",
         3},
        {"merge a square",
         [](TReportPage &p) {
             return p.CombineCell({{0, 0}, {0, 1}, {1, 0}, {1, 1}}) == TCellPos{0, 0};
         },
         true,
         "M1121 13/c_ 23/31 32 33",
         "436 218/436 218/218 218 218",
         2},
        {"merge cells that form no rectangle",
         [](TReportPage &p) {
             return p.CombineCell({{0, 0}, {1, 1}}).line >= 0;
         },
         false,
         untouched,
         square,
         0},
        {"merge, then split",
         [](TReportPage &p) {
             return p.CombineCell({{0, 2}, {1, 2}, {2, 2}}) == TCellPos{0, 2}
                    && p.SplitCell({0, 2});
         },
         true,
         "11 12 132333/21 22 _/31 32 _",
         square,
         0},
        {"split a cell that covers none",
         [](TReportPage &p) {
             return p.SplitCell({0, 0});
         },
         false,
         untouched,
         square,
         0},
        {"delete a master with its block",
         [](TReportPage &p) {
             return p.CombineCell({{1, 0}, {2, 0}}).line == 1 && p.DeleteCell({{1, 0}});
         },
         true,
         "11 12 13/22 23/32 33",
         "218 218 218/218 218/218 218",
         2},
        {"split into columns",
         [](TReportPage &p) {
             return p.VSplitCell({2, 2}, 3);
         },
         true,
         "11 12 13/21 22 23/31 32 33 _ _",
         "218 218 218/218 218 218/218 218 72 74 72",
         0},
        {"split a covered cell",
         [](TReportPage &p) {
             p.CombineCell({{0, 0}, {1, 0}});
             return p.VSplitCell({1, 0}, 2);
         },
         false,
         "M1121 12 13/c_ 22 23/31 32 33",
         square,
         0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TReportPage page;
        fillTable(page);
        Signals spy(page);
        EXPECT_EQ(c.edit(page), c.done);
        EXPECT_EQ(texts(page), c.texts);
        EXPECT_EQ(widths(page), c.widths);
        EXPECT_EQ(spy.removed.count(), c.removed);
        if (!c.done && texts(page) == untouched) {
            EXPECT_EQ(spy.content.count(), 0);
            EXPECT_EQ(spy.restructure.count(), 0);
        } else {
            EXPECT_GE(spy.content.count(), 1);
            EXPECT_FALSE(spy.areas.isEmpty());
        }
        // Whatever the edit left is laid out and survives its own stream unchanged.
        const QByteArray bytes = savePageStream(page);
        TReportPage again;
        loadPageStream(again, bytes);
        EXPECT_EQ(texts(again), c.texts);
        EXPECT_EQ(savePageStream(again), bytes);
    }
}

TEST(ReportPage, FormatsAndTextsByPosition)
{
    struct Case
    {
        const char *name;
        std::function<void(TReportPage &, const TCellPositions &)> edit;
        std::function<QString(const TReportCell &)> field;
        QString before;
        QString after;
    };
    const auto num = [](auto v) { return QString::number(v); };
    const Case cases[] = {
        {"borders",
         [](TReportPage &p, const TCellPositions &at) {
             p.SetCellLines(at, false, true, false, true, 1, 2, 3, 4);
         },
         [](const TReportCell &c) {
             return QStringLiteral("%1%2%3%4 %5%6")
                 .arg(int(c.FLeftLine))
                 .arg(int(c.FTopLine))
                 .arg(int(c.FRightLine))
                 .arg(int(c.FBottomLine))
                 .arg(c.FTopLineWidth)
                 .arg(c.FBottomLineWidth);
         },
         "1111 11",
         "0101 24"},
        {"alignment",
         [](TReportPage &p, const TCellPositions &at) { p.SetCellAlign(at, 2, 0); },
         [num](const TReportCell &c) { return num(c.FHorzAlign) + num(c.FVertAlign); },
         "01",
         "20"},
        {"colours",
         [](TReportPage &p, const TCellPositions &at) { p.SetCellColor(at, 0xFF, 0xFF00); },
         [num](const TReportCell &c) { return num(c.FTextColor) + ' ' + num(c.FBackGroundColor); },
         "0 16777215",
         "255 65280"},
        {"diagonal",
         [](TReportPage &p, const TCellPositions &at) {
             p.SetCellDiagonal(at, LINE_LEFT1 | LINE_RIGHT2);
         },
         [num](const TReportCell &c) { return num(c.FDiagonal); },
         "0",
         "513"},
        {"display format",
         [](TReportPage &p, const TCellPositions &at) { p.SetCellDispFormt(at, "0.00"); },
         [](const TReportCell &c) { return c.FCellDispFormat + '|' + c.displayText(); },
         "|7",
         "0.00|7.00"},
        {"text",
         [](TReportPage &p, const TCellPositions &at) { p.SetCellSumText(at, "sum"); },
         [](const TReportCell &c) { return c.FCellText; },
         "7",
         "sum"},
    };
    const TCellPositions at{{0, 1}, {2, 0}, {9, 9}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TReportPage page;
        page.NewTable(2, 3);
        for (int l = 0; l < 3; ++l)
            for (int k = 0; k < 2; ++k)
                page.SetCallText(l, k, "7");
        Signals spy(page);
        c.edit(page, {});
        EXPECT_EQ(spy.content.count(), 0) << "no cell, no change";
        c.edit(page, at);
        EXPECT_EQ(spy.content.count(), 1);
        ASSERT_EQ(spy.cells.count(), 1);
        EXPECT_EQ(spy.cells.at(0).at(0).value<TCellPositions>(), (TCellPositions{{0, 1}, {2, 0}}));
        for (int l = 0; l < 3; ++l)
            for (int k = 0; k < 2; ++k) {
                const bool hit = (l == 0 && k == 1) || (l == 2 && k == 0);
                EXPECT_EQ(c.field(*page.CellFromRC(l, k)), hit ? c.after : c.before)
                    << l << "," << k;
            }
    }
}

TEST(ReportPage, LoadReplacesThePageOrNothing)
{
    TReportPage source;
    fillTable(source);
    source.CombineCell({{0, 0}, {1, 0}});
    const QByteArray good = savePageStream(source);

    TReportPage page;
    page.NewTable(1, 1);
    Signals spy(page);
    QSignalSpy reset(&page, &TReportPage::pageReset);
    loadPageStream(page, good);
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(spy.content.count(), 1);
    EXPECT_EQ(spy.removed.count(), 1);
    EXPECT_EQ(page.loadedStreamVersion(), 3);
    EXPECT_EQ(texts(page), texts(source));

    // A damaged stream throws and leaves the page and its signals alone.
    QByteArray cut = good.left(good.size() / 2);
    EXPECT_THROW(loadPageStream(page, cut), Error);
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(spy.content.count(), 1);
    EXPECT_EQ(savePageStream(page), good);
}

TEST(ReportPage, NewPageTakesItsSetupAndNeverThePrinter)
{
    // An installed letter printer that a page must not consult.
    auto layer = std::make_unique<FixedPrinterLayer>();
    layer->installed = true;
    layer->pageSize = {5100, 6600};
    layer->mode = {DM_ORIENTATION | DM_PAPERSIZE, 1, 1, 2794, 2159};
    gridtest::ScopedPrinterLayer printer(std::move(layer));

    PageSetup landscape;
    landscape.width = 1123;
    landscape.height = 794;
    landscape.dpiX = 120;
    landscape.leftMarginMm = 10;
    landscape.paperSize = 8;
    landscape.orientation = 2;
    struct Case
    {
        PageSetup setup;
        QList<int> expected; // size, margins in pixels, paper
    };
    const Case cases[] = {
        {PageSetup::a4(), {768, 1058, 77, 77, 38, 58, 9, 1, 0, 0}},
        {landscape, {1123, 794, 48, 96, 48, 72, 8, 2, 0, 0}},
    };
    for (const Case &c : cases) {
        TReportPage page(c.setup);
        TReportControl view(c.setup);
        for (const TReportPage *p : {&page, &view.page()}) {
            const QList<int> got{p->FPageWidth,
                                 p->FPageHeight,
                                 p->FLeftMargin,
                                 p->FTopMargin,
                                 p->FRightMargin,
                                 p->FBottomMargin,
                                 p->FPaperSize,
                                 p->FOrientation,
                                 p->FPaperLength,
                                 p->FPaperWidth};
            EXPECT_EQ(got, c.expected);
        }
        EXPECT_EQ(view.size(), QSize(c.setup.width, c.setup.height));
    }
    // The view made without a setup still takes the printer's page, as the program asks.
    TReportControl fromPrinter;
    EXPECT_EQ(fromPrinter.FPageWidth, 816);
    EXPECT_EQ(fromPrinter.FPaperSize, 1);
    EXPECT_EQ(fromPrinter.FPaperLength, 2794);
}

// A view given a page: edits made on the page directly reach the view, the view's selection
// never keeps a freed cell, and the view's operations on its selection equal the page's on the
// same positions.
TEST(ReportPage, ViewFollowsItsPage)
{
    TReportPage page;
    fillTable(page);
    TReportControl view(page);
    view.show();
    QSignalSpy viewContent(&view, &TReportControl::contentChanged);
    view.SetCellFocus(1, 0);
    view.SetCellFocus(1, 2);
    view.SetCellFocus(2, 2);
    view.EditCell(view.CellFromRC(1, 2));
    ASSERT_TRUE(view.isEditing());

    page.DeleteLine({{1, 1}});
    EXPECT_FALSE(view.isEditing());
    ASSERT_EQ(view.FSelectCells.size(), 1);
    EXPECT_EQ(view.FSelectCells.first(), page.CellFromRC(1, 2));
    EXPECT_EQ(view.selectedPositions(), (TCellPositions{{1, 2}}));
    EXPECT_EQ(viewContent.count(), 1);

    struct Case
    {
        const char *name;
        TCellPositions selection;
        std::function<void(TReportControl &)> onView;
        std::function<void(TReportPage &)> onPage;
    };
    const Case cases[] = {
        {"merge",
         {{0, 1}, {1, 1}, {0, 2}, {1, 2}},
         [](TReportControl &v) { v.CombineCell(); },
         [](TReportPage &p) {
             p.CombineCell({{0, 1}, {1, 1}, {0, 2}, {1, 2}});
         }},
        {"delete cells",
         {{1, 0}, {0, 2}},
         [](TReportControl &v) { v.DeleteCell(); },
         [](TReportPage &p) {
             p.DeleteCell({{1, 0}, {0, 2}});
         }},
        {"insert line",
         {{1, 1}},
         [](TReportControl &v) { v.InsertLine(); },
         [](TReportPage &p) { p.InsertLine(1); }},
        {"font",
         {{0, 0}, {1, 2}},
         [](TReportControl &v) { v.SetCellFont(LOGFONT()); },
         [](TReportPage &p) {
             p.SetCellFont({{0, 0}, {1, 2}}, LOGFONT());
         }},
        {"vertical split",
         {{0, 0}},
         [](TReportControl &v) { v.VSplitCell(4); },
         [](TReportPage &p) {
             p.VSplitCell({0, 0}, 4);
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TReportControl viewed(PageSetup::a4());
        fillTable(viewed.page());
        TReportPage direct;
        fillTable(direct);
        QSignalSpy content(&viewed, &TReportControl::contentChanged);
        for (const TCellPos &pos : c.selection)
            viewed.SetCellFocus(pos.line, pos.cell);
        c.onView(viewed);
        c.onPage(direct);
        EXPECT_EQ(content.count(), 1);
        EXPECT_EQ(texts(viewed.page()), texts(direct));
        EXPECT_EQ(savePageStream(viewed), savePageStream(direct));
        const TCellPositions selected = viewed.selectedPositions();
        for (qsizetype i = 0; i < selected.size(); ++i)
            EXPECT_EQ(viewed.page().cellAt(selected[i]), viewed.FSelectCells.at(i));
    }
}

// The page painter draws what the view prints, and the page exports itself without a view.
TEST(ReportPage, PainterDrawsThePageAsTheViewPrintsIt)
{
    TReportControl view(PageSetup::a4());
    fillTable(view.page());
    view.page().CombineCell({{1, 1}, {2, 1}});
    view.page().SetCellBackColor({{0, 0}}, 0x00C0FFC0);
    view.SetCellFocus(0, 2); // the selection is the screen's, never printed

    const QSize size(384, 529);
    auto blank = [&size] {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::white);
        return image;
    };
    QImage fromView = blank();
    view.ExportToPicture(fromView, size);
    QImage fromPage = blank();
    view.page().ExportToPicture(fromPage, size);
    QImage fromPainter = blank();
    {
        QPainter painter(&fromPainter);
        EXPECT_EQ(PagePainter(view.page(), painter).paintScaled(size), 8);
    }
    EXPECT_TRUE(fromView == fromPage);
    EXPECT_TRUE(fromView == fromPainter);
    EXPECT_FALSE(fromView == blank());

    // A screen-only text is left out of print by the painter's predicate.
    QImage withoutText = blank();
    {
        QPainter painter(&withoutText);
        PagePainter pagePainter(view.page(), painter);
        pagePainter.isScreenOnlyText = [](const TReportCell &c) { return c.FCellText == "13"; };
        pagePainter.paintScaled(size);
    }
    EXPECT_FALSE(withoutText == fromPage);
}

// A page writes itself as PDF on its own paper, with no printer and no view.
TEST(ReportPage, PdfOnThePagesOwnPaper)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case
    {
        int paper, orientation, length, width;
        QString mediaBox; // points
    };
    const Case cases[] = {
        {9, 1, 0, 0, "0 0 595 842"},         // A4 portrait
        {8, 2, 0, 0, "0 0 1191 842"},        // A3 landscape
        {256, 1, 2000, 1000, "0 0 283 567"}, // custom 100 x 200 mm
        {0, 0, 0, 0, "0 0 595 842"},         // no paper of its own: A4
    };
    for (const Case &c : cases) {
        TReportPage page;
        fillTable(page);
        page.FPaperSize = c.paper;
        page.FOrientation = c.orientation;
        page.FPaperLength = c.length;
        page.FPaperWidth = c.width;
        const QString file = dir.filePath("page.pdf");
        page.SaveToPdf(file);
        const QByteArray pdf = readWholeFile(file);
        EXPECT_TRUE(pdf.startsWith("%PDF-")) << c.paper;
        const auto box = QRegularExpression(QStringLiteral("/MediaBox \\[([^\\]]*)\\]"))
                             .match(QString::fromLatin1(pdf));
        QStringList points;
        for (const QString &n : box.captured(1).simplified().split(' '))
            points << QString::number(qRound(n.toDouble()));
        EXPECT_EQ(points.join(' ').toStdString(), c.mediaBox.toStdString()) << c.paper;
    }
    TReportPage page;
    EXPECT_THROW(page.SaveToPdf(dir.filePath("missing/page.pdf")), Error);
}

} // namespace
} // namespace tessarin
