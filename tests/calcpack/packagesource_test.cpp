// The sources of the packaged project, the document the module delivers, the module's entry
// and the command that writes it out.

#include "atomicfile.h"
#include "calcpack.h"
#include "dynlib.h"
#include "error.h"
#include "packagedproject.h"
#include "packagesource.h"
#include "projectfile.h"
#include "qzexcel.h"
#include "qzproject.h"
#include "reportgrid/gridfixture.h"
#include "support/clirun.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>

namespace tessarin {
namespace {

QString errorOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const Error &e) {
        return e.message();
    }
    return QStringLiteral("(no error)");
}

TEST(PackSource, TreeErrorsNameTheLineAndTheFault)
{
    const std::pair<const char *, const char *> cases[] = {
        {"A | a | | = B\n    B | b | | 1\n", "line 2: indented more than one level"},
        {"  A | a | | 1\n", "line 1: the first node must not be indented"},
        {"A | a | | = B\n B | b | | 1\n", "line 2: the indent must be a multiple of two"},
        {"A | a | | = B\n\tB | b | | 1\n", "line 2: indent with blanks, not tabs"},
        {"A | a | = B\n", "line 1: a node needs four fields"},
        {"# only a comment\n\n", "the tree has no nodes"},
        {"A | a | | = B\n  B | b | | 1\n  B | c | | 2\n", "line 3: the name \"B\" is used twice"},
        {"A | a | | =\n", "line 1: \"A\" has \"=\" but no formula"},
        {"A |  | | 1\n", "line 1: a node needs a name and a code"},
        {"A | a | | 1\n  B | b | | 2\n", "line 1: the group \"A\" needs a formula"},
    };
    for (const auto &[text, why] : cases) {
        SCOPED_TRACE(text);
        const QString message = errorOf([&] { parsePackTree(QString::fromUtf8(text), "t.tree"); });
        EXPECT_TRUE(message.startsWith("t.tree, ")) << message.toStdString();
        EXPECT_TRUE(message.contains(QString::fromUtf8(why))) << message.toStdString();
    }
}

TEST(PackSource, PageErrorsNameTheLineAndTheFault)
{
    const QString head = "page P\ncolumns 1 1 1\n";
    const std::pair<QString, const char *> cases[] = {
        {"line : 3 \"a\"\n", "line 1: \"line\" before the first page"},
        {"page P\nline : 3 \"a\"\n", "line 2: a line before the page's columns"},
        {head + "line : 2 \"a\"\n", "line 3: the cells span 2 columns, the page has 3"},
        {head + "line : 3 \"a\n", "line 3: a quoted text is not closed"},
        {head + "line 3 \"a\"\n", "line 3: a line needs \":\""},
        {head + "line fancy : 3 \"a\"\n", "line 3: unknown line style \"fancy\""},
        {head + "line : 0 \"a\" | 3 \"b\"\n", "the span of a cell must be a whole number"},
        {head + "line : 3 \"a\" italic\n", "line 3: unknown cell option \"italic\""},
        {head + "line : 3 sum A\n", "line 3: unknown cell content \"sum\""},
        {head + "line : 3 out A\n", "line 3: result \"A\" needs a quoted display format"},
        {head + "line : 3 in\n", "line 3: \"in\" needs a tag name"},
        {head + "line : 3\n", "line 3: a cell needs its span and its content"},
        {"page P\ncolumns 1 x\n", "line 2: a column width must be a positive number"},
        {"page P\nmargins 20 15 15\n", "line 2: margins needs four numbers"},
        {"page P\nheight -3\n", "line 2: a line height must be a whole number"},
        {"page P\ncolumns 1\n", "line 1: the page \"P\" has no lines"},
        {"columns 1\n", "\"columns\" before the first page"},
        {head + "shade on\n", "line 3: unknown keyword \"shade\""},
        {head + "line : 3 \"a\"\nchart 2\n", "line 4: the chart covers 2 lines, but the page has 1"},
        {head + "line : 3 \"a\"\nchart 1 plot H\n", "line 4: a chart that plots outputs needs"},
        {head + "line : 3 \"a\"\nchart 1 range Q 0\n", "line 4: expected a number, not \"\""},
        {head + "line : 3 \"a\"\nchart 1 colour red\n", "line 4: unknown chart word \"colour\""},
        {head + "line : 3 \"a\"\npoint \"P\" Q,H\n", "line 4: a point before the page's first chart"},
        {head + "line : 3 \"a\"\nchart 1\npoint \"P\" Q,H;Q,H\n", "line 5: a point is one"},
        {head + "line : 3 \"a\"\nchart 1\ncurve \"C\" Q,H;Q\n", "line 5: point 2 \"Q\" is not \"X,Y\""},
        {head + "line : 3 \"a\"\nchart 1\ncurve C Q,H\n", "line 5: a curve needs its quoted name"},
    };
    for (const auto &[text, why] : cases) {
        SCOPED_TRACE(text.toStdString());
        const QString message = errorOf([&] { parsePackPages(text, "p.pages"); });
        EXPECT_TRUE(message.startsWith("p.pages, ")) << message.toStdString();
        EXPECT_TRUE(message.contains(QString::fromUtf8(why))) << message.toStdString();
    }
    // Separators and escapes inside quotes belong to the text.
    const auto pages = parsePackPages(head
                                          + "line : 2 \"a|b: c\\n\\\"d\\\"\" bold right | 1 "
                                            "out R \"合格|不合格\"\n",
                                      "p.pages");
    const PackCell &label = pages[0].lines[0].cells[0];
    EXPECT_EQ(label.text, "a|b: c\r\n\"d\"");
    EXPECT_TRUE(label.bold);
    EXPECT_EQ(label.align, 2);
    EXPECT_EQ(pages[0].lines[0].cells[1].format, "合格|不合格");
}

