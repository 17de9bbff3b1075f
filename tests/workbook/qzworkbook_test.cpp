// The workbook without widgets: loading a project document all or nothing, saving it back byte
// for byte, the exchange of values across pages and the change signals.

#include "atomicfile.h"
#include "error.h"
#include "qzworkbook.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tessarin;

namespace {

// The Base64 text of a 2 x 1 page whose cells are tagged `tag0` and `tag1` and hold `text`.
QString pageText(const QString &tag0, const QString &tag1, const QString &text)
{
    TqzReportPage page;
    page.NewTable(2, 1);
    page.SetTagID(0, 0, tag0);
    page.SetTagID(0, 1, tag1);
    page.SetCallText(0, 0, text);
    return page.SaveToText();
}

QByteArray projectWith(const QString &pages)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<FLW>\n  <TRTL/>\n  "
                          "<TqzExcel ShowPages=\"默认页&#13;&#10;出口&#13;&#10;\">%1</TqzExcel>\n"
                          "</FLW>\n")
        .arg(pages)
        .toUtf8();
}

struct Signals
{
    int cells = 0;
    int resets = 0;
    explicit Signals(TqzWorkbook &book)
    {
        QObject::connect(&book, &TqzWorkbook::cellsChanged, [this] { ++cells; });
        QObject::connect(&book, &TqzWorkbook::pagesReset, [this] { ++resets; });
    }
};

TEST(Workbook, LoadsExchangesAndSavesBack)
{
    const QString pages
        = QStringLiteral("\n   <TqzReport SaveText=\"%1\" OwnerIndex=\"0\"/>"
                         "\n   <TqzReport SaveText=\"%2\" OwnerIndex=\"1\"/>"
                         "\n   <TqzReport SaveText=\"AAAA\" OwnerIndex=\"1\"/>\n  ")
              .arg(pageText(QStringLiteral("Q"), QStringLiteral("H"), QString()),
                   pageText(QStringLiteral("Q"), QStringLiteral("P"), QStringLiteral("12")));
    const QByteArray document = projectWith(pages);
    TqzWorkbook book;
    Signals seen(book);
    book.LoadFromStream(document);
    ASSERT_EQ(book.pageCount(), 3);
    EXPECT_EQ(book.PageNames, (QStringList{QStringLiteral("默认页"), QStringLiteral("出口")}));
    EXPECT_EQ(book.page(1)->OwnerIndex, 1);
    EXPECT_EQ(book.loadErrors().size(), 1);
    EXPECT_TRUE(book.loadErrors().first().startsWith(QStringLiteral("page 3 (line 7)")));
    EXPECT_EQ(book.unreadText(2), std::optional<QString>(QStringLiteral("AAAA")));
    EXPECT_EQ(seen.resets, 1);
    // Unchanged, the document is written back byte for byte.
    EXPECT_EQ(book.SaveIntoDocument(document), document);

    // The first non-empty answer wins; a write reaches every page and is signalled once.
    EXPECT_EQ(book.GetTagValue(QStringLiteral("Q")), QStringLiteral("12"));
    const TagWriteCount count = book.SetTagValue(QStringLiteral("Q"), QStringLiteral("7"));
    EXPECT_EQ(count.matched, 2);
    EXPECT_EQ(count.changed, 2);
    EXPECT_EQ(seen.cells, 1);
    book.SetTagValues(
        {{QStringLiteral("H"), QStringLiteral("1")}, {QStringLiteral("P"), QStringLiteral("2")}});
    QHash<QString, QString> answers{{QStringLiteral("Q"), QStringLiteral("x")},
                                    {QStringLiteral("H"), QString()},
                                    {QStringLiteral("P"), QString()},
                                    {QStringLiteral("Z"), QStringLiteral("x")}};
    book.GetTagValues(answers);
    EXPECT_EQ(answers.value(QStringLiteral("Q")), QStringLiteral("7"));
    EXPECT_EQ(answers.value(QStringLiteral("H")), QStringLiteral("1"));
    EXPECT_EQ(answers.value(QStringLiteral("P")), QStringLiteral("2"));
    EXPECT_EQ(answers.value(QStringLiteral("Z")), QString());
    EXPECT_EQ(seen.cells, 2);

    // A written value comes back through a new workbook; the unread page is kept.
    TqzWorkbook again;
    again.LoadFromStream(book.SaveIntoDocument(document));
    EXPECT_EQ(again.page(0)->GetTagValue(QStringLiteral("H")), QStringLiteral("1"));
    EXPECT_EQ(again.unreadText(2), std::optional<QString>(QStringLiteral("AAAA")));
}

