// Printing and export: the isotropic mapping of the page onto a device, what print mode leaves
// out, print jobs onto PDF files, and the printer's device mode.

#include "gridfixture.h"

#include "error.h"
#include "printdevice.h"

#include <QFile>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace tessarin;

namespace {

class Printing : public ::testing::Test
{
protected:
    gridtest::ScopedPrinterLayer printer;
    TReportControl page;

    // One cell covering the whole page, filled black.
    void blackPage(int width, int height)
    {
        page.SetWndSize(width, height);
        page.FLeftMargin = 0;
        page.FTopMargin = 0;
        gridtest::addLines(page, 1, {width});
        page.line(0)->SetDragHeight(height);
        page.CellFromRC(0, 0)->SetBackGroundColor(clBlack);
        page.UpdateLines();
    }

    QImage exported(const QSize &size)
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::white);
        page.ExportToPicture(image, size);
        return image;
    }
};

// The box of pixels darker than light grey.
QRect inkBox(const QImage &image, QRgb match = 0)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            const bool hit = match ? (p & 0xFFFFFF) == (match & 0xFFFFFF) : qGray(p) < 128;
            if (hit)
                box |= QRect(x, y, 1, 1);
        }
    return box;
}

} // namespace

struct Mapping
{
    QSize page;
    QSize area;
    QSize covered; // expected extent of the page on the device
};

class IsotropicMapping : public Printing, public ::testing::WithParamInterface<Mapping>
{
};

TEST_P(IsotropicMapping, UsesTheSmallerRatioForBothAxesAnchoredTopLeft)
{
    const Mapping m = GetParam();
    blackPage(m.page.width(), m.page.height());
    const QRect ink = inkBox(exported(m.area));
    EXPECT_LE(ink.left(), 1);
    EXPECT_LE(ink.top(), 2);
    EXPECT_NEAR(ink.right() + 1, m.covered.width(), 2);
    EXPECT_NEAR(ink.bottom() + 1, m.covered.height(), 2);
}

// 768 x 1058 on 480 x 660: 660 / 1058 is the smaller ratio, so the width is 479. A landscape
// page on a portrait area leaves the lower part of the area empty.
INSTANTIATE_TEST_SUITE_P(Pages,
                         IsotropicMapping,
                         ::testing::Values(Mapping{{768, 1058}, {480, 660}, {479, 660}},
                                           Mapping{{1058, 768}, {480, 660}, {480, 348}},
                                           Mapping{{400, 400}, {200, 300}, {200, 200}}));

TEST_F(Printing, ZoomDoesNotChangeWhatIsPrinted)
{
    blackPage(768, 1058);
    const QRect atFull = inkBox(exported(QSize(480, 660)));
    page.SetScale(50);
    EXPECT_EQ(inkBox(exported(QSize(480, 660))), atFull);
}

TEST_F(Printing, PrintModeDrawsOnlySetBordersAndSkipsCoveredCells)
{
    page.SetWndSize(300, 300);
    gridtest::addLines(page, 2, {100, 100});
    for (int l = 0; l < 2; ++l)
        for (int c = 0; c < 2; ++c) {
            TReportCell *cell = page.CellFromRC(l, c);
            cell->SetLeftLine(false);
            cell->SetTopLine(false);
            cell->SetRightLine(false);
            cell->SetBottomLine(false);
        }
    TReportCell *master = page.CellFromRC(0, 0);
    TReportCell *covered = page.CellFromRC(1, 0);
    master->AddOwnedCell(covered);
    QImage red(4, 4, QImage::Format_RGB32);
    red.fill(Qt::red);
    QImage blue(4, 4, QImage::Format_RGB32);
    blue.fill(Qt::blue);
    covered->FBmp = std::make_unique<QImage>(red);
    covered->FbmpYn = true;
    master->FBmp = std::make_unique<QImage>(blue);
    master->FbmpYn = true;
    page.UpdateLines();

    const QImage image = exported(QSize(300, 300));
    EXPECT_TRUE(inkBox(image, qRgb(255, 0, 0)).isNull()) << "covered cell's picture drawn";
    EXPECT_TRUE(inkBox(image, qRgb(0xC0, 0xC0, 0xC0)).isNull()) << "grey screen edges printed";
    // The master's picture fills its whole block, 3 pixels inside the rectangle.
    const QRect blueBox = inkBox(image, qRgb(0, 0, 255));
    const TRect r = master->FCellRect;
    EXPECT_EQ(blueBox, QRect(r.left + 3, r.top + 3, r.width() - 6, r.height() - 6));
}