TEST(PackSource, PagesMustFitTheTree)
{
    const auto nodes = parsePackTree(
        "T | t | | = X+Y\n  X | x | | 1\n  Y | y | | = X*2\n  Z | z | | 3\n", "t.tree");
    const std::pair<const char *, const char *> cases[] = {
        {"line : 1 in X | 1 out Y \"\" | 1 in Z", nullptr},
        {"line : 1 in X | 1 out Y \"\" | 1 in Z \"text\"", "\"Z\" is a node; its cell takes"},
        {"line : 1 in X | 1 out Y \"\" | 1 in Q", "no node is named \"Q\""},
        {"line : 1 in Y | 1 out X \"\" | 1 in Z", "\"Y\" is a result, not an input"},
        {"line : 1 calc X \"0\" | 1 out Y \"\" | 1 in Z",
         "\"X\" needs both a default and a formula"},
        {"line : 1 in X | 1 out X \"\" | 1 in Z", "\"X\" is an input, not a result"},
        {"line : 1 in X | 1 in X | 1 in Z\nline : 1 out Y \"\" | 1 \"\" | 1 \"\"",
         "the input \"X\" has 2 cells"},
        {"line : 1 in X | 1 \"\" | 1 in Z", "\"Y\" has no cell on any page"},
        {"line : 1 in X | 1 out Y \"\" | 1 in Z\nchart 1 sweep X range Y 0 1.3 plot Y\n"
         "curve \"C\" count Z X,Y;2,3\npoint \"P\" X,Y",
         nullptr},
        {"line : 1 in X | 1 out Y \"\" | 1 in Z\nchart 1 sweep Y plot Y",
         "the chart sweeps \"Y\", which is no input"},
        {"line : 1 in X | 1 out Y \"\" | 1 in Z\nchart 1\npoint \"P\" X,W",
         "the chart names \"W\", which is no node"},
        {"line : 1 in X | 1 out Y \"\" | 1 in Z\nchart 1 title \"T\"", "the chart plots nothing"},
    };
    for (const auto &[lines, why] : cases) {
        SCOPED_TRACE(lines);
        const auto pages = parsePackPages(
            QStringLiteral("page P\ncolumns 1 1 1\n") + QString::fromUtf8(lines), "p.pages");
        const QString message = errorOf([&] { checkPackPages(nodes, pages, "p.pages"); });
        if (!why) {
            EXPECT_EQ(message, "(no error)");
        } else {
            EXPECT_TRUE(message.contains(QString::fromUtf8(why))) << message.toStdString();
        }
    }
    // A typed value that its formula may replace keeps both and takes an input cell.
    const auto computed = parsePackTree("T | t | | = W\n  W | w | kg | 5 = W>1?W*2:1\n", "t.tree");
    EXPECT_EQ(computed[1].value, "5");
    EXPECT_EQ(computed[1].script, "W>1?W*2:1");
    EXPECT_EQ(errorOf([&] {
                  checkPackPages(
                      computed,
                      parsePackPages("page P\ncolumns 1\nline : 1 calc W \"0.0\"\n", "p.pages"),
                      "p.pages");
              }),
              "(no error)");
}

// A stream that takes at most `limit` bytes in all and counts the calls.
struct LimitedStream
{
    QByteArray bytes;
    size_t limit = SIZE_MAX;
    int calls = 0;
    static size_t CALCPACK_CALL write(void *context, const char *data, size_t size)
    {
        auto *s = static_cast<LimitedStream *>(context);
        ++s->calls;
        const size_t take = std::min(size, s->limit - static_cast<size_t>(s->bytes.size()));
        s->bytes.append(data, static_cast<qsizetype>(take));
        return take;
    }
};