struct RefusalRow
{
    const char *what;
    const char16_t *tag1; // tag of the second cell of page 2
    const char *value;    // written to "Q"; null: a value longer than a cell holds
    const char *error;    // start of the message
};

class WorkbookRefusal : public ::testing::TestWithParam<RefusalRow>
{
};

// A write that one page refuses changes no page, and says which page refused.
TEST_P(WorkbookRefusal, WritesNothingAndNamesThePage)
{
    const RefusalRow &row = GetParam();
    TqzWorkbook book;
    book.LoadFromStream(projectWith(
        QStringLiteral("<TqzReport SaveText=\"%1\"/><TqzReport SaveText=\"%2\"/>")
            .arg(
                pageText(QStringLiteral("Q"), QString(), QStringLiteral("a")),
                pageText(QStringLiteral("Q"), QString::fromUtf16(row.tag1), QStringLiteral("b")))));
    Signals seen(book);
    const QString value
        = row.value ? QString::fromLatin1(row.value) : QString(MaxCellTextBytes + 1, u'x');
    for (int batch = 0; batch < 2; ++batch) {
        try {
            if (batch)
                book.SetTagValues({{QStringLiteral("Q"), value}});
            else
                book.SetTagValue(QStringLiteral("Q"), value);
            ADD_FAILURE() << row.what << ": no error";
        } catch (const Error &e) {
            EXPECT_TRUE(e.message().startsWith(QString::fromLatin1(row.error)))
                << row.what << ": " << e.message().toStdString();
        }
        EXPECT_EQ(book.page(0)->GetCallText(0, 0), QStringLiteral("a")) << row.what;
    }
    EXPECT_EQ(seen.cells, 0) << row.what;
}

INSTANTIATE_TEST_SUITE_P(
    Writes,
    WorkbookRefusal,
    ::testing::Values(RefusalRow{"a tag that cannot be parsed", u"[1]", "7", "page 2: line 1"},
                      RefusalRow{"a value too long", u"", nullptr, "page 1: the value"}));

// A document whose workbook element cannot be read leaves the workbook as it was.
TEST(Workbook, FailedLoadKeepsThePages)
{
    TqzWorkbook book;
    book.AddPage()->NewTable(1, 1);
    Signals seen(book);
    EXPECT_THROW(book.LoadFromStream(
                     projectWith(QStringLiteral("<TqzReport/><TqzReport OwnerIndex=\"x\"/>"))),
                 Error);
    EXPECT_THROW(book.LoadFromStream("<FLW><TqzExcel>"), Error);
    book.LoadFromStream("<FLW><TRTL/></FLW>");
    EXPECT_EQ(book.pageCount(), 1);
    EXPECT_EQ(book.page(0)->lineCount(), 1);
    EXPECT_EQ(book.PageNames, QStringList{QStringLiteral("默认页")});
    EXPECT_EQ(seen.resets, 0);
}