TEST_F(Printing, SetBordersShowOverTheBackgroundOfTheCellBeside)
{
    // The right border of the first cell lies on the left edge of the second, whose background
    // fill starts on that edge; on paper, as on screen, the border stays visible.
    page.SetWndSize(300, 300);
    page.FLeftMargin = 0;
    gridtest::addLines(page, 2, {100, 100});
    for (int l = 0; l < 2; ++l)
        for (int c = 0; c < 2; ++c) {
            TReportCell *cell = page.CellFromRC(l, c);
            cell->SetLeftLine(false);
            cell->SetTopLine(false);
            cell->SetRightLine(c == 0);
            cell->SetBottomLine(l == 0 && c == 1);
            if (c == 1)
                cell->SetBackGroundColor(0x000000FF);
        }
    page.UpdateLines();

    const QImage image = exported(QSize(300, 300));
    const TRect left = page.CellFromRC(0, 0)->FCellRect;
    const TRect right = page.CellFromRC(0, 1)->FCellRect;
    const int y = (left.top + left.bottom) / 2;
    EXPECT_EQ(image.pixelColor(left.right, y), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(left.right + 2, y), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(right.left + 10, right.bottom), QColor(Qt::black));
    EXPECT_TRUE(inkBox(image, qRgb(0xC0, 0xC0, 0xC0)).isNull()) << "grey screen edges printed";
}

TEST_F(Printing, PrintItNeedsARunningJobAndWritesAPdfWithEmbeddedText)
{
    gridtest::addLines(page, 2, {200, 200});
    page.SetCallText(0, 0, QStringLiteral("离心泵"));
    page.UpdateLines();
    EXPECT_THROW(page.PrintIt(), Error);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("page.pdf"));
    QPrinter pdf(QPrinter::HighResolution);
    pdf.setOutputFormat(QPrinter::PdfFormat);
    pdf.setOutputFileName(path);
    applyPaperToPrinter(pdf, 9, 1, 0, 0);
    {
        TPrintJob job(pdf);
        EXPECT_EQ(TPrintJob::current(), &job);
        EXPECT_THROW(TPrintJob other(pdf), Error);
        page.PrintIt();
        job.NewPage();
        page.PrintIt();
        job.EndDoc();
        EXPECT_EQ(TPrintJob::current(), nullptr);
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.startsWith("%PDF"));
    EXPECT_NE(bytes.indexOf("/FontFile"), -1) << "font not embedded";
    EXPECT_NE(bytes.indexOf("/ToUnicode"), -1) << "text not selectable";
    EXPECT_EQ(bytes.count("/Type /Page") - bytes.count("/Type /Pages"), 2);
}

struct PaperCase
{
    int paper, orientation, length, width;
    QPageSize::PageSizeId id;
    QPageLayout::Orientation expected;
};

class PaperOfAPage : public ::testing::TestWithParam<PaperCase>
{
};

TEST_P(PaperOfAPage, MapsToTheQtPageSize)
{
    const PaperCase c = GetParam();
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    applyPaperToPrinter(printer, c.paper, c.orientation, c.length, c.width);
    const QPageLayout layout = printer.pageLayout();
    EXPECT_EQ(layout.orientation(), c.expected);
    if (c.id == QPageSize::Custom) {
        const QSizeF mm = layout.pageSize().size(QPageSize::Millimeter);
        EXPECT_NEAR(mm.width(), c.width / 10.0, 0.5);
        EXPECT_NEAR(mm.height(), c.length / 10.0, 0.5);
    } else {
        EXPECT_EQ(layout.pageSize().id(), c.id);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Papers,
    PaperOfAPage,
    ::testing::Values(PaperCase{9, 1, 0, 0, QPageSize::A4, QPageLayout::Portrait},
                      PaperCase{8, 2, 0, 0, QPageSize::A3, QPageLayout::Landscape},
                      PaperCase{1, 0, 0, 0, QPageSize::Letter, QPageLayout::Portrait},
                      PaperCase{0, 1, 1500, 1000, QPageSize::Custom, QPageLayout::Portrait},
                      PaperCase{0, 1, 0, 0, QPageSize::A4, QPageLayout::Portrait}));

TEST_F(Printing, DeviceModeDescribesTheCurrentPrinterOrFailsWithItsMessage)
{
    printer.layer().installed = true;
    prDeviceMode();
    EXPECT_EQ(Adevice, QStringLiteral("Test Printer"));
    EXPECT_EQ(DevMode, &printer.layer().mode);
    EXPECT_NE(DeviceHandle, 0u);

    printer.layer().hasDeviceMode = false;
    try {
        prDeviceMode();
        FAIL();
    } catch (const Error &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Could Not Initialize TdeviceMode Structure"));
    }
    EXPECT_EQ(DevMode, nullptr);
    EXPECT_EQ(DeviceHandle, 0u);
}
