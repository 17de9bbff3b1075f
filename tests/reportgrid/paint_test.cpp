// What a page shows: display formats of number texts, one picture of the page on screen and on
// paper, PDF text that copies out as drawn, each sheet on its page's paper, and bold titles.

#include "dispformat.h"
#include "gridfixture.h"
#include "printdevice.h"
#include "reportstream.h"

#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <functional>

#include <gtest/gtest.h>

using namespace tessarin;

namespace {

// ---- the format language ----

struct FormatCase
{
    const char *text;
    const char *format;
    const char *shown;
};

class DisplayFormat : public ::testing::TestWithParam<FormatCase>
{
};

TEST_P(DisplayFormat, ShowsANumberTextAsTheFormatAsks)
{
    const FormatCase c = GetParam();
    EXPECT_EQ(formatCellText(QString::fromUtf8(c.text), QString::fromUtf8(c.format)),
              QString::fromUtf8(c.shown))
        << c.text << " as " << c.format;
}

INSTANTIATE_TEST_SUITE_P(
    Fixed,
    DisplayFormat,
    ::testing::Values(FormatCase{"21.6956927", "0.00", "21.70"},
                      FormatCase{"21.6956927", "0", "22"},
                      FormatCase{"1e3", "0.0", "1000.0"},
                      FormatCase{"+.5", "0", "1"},
                      FormatCase{"2.5", "0", "3"},         // half away from zero, not to even
                      FormatCase{"0.125", "0.00", "0.13"}, // exactly half in binary too
                      FormatCase{"1.005", "0.00", "1.00"}, // 1.00499999... as a double
                      FormatCase{"-0.001", "0.00", "0.00"},
                      FormatCase{"99.996", "0.00", "100.00"}));

// Typed inputs: whole values lose the run's ".0", everything else stays as typed.
INSTANTIATE_TEST_SUITE_P(General,
                         DisplayFormat,
                         ::testing::Values(FormatCase{"50.0", "G", "50"},
                                           FormatCase{"5E1", "G", "50"},
                                           FormatCase{"-0.0", "G", "0"},
                                           FormatCase{"1.5", "G", "1.5"},
                                           FormatCase{"2.50", "G", "2.50"},
                                           FormatCase{"1e300", "G", "1e300"},
                                           FormatCase{"101.0\r\n", "G", "101"},
                                           FormatCase{"P-101", "G", "P-101"}));

INSTANTIATE_TEST_SUITE_P(SignificantAndScientific,
                         DisplayFormat,
                         ::testing::Values(FormatCase{"21.6956927", "@@@", "21.7"},
                                           FormatCase{"2", "@@@", "2.00"},
                                           FormatCase{"123456", "@@@", "123000"},
                                           FormatCase{"0.000123456", "@@@", "0.000123"},
                                           FormatCase{"-0.5", "@@", "-0.50"},
                                           FormatCase{"0", "@@@", "0.00"},
                                           FormatCase{"9.996", "@@@", "10.0"},
                                           FormatCase{"999999999999999", "@@@", "1.00E+15"},
                                           FormatCase{" 1.5e-16 ", "@@", "1.5E-16"},
                                           FormatCase{"1.5e-15", "@@", "0.0000000000000015"},
                                           FormatCase{"21.6956927", "0.00E+00", "2.17E+01"},
                                           FormatCase{"0.000123", "0.0E+00", "1.2E-04"},
                                           FormatCase{"0", "0.00E+00", "0.00E+00"},
                                           FormatCase{"-12345", "0.00e+000", "-1.23e+004"},
                                           FormatCase{"1e100", "0E+00", "1E+100"}));

INSTANTIATE_TEST_SUITE_P(
    ChoicesAndTextsLeftAlone,
    DisplayFormat,
    ::testing::Values(FormatCase{"1", "合格|不合格", "合格"},
                      FormatCase{"-0.2", "合格|不合格", "合格"},
                      FormatCase{"0", "合格|不合格", "不合格"},
                      FormatCase{"-0.0", "合格|不合格", "不合格"},
                      FormatCase{"abc", "0.00", "abc"},
                      FormatCase{"1.5e", "0.00", "1.5e"},
                      FormatCase{"1,5", "0.00", "1,5"},
                      FormatCase{"1e400", "0.00", "1e400"},
                      FormatCase{"12\r\n", "0.00", "12.00"}, // an edit box's line break
                      FormatCase{"", "0.00", ""},
                      FormatCase{"3.7", "", "3.7"},
                      FormatCase{"3.7", "#,##0", "3.7"},
                      FormatCase{"3.7", "00.0", "3.7"},
                      FormatCase{"3.7", "a|b|c", "3.7"},
                      FormatCase{"3.7", "0.00E00", "3.7"},
                      FormatCase{"3.7", "@@@@@@@@@@@@@@@@@@", "3.7"})); // 18 digits: none

// ---- pages ----

// A page laid out from a list of cell widths per line, with no printer installed.
class PagePicture : public ::testing::Test
{
protected:
    gridtest::ScopedPrinterLayer printer;
    TReportControl page;