TEST(PackModule, GetFlwWritesTheWholeDocumentAndStopsAtAShortWrite)
{
    // Loaded and unloaded again by the program's own loader first: unloading takes the module
    // out of the process, whoever else holds it.
    const QByteArray delivered = LoadPackagedProject();
    DynamicLibrary library;
    ASSERT_TRUE(library.load("calcpack.dll")) << library.errorString().toStdString();
    auto getFlw = reinterpret_cast<GetFLWProc>(library.resolve("GetFLW"));
    ASSERT_NE(getFlw, nullptr);
    getFlw(nullptr);
    TqzStreamWriter noWrite{nullptr, nullptr};
    getFlw(&noWrite);

    LimitedStream whole;
    TqzStreamWriter w{&whole, &LimitedStream::write};
    getFlw(&w);
    EXPECT_TRUE(whole.bytes.startsWith("<?xml version=\"1.0\" encoding=\"GB2312\"?>"));
    EXPECT_EQ(whole.bytes, delivered); // the same bytes every call

    LimitedStream full;
    full.limit = 100;
    TqzStreamWriter f{&full, &LimitedStream::write};
    getFlw(&f);
    EXPECT_EQ(full.calls, 1);
    EXPECT_EQ(full.bytes, whole.bytes.left(100));
}

// The generator builds the same bytes as the module delivers, whatever printer the host has:
// none, a letter printer of another resolution, one without a device-mode record.
TEST(PackSource, GeneratedBytesDoNotDependOnThePrinter)
{
    const QString dir = QStringLiteral(TESSARIN_TEST_DATA "/../../modules/calcpack/");
    const QString tree = QString::fromUtf8(readWholeFile(dir + "pump.tree"));
    const QString pages = QString::fromUtf8(readWholeFile(dir + "pump.pages"));
    const QByteArray delivered = LoadPackagedProject();
    ASSERT_FALSE(delivered.isEmpty());

    struct Host
    {
        const char *name;
        bool installed;
        QSize pageSize;
        int dpi;
        bool deviceMode;
        std::int16_t paper, orientation, length, width;
    };
    const Host hosts[] = {
        {"no printer", false, {4800, 6600}, 600, false, 9, 1, 0, 0},
        {"letter printer", true, {5100, 6600}, 600, true, 1, 1, 2794, 2159},
        {"landscape A3 printer", true, {4961, 3508}, 300, true, 8, 2, 4200, 2970},
        {"printer without device mode", true, {2480, 3508}, 300, false, 9, 1, 0, 0},
    };
    for (const Host &host : hosts) {
        auto layer = std::make_unique<FixedPrinterLayer>();
        layer->installed = host.installed;
        layer->pageSize = host.pageSize;
        layer->dpiX = layer->dpiY = host.dpi;
        layer->hasDeviceMode = host.deviceMode;
        layer->mode = {
            DM_ORIENTATION | DM_PAPERSIZE, host.orientation, host.paper, host.length, host.width};
        gridtest::ScopedPrinterLayer printer(std::move(layer));
        const QByteArray built = buildPackDocument(tree, "pump.tree", pages, "pump.pages");
        EXPECT_TRUE(built == delivered) << host.name;
    }
}