// Charts ride beside the workbook: written into their own element, read back whole onto their
// pages, refused whole when damaged; a document without them keeps its bytes.
TEST(Workbook, ChartsRoundTripBesideTheWorkbook)
{
    const QByteArray document = projectWith(
        QStringLiteral("\n   <TqzReport SaveText=\"%1\" OwnerIndex=\"0\"/>\n  ")
            .arg(pageText(QStringLiteral("Q"), QStringLiteral("H"), QStringLiteral("1"))));
    TqzWorkbook book;
    book.LoadFromStream(document);
    EXPECT_EQ(book.SaveIntoDocument(document), document);

    TqzChart chart;
    chart.page = 0;
    chart.first = {0, 0};
    chart.last = {0, 1};
    chart.title = QStringLiteral("扬程曲线");
    chart.input = QStringLiteral("Q");
    chart.inputUnit = QStringLiteral("m3/h");
    chart.from = 0;
    chart.to = 0.3;
    chart.points = 3;
    chart.outputs = {QStringLiteral("H")};
    chart.series = {{QStringLiteral("H"),
                     QStringLiteral("m"),
                     {1.0 / 3, std::numeric_limits<double>::quiet_NaN(), 2e-300}}};
    book.setCharts({chart});
    const QByteArray saved = book.SaveIntoDocument(document);
    EXPECT_TRUE(saved.startsWith(document.left(document.indexOf("</FLW>"))));

    TqzWorkbook again;
    again.LoadFromStream(saved);
    ASSERT_EQ(again.charts().size(), 1);
    const TqzChart back = again.charts().first();
    EXPECT_EQ(back.title, chart.title);
    EXPECT_EQ(back.first, chart.first);
    EXPECT_EQ(back.last, chart.last);
    EXPECT_EQ(back.inputValues(), (std::vector<double>{0, 0.15, 0.3}));
    ASSERT_EQ(back.series.size(), 1);
    EXPECT_EQ(back.series[0].values[0], 1.0 / 3);
    EXPECT_TRUE(std::isnan(back.series[0].values[1]));
    EXPECT_EQ(back.series[0].values[2], 2e-300);
    EXPECT_EQ(again.SaveIntoDocument(saved), saved);
    EXPECT_FALSE(again.page(0)->chartArea(back).isEmpty());
    // A chart of the first kind is written as before the relative range, axis names and data.
    for (const char *later : {"Range", "XName", "YName", "<Data", "Kind=", " X="})
        EXPECT_FALSE(saved.contains(later)) << later;

    // Removing every chart leaves an empty element, not the old charts.
    again.setCharts({});
    TqzWorkbook emptied;
    emptied.LoadFromStream(again.SaveIntoDocument(saved));
    EXPECT_TRUE(emptied.charts().isEmpty());
    TqzChart elsewhere = chart;
    elsewhere.page = 3;
    EXPECT_THROW(book.setCharts({elsewhere}), Error);

    const struct
    {
        const char *what;
        const char *attributes;
        const char *error;
    } refusals[] = {
        {"cells out of order", R"(Page="0" Cells="2,0,1,0")", "chart 1 (line 8): \"Page\""},
        {"a page below zero", R"(Page="-1" Cells="0,0,0,0")", "chart 1 (line 8): \"Page\""},
        {"no number", R"(Page="0" Cells="0,0,0,0" From="x")", "chart 1 (line 8): attribute \"From\""},
        {"one point", R"(Page="0" Cells="0,0,0,0" From="0" To="1" Points="1")",
         "chart 1 (line 8): \"Points\""},
        {"no output", R"(Page="0" Cells="0,0,0,0" From="0" To="1" Points="3" Input="Q")",
         "chart 1 (line 8): a chart needs"},
    };
    for (const auto &row : refusals) {
        QByteArray damaged = saved;
        const qsizetype from = damaged.indexOf("<TqzCharts>");
        const qsizetype to = damaged.indexOf("</TqzCharts>") + 12;
        damaged.replace(from, to - from,
                        QByteArray("<TqzCharts>\n<TqzChart ") + row.attributes + "/></TqzCharts>");
        TqzWorkbook refused;
        try {
            refused.LoadFromStream(damaged);
            ADD_FAILURE() << row.what << ": no error";
        } catch (const Error &e) {
            EXPECT_TRUE(e.message().contains(QString::fromLatin1(row.error)))
                << row.what << ": " << e.message().toStdString();
        }
    }
}