    QImage screen()
    {
        QImage image(page.size(), QImage::Format_RGB32);
        image.fill(Qt::red); // anything the page leaves unpainted shows
        QPainter painter(&image);
        page.WMPaint(painter, image.rect());
        return image;
    }

    QImage paper()
    {
        QImage image(page.size(), QImage::Format_RGB32);
        image.fill(Qt::white);
        page.ExportToPicture(image, image.size());
        return image;
    }
};

int inkPixels(const QImage &image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += qGray(image.pixel(x, y)) < 160;
    return n;
}

struct PageSetup
{
    const char *name;
    std::function<void(TReportControl &)> build;
};

class ScreenAndPaper : public PagePicture, public ::testing::WithParamInterface<PageSetup>
{
};

// Screen and paper differ only in the screen's own marks: grey edges of borders that are not
// set, the margin corners (grey) and the page outline.
TEST_P(ScreenAndPaper, PaintTheSamePixelsApartFromTheScreenMarks)
{
    GetParam().build(page);
    const QImage s = screen();
    const QImage p = paper();
    ASSERT_EQ(s.size(), p.size());
    int differing = 0;
    for (int y = 1; y < s.height() - 1; ++y)
        for (int x = 1; x < s.width() - 1; ++x) {
            const QRgb a = s.pixel(x, y) & 0xFFFFFF;
            if (a == 0xC0C0C0 || a == 0x808080)
                continue;
            differing += a != (p.pixel(x, y) & 0xFFFFFF);
        }
    EXPECT_EQ(differing, 0);
    EXPECT_GT(inkPixels(p), 500) << "the page printed nothing";
}

QImage filled(QColor color)
{
    QImage image(6, 4, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

INSTANTIATE_TEST_SUITE_P(
    Pages,
    ScreenAndPaper,
    ::testing::Values(
        PageSetup{"MergedBlocksWithPictures",
                  [](TReportControl &page) {
                      gridtest::addLines(page, 4, {150, 150, 150});
                      TReportCell *master = page.CellFromRC(0, 1);
                      master->AddOwnedCell(page.CellFromRC(1, 1));
                      master->AddOwnedCell(page.CellFromRC(2, 1));
                      *master->FBmp = filled(Qt::blue);
                      master->FbmpYn = true;
                      *page.CellFromRC(1, 1)->FBmp = filled(Qt::red);
                      page.CellFromRC(1, 1)->FbmpYn = true;
                      *page.CellFromRC(3, 2)->FBmp = filled(Qt::darkGreen);
                      page.CellFromRC(3, 2)->FbmpYn = true;
                      page.CellFromRC(3, 2)->SetBackGroundColor(0x0000FFFF);
                      page.UpdateLines();
                  }},
        PageSetup{"TextsBordersAndFormats",
                  [](TReportControl &page) {
                      gridtest::addLines(page, 4, {160, 240, 200});
                      const char *texts[] = {"离心泵数据表",
                                             "流量 Q",
                                             "21.6956927",
                                             "扬程 H (m)\r\n第二行",
                                             "1",
                                             "0.000123",
                                             "一段很长的说明文字，需要在单元格里折行显示才放得下",
                                             "≤ ≥ ± ℃",
                                             "0"};
                      const char *formats[]
                          = {"", "", "0.00", "", "合格|不合格", "0.0E+00", "", "", "合格|不合格"};
                      for (int i = 0; i < 12; ++i) {
                          TReportCell *cell = page.CellFromRC(i / 3, i % 3);
                          if (i < 9) {
                              cell->SetCellText(QString::fromUtf8(texts[i]));
                              cell->SetCellDispFormat(QString::fromUtf8(formats[i]));
                          }
                          cell->FHorzAlign = i % 3;
                          cell->FVertAlign = (i + 1) % 3;
                          cell->SetLeftLine(i % 2 == 0);
                          cell->SetTopLine(i % 3 != 1);
                          cell->SetBottomLineWidth(1 + i % 3);
                          if (i % 4 == 1)
                              cell->SetBackGroundColor(0x00C0FFC0);
                          cell->FDiagonal = i % 5 == 0 ? LINE_LEFT1 | LINE_RIGHT3 : 0;
                      }
                      LOGFONT bold = page.CellFromRC(0, 0)->FLogFont;
                      bold.lfWeight = 700;
                      bold.lfHeight = -24;
                      page.CellFromRC(0, 0)->SetLogFont(bold);
                      page.UpdateLines();
                  }}),
    [](const ::testing::TestParamInfo<PageSetup> &info) { return info.param.name; });

// A formatted cell paints exactly what an unformatted cell holding the shown text paints, and
// keeps its full text for everything else.
TEST_F(PagePicture, AFormattedNumberPaintsAsItsShownText)
{
    const QStringList texts{QStringLiteral("21.6956927"),
                            QStringLiteral("0"),
                            QStringLiteral("1.5e-3"),
                            QStringLiteral("泵")};
    const QStringList formats{QStringLiteral("0.00"),
                              QStringLiteral("合格|不合格"),
                              QStringLiteral("@@@"),
                              QStringLiteral("0.00")};
    const QStringList shown{QStringLiteral("21.70"),
                            QStringLiteral("不合格"),
                            QStringLiteral("0.00150"),
                            QStringLiteral("泵")};
    gridtest::addLines(page, 4, {200});
    for (int i = 0; i < 4; ++i) {
        page.SetCallText(i, 0, texts[i]);
        page.SetCellFocus(i, 0);
        page.SetCellDispFormt(formats[i]);
        page.RemoveAllSelectedCell();
    }
    const QImage formatted = screen();
    const QByteArray stream = savePageStream(page);

    TReportControl plain;
    gridtest::addLines(plain, 4, {200});
    for (int i = 0; i < 4; ++i)
        plain.SetCallText(i, 0, shown[i]);
    plain.UpdateLines();
    QImage expected(plain.size(), QImage::Format_RGB32);
    expected.fill(Qt::red);
    {
        QPainter painter(&expected);
        plain.WMPaint(painter, expected.rect());
    }
    EXPECT_EQ(formatted, expected);

    TReportControl loaded;
    loadPageStream(loaded, stream);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(loaded.GetCallText(i, 0), texts[i]);
        EXPECT_EQ(loaded.CellFromRC(i, 0)->FCellDispFormat, formats[i]);
        EXPECT_EQ(loaded.CellFromRC(i, 0)->displayText(), shown[i]);
    }
}

// ---- PDF output ----

QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QStringLiteral("<%1 failed: %2>")
            .arg(program, QString::fromLocal8Bit(process.readAllStandardError()));
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString withoutBlanks(QString text)
{
    text.remove(QRegularExpression(QStringLiteral("\\s")));
    return text;
}

class PdfOutput : public PagePicture
{
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("out.pdf")); }