TEST(PackModule, DeliveredProjectIsTheTreeAndFiveA4Pages)
{
    QWidget area;
    TqzExcel excel(&area);
    TqzProject project;
    TqzProjectFile().loadBytes(LoadPackagedProject(), "packaged", project, excel.workbook());

    ASSERT_EQ(project.TreeView->count(), 209);
    EXPECT_EQ(project.Name, "化工离心泵计算");
    EXPECT_EQ(project.RunTimeLibrary->LibraryPath, "include//");
    const QStringList groups = {"泵壳压力",
                                "泵曲线与运行点",
                                "流量工况",
                                "扬程与功率",
                                "汽蚀余量",
                                "排出侧",
                                "吸入侧",
                                "设计条件"};
    const QModelIndex root = project.TreeView->index(0, 0);
    ASSERT_EQ(project.TreeView->rowCount(root), groups.size());
    for (int g = 0; g < groups.size(); ++g)
        EXPECT_EQ(project.TreeView->node(project.TreeView->index(g, 0, root))->Name, groups[g]);

    EXPECT_EQ(excel.PageNames,
              QStringList({"离心泵数据表", "水力计算书", "管件明细", "泵性能曲线", "性能曲线"}));
    ASSERT_EQ(excel.Pages.size(), 5);
    QSet<QString> tags;
    int runButtons = 0;
    for (int p = 0; p < 5; ++p) {
        TqzReport *page = excel.Pages[p];
        EXPECT_EQ(page->OwnerIndex, p);
        EXPECT_EQ(page->FPaperSize, 9);
        EXPECT_EQ(page->FOrientation, 1);
        for (int l = 0; l < page->lineCount(); ++l) {
            for (int c = 0; c < page->line(l)->cellCount(); ++c) {
                const TReportCell *cell = page->line(l)->cell(c);
                EXPECT_LE(cell->FCellRect.right, page->FPageWidth - page->FRightMargin + 1);
                runButtons += cell->FCellText == page->RunCaption;
                if (!cell->FTagID.isEmpty())
                    tags.insert(cell->FTagID);
                // Results show on a light background; typed inputs ("G") stay white.
                if (!cell->FCellDispFormat.isEmpty() && cell->FCellDispFormat != "G") {
                    EXPECT_NE(cell->FBackGroundColor, clWhite) << l << "," << c;
                }
            }
        }
        EXPECT_EQ(page->GetTagValue("PAGECOUNT"), "共 5 页");
        EXPECT_LE(page->line(page->lineCount() - 1)->FLineRect.bottom,
                  page->FPageHeight - page->FBottomMargin)
            << "page " << p << " runs over its sheet";
    }
    EXPECT_EQ(runButtons, 1);
    // The last page's three charts: flow from 0 to 130 % of the rated flow, within the sheet.
    const QList<TqzChart> charts = excel.workbook().charts();
    ASSERT_EQ(charts.size(), 3);
    for (const TqzChart &chart : charts) {
        EXPECT_EQ(chart.page, 4);
        EXPECT_EQ(chart.rangeNode, "额定流量");
        EXPECT_EQ(chart.from, 0);
        EXPECT_EQ(chart.to, 1.3);
        EXPECT_TRUE(chart.series.isEmpty()); // computed by the first run
        const QRectF area = excel.workbook().page(4)->chartArea(chart);
        EXPECT_GT(area.height(), 200);
        EXPECT_LE(area.right(), excel.Pages[4]->FPageWidth - excel.Pages[4]->FRightMargin + 1);
    }
    // Every node without children shows, inputs with their defaults.
    for (int i = 0; i < project.TreeView->count(); ++i) {
        const TqzNode *n = project.TreeView->nodeAt(i);
        if (project.TreeView->childCount(i) > 0)
            continue;
        EXPECT_TRUE(tags.contains(n->Name)) << n->Name.toStdString();
        if (n->Script.isEmpty()) {
            EXPECT_EQ(excel.GetTagValue(n->Name), n->Value) << n->Name.toStdString();
        }
    }
}

// The headless road: the module's project written out, run with its defaults and with a duty
// typed on the command line.
TEST(PackModule, PackagedThenRunFromTheCommandLine)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("pump.flw");
    const auto written = test::cli({"packaged", "-o", file});
    ASSERT_EQ(written.status, 0) << written.err.toStdString();
    struct
    {
        QStringList set;
        QString motor;
    } cases[] = {{{}, "30.0"}, {{"--set", "正常流量=20"}, "11.0"}}; // pump_check.py
    for (const auto &c : cases) {
        const auto ran = test::cli(QStringList{"run", file} + c.set);
        ASSERT_EQ(ran.status, 0) << ran.err.toStdString();
        const QJsonObject out = QJsonDocument::fromJson(ran.out).object();
        EXPECT_EQ(out["failedSteps"].toInt(), 0);
        QString motor;
        for (const auto &n : out["nodes"].toArray())
            if (n.toObject()["name"].toString() == "电机额定功率")
                motor = n.toObject()["value"].toString();
        EXPECT_EQ(motor, c.motor) << c.set.join(' ').toStdString();
    }
    // The worked check of the method, six significant digits: equal within 1e-5, and the
    // comparison does see the rounding at 1e-9.
    const QString worked = QStringLiteral(TESSARIN_TEST_DATA "/calcpack/worked_check.exm");
    // The worked check types the properties of water at 20 degC.
    const QStringList typed = {"--set", "物性按水计算=0"};
    const auto checked
        = test::cli(QStringList{"run", file, "--expect", worked, "--rtol", "1e-5"} + typed);
    EXPECT_EQ(checked.status, 0) << checked.out.toStdString();
    const auto strict
        = test::cli(QStringList{"run", file, "--expect", worked, "--rtol", "1e-9"} + typed);
    EXPECT_EQ(strict.status, 1);
    EXPECT_GE(QJsonDocument::fromJson(strict.out).object()["differences"].toArray().size(), 8);
    EXPECT_EQ(test::cli({"packaged"}).status, 2); // -o is required
}

} // namespace
} // namespace tessarin