// A project whose chart was written before charts had relative ranges, axis names and data
// (pump_sheets.flw with chart-add of that time) is saved back byte for byte.
TEST(Workbook, ChartsOfTheFirstKindKeepTheirBytes)
{
    const QByteArray document = readWholeFile(TESSARIN_TEST_DATA "/workbook/charted_sheets.flw");
    TqzWorkbook book;
    book.LoadFromStream(document);
    ASSERT_EQ(book.charts().size(), 1);
    EXPECT_EQ(book.charts().first().series.size(), 1);
    EXPECT_EQ(book.SaveIntoDocument(document), document);
}

// A chart whose range follows a node, with curves and points given as data: saved and read
// back whole; damaged data refused with the chart, the line and what is wrong.
TEST(Workbook, ChartDataRoundTripsAndIsCheckedOnReading)
{
    const QByteArray document = projectWith(
        QStringLiteral("\n   <TqzReport SaveText=\"%1\" OwnerIndex=\"0\"/>\n  ")
            .arg(pageText(QStringLiteral("Q"), QStringLiteral("H"), QStringLiteral("1"))));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    TqzChart chart;
    chart.first = {0, 0};
    chart.last = {0, 1};
    chart.title = QStringLiteral("扬程-流量");
    chart.input = QStringLiteral("Q");
    chart.from = 0;
    chart.to = 1.3;
    chart.points = 3;
    chart.outputs = {QStringLiteral("H")};
    chart.rangeNode = QStringLiteral("QR");
    chart.rangeValue = 50;
    chart.xName = QStringLiteral("流量 Q (m³/h)");
    chart.yName = QStringLiteral("扬程 H (m)");
    chart.data = {{TqzChartKind::Curve, QStringLiteral("泵扬程"), QStringLiteral("N"),
                   {{QStringLiteral("Q1"), QStringLiteral("H1")}, {QStringLiteral("40"), QStringLiteral("H2")}}},
                  {TqzChartKind::Point, QStringLiteral("运行点"), QString(),
                   {{QStringLiteral("QOP"), QStringLiteral("HOP")}}}};
    chart.series = {{QStringLiteral("H"), QStringLiteral("m"), {60, nan, 80}},
                    {QStringLiteral("泵扬程"), QStringLiteral("m"), {110, 103}, TqzChartKind::Curve, {0, 40}},
                    {QStringLiteral("运行点"), QStringLiteral("m"), {}, TqzChartKind::Point, {}}};
    EXPECT_EQ(chart.inputValues(), (std::vector<double>{0, 32.5, 65}));
    TqzWorkbook book;
    book.LoadFromStream(document);
    book.setCharts({chart});
    const QByteArray saved = book.SaveIntoDocument(document);
    TqzWorkbook again;
    again.LoadFromStream(saved);
    ASSERT_EQ(again.charts().size(), 1);
    TqzChart back = again.charts().first();
    EXPECT_TRUE(std::isnan(back.series[0].values[1]));
    back.series[0].values[1] = chart.series[0].values[1] = 70; // NaN is equal to nothing
    EXPECT_TRUE(back == chart);
    EXPECT_EQ(again.SaveIntoDocument(saved), saved);
    // Not yet computed: the range has no value, and nothing else changes.
    chart.rangeValue = nan;
    chart.series.clear();
    book.setCharts({chart});
    TqzWorkbook fresh;
    fresh.LoadFromStream(book.SaveIntoDocument(document));
    EXPECT_TRUE(fresh.charts().first() == chart);

    const struct
    {
        const char *chart;
        const char *error;
    } refusals[] = {
        {R"(To="2" Outputs="H" Range="QR" RangeValue="1e300")", "(line 8): \"RangeValue\" needs"},
        {R"(To="1" Outputs="H" RangeValue="5")", "(line 8): \"RangeValue\" needs a \"Range\""},
        {R"(To="1" Outputs="H"><Data Kind="line" Name="C" Points="1,2"/></TqzChart)",
         "(line 8): data \"Kind\" must"},
        {R"(To="1" Outputs="H"><Data Kind="point" Name="P" Points="1,2;3,4"/></TqzChart)",
         "data \"P\": a point is one"},
        {R"(To="1" Outputs="H"><Data Kind="curve" Name="C" Points="1,2;3"/></TqzChart)",
         "data \"C\": point 2 \"3\""},
        {R"(To="1" Outputs="H"><Data Kind="curve" Name="" Points="1,2"/></TqzChart)", "needs a name"},
        {R"(To="1" Outputs=""><Data Kind="point" Name="P" Points="1,2"/><Series Kind="point" X="1 2" Values="3 4"/></TqzChart)",
         "series \"\" holds 2 x and 2 values (at most 1)"},
        {R"(To="1" Outputs=""><Data Kind="curve" Name="C" Points="1,2"/><Series Kind="curve" X="1 2" Values="3"/></TqzChart)",
         "holds 2 x and 1 values"},
        {R"(To="1" Outputs=""><Data Kind="curve" Name="C" Points="1,2"/><Series Kind="bent" Values="3"/></TqzChart)",
         "unknown \"Kind\" \"bent\""},
        {R"(To="1" Outputs="")", "a chart needs 1 to 8"},
    };
    for (const auto &row : refusals) {
        QByteArray damaged = saved;
        const qsizetype from = damaged.indexOf("<TqzCharts>");
        const qsizetype to = damaged.indexOf("</TqzCharts>") + 12;
        QByteArray element = QByteArray(R"(<TqzChart Page="0" Cells="0,0,0,0" From="0" Points="3" Input="Q" )")
                             + row.chart;
        if (!element.endsWith("</TqzChart"))
            element += "/";
        damaged.replace(from, to - from, "<TqzCharts>\n" + element + "></TqzCharts>");
        TqzWorkbook refused;
        try {
            refused.LoadFromStream(damaged);
            ADD_FAILURE() << row.chart << ": no error";
        } catch (const Error &e) {
            EXPECT_TRUE(e.message().contains(QString::fromUtf8(row.error)))
                << row.chart << ": " << e.message().toStdString();
        }
    }
}