    void print(const QList<TReportControl *> &pages)
    {
        QPrinter pdf(QPrinter::HighResolution);
        pdf.setOutputFormat(QPrinter::PdfFormat);
        pdf.setOutputFileName(path());
        TPrintJob job(pdf, pages.front());
        for (qsizetype i = 0; i < pages.size(); ++i) {
            if (i > 0)
                job.NewPage(pages[i]);
            pages[i]->PrintIt();
        }
        job.EndDoc();
    }
    QString text() { return run(QStringLiteral("pdftotext"), {path(), QStringLiteral("-")}); }
};

TEST_F(PdfOutput, TextCopiesOutAsDrawn)
{
    const QStringList lines{
        QStringLiteral("一二十人入八力口土小工心水生用目立米而行走车长门面高齐"),
        QStringLiteral("离心泵数据表：离心泵的流量、扬程、效率与轴功率"),
        QStringLiteral("全角标点～／〈〉（）《》“”，。；：！？、"),
        QStringLiteral("0123456789 ≤5 ≥10 ±0.5 ≤2.5m 80℃ ℃"),
        QStringLiteral("吸入管道 排出管道 汽蚀余量 必需 有效 电机 功率 校核 合格 不合格"),
        QStringLiteral("流体 温度 密度 粘度 压力 管径 管长 当量长度 流速 雷诺数 摩擦系数"),
        QStringLiteral("项目 位号 版次 编制 校核 审核 第 1 页 共 2 页 㐀"),
        QStringLiteral("Pump P-101A: Q=25.0 m3/h, H=32.5 m, NPSHa>=3.2 m")};
    gridtest::addLines(page, int(lines.size()) + 1, {640});
    for (int i = 0; i < lines.size(); ++i)
        page.SetCallText(i, 0, lines[i]);
    // A formatted number prints as shown.
    page.SetCallText(int(lines.size()), 0, QStringLiteral("21.6956927"));
    page.CellFromRC(int(lines.size()), 0)->SetCellDispFormat(QStringLiteral("0.00"));
    page.UpdateLines();
    print({&page});
    EXPECT_EQ(withoutBlanks(text()),
              withoutBlanks(lines.join(QString())) + QStringLiteral("21.70"));
}

// The face has no bold of its own; the bold the platform makes must reach the PDF too.
TEST_F(PdfOutput, BoldTitlesReadBoldOnPaper)
{
    gridtest::addLines(page, 2, {500});
    for (int l = 0; l < 2; ++l) {
        page.SetCallText(l, 0, QStringLiteral("离心泵数据表 PUMP DATA SHEET"));
        TReportCell *cell = page.CellFromRC(l, 0);
        cell->SetTopLine(false);
        cell->SetBottomLine(false);
        cell->SetLeftLine(false);
        cell->SetRightLine(false);
    }
    page.SetLineHegit(0, 60); // a blank gap between the two texts
    LOGFONT bold = page.CellFromRC(1, 0)->FLogFont;
    bold.lfWeight = 700;
    page.CellFromRC(1, 0)->SetLogFont(bold);
    page.UpdateLines();
    print({&page});
    const QString png = dir.filePath(QStringLiteral("sheet"));
    run(QStringLiteral("pdftoppm"),
        {QStringLiteral("-png"),
         QStringLiteral("-r"),
         QStringLiteral("100"),
         QStringLiteral("-singlefile"),
         path(),
         png});
    const QImage image(png + QStringLiteral(".png"));
    ASSERT_FALSE(image.isNull());
    // Ink of the text bands from top to bottom, bands separated by rows without ink.
    QList<int> bands;
    bool inBand = false;
    for (int y = 0; y < image.height(); ++y) {
        int ink = 0;
        for (int x = 0; x < image.width(); ++x)
            ink += qGray(image.pixel(x, y)) < 160;
        if (ink > 0 && !inBand)
            bands.append(0);
        inBand = ink > 0;
        if (inBand)
            bands.last() += ink;
    }
    ASSERT_EQ(bands.size(), 2);
    EXPECT_GT(bands[1], bands[0] * 5 / 4)
        << bands[0] << " dark pixels normal, " << bands[1] << " bold";
}

// Each sheet of a job takes its page's paper; a page without paper of its own takes what the
// sheet before it had.
TEST_F(PdfOutput, EachSheetTakesItsPagesPaper)
{
    struct Paper
    {
        int size, orientation, length, width;
        const char *expected; // "width x height" in points as pdfinfo prints it, rounded
    };
    const Paper papers[] = {{9, 1, 0, 0, "595 x 842"},
                            {8, 2, 0, 0, "1191 x 842"},
                            {0, 0, 0, 0, "1191 x 842"},
                            {0, 1, 1500, 1000, "283 x 425"},
                            {9, 2, 0, 0, "842 x 595"}};
    std::vector<std::unique_ptr<TReportControl>> pages;
    QList<TReportControl *> order;
    for (const Paper &p : papers) {
        auto page = std::make_unique<TReportControl>();
        gridtest::addLines(*page, 1, {100});
        page->SetCallText(0, 0, QStringLiteral("页"));
        page->FPaperSize = p.size;
        page->FOrientation = p.orientation;
        page->FPaperLength = p.length;
        page->FPaperWidth = p.width;
        order.append(page.get());
        pages.push_back(std::move(page));
    }
    print(order);
    const QString info = run(QStringLiteral("pdfinfo"),
                             {QStringLiteral("-f"),
                              QStringLiteral("1"),
                              QStringLiteral("-l"),
                              QStringLiteral("5"),
                              path()});
    QStringList sizes;
    const QRegularExpression re(QStringLiteral("Page +\\d+ size: +([\\d.]+) x ([\\d.]+)"));
    for (auto it = re.globalMatch(info); it.hasNext();) {
        const auto m = it.next();
        sizes << QStringLiteral("%1 x %2")
                     .arg(qRound(m.captured(1).toDouble()))
                     .arg(qRound(m.captured(2).toDouble()));
    }
    QStringList expected;
    for (const Paper &p : papers)
        expected << QString::fromLatin1(p.expected);
    EXPECT_EQ(sizes.join(u';').toStdString(), expected.join(u';').toStdString());
}

} // namespace