// Values a damaged file or a wild formula can give draw without hanging: sums that a step too
// small cannot move, a flat line, infinities and gaps; and nothing is drawn at a position that
// is no number (Qt warns of it), not even for a range as wide as the doubles.
TEST(Workbook, ChartsDrawAnyValues)
{
    static QStringList warnings;
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &message) {
            warnings.append(message);
        });
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::vector<double>> cases = {{1e16, 1e16 + 2, 1e16 + 4},
                                                    {5, 5, 5},
                                                    {nan, nan, nan},
                                                    {-inf, 0, inf},
                                                    {-1e308, 1e308, nan},
                                                    {1e-320, 2e-320, 0}};
    QImage image(400, 300, QImage::Format_RGB32);
    for (const auto &values : cases) {
        TqzChart chart;
        chart.input = QStringLiteral("Q");
        chart.from = values.front() == 5 ? 3 : -1e300;
        chart.to = values.front() == 5 ? 3 : 1e300;
        chart.points = 3;
        chart.outputs = {QStringLiteral("H")};
        chart.series = {{QStringLiteral("H"), QString(), values}};
        // The same numbers as a curve's and a point's coordinates, and a relative range.
        chart.data = {{TqzChartKind::Curve, QStringLiteral("C"), QString(), {{"1", "2"}}},
                      {TqzChartKind::Point, QStringLiteral("P"), QString(), {{"1", "2"}}}};
        chart.series.append({QStringLiteral("C"), QString(), values, TqzChartKind::Curve, values});
        chart.series.append(
            {QStringLiteral("P"), QString(), {values[1]}, TqzChartKind::Point, {values[2]}});
        chart.series.append({QStringLiteral("no x"), QString(), {1.0}, TqzChartKind::Point, {}});
        chart.rangeNode = values.front() == 5 ? QStringLiteral("R") : QString();
        chart.rangeValue = values[0];
        image.fill(Qt::white);
        QPainter painter(&image);
        paintChart(chart, painter, QRectF(10, 10, 380, 280));
    }
    qInstallMessageHandler(previous);
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}

} // namespace
