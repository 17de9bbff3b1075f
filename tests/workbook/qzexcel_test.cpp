// The workbook: page layout by tab, the exchange over pages, page-number fields, the
// "TqzExcel" element, saving into a project file and printing.

#include "atomicfile.h"
#include "base64.h"
#include "error.h"
#include "qzexcel.h"
#include "qzproject.h"
#include "sample_workbook.h"
#include "textcodec.h"
#include "workbook_support.h"
#include "xmlio.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QPrinter>
#include <QRegularExpression>
#include <QStringConverter>
#include <QTabBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using namespace tessarin;
using namespace tessarin::test;

namespace {

class Workbook : public ::testing::Test
{
protected:
    NoPrinter noPrinter;
    QWidget area; // stands in for the report scroll box
    TqzExcel workbook{&area};

    Workbook() { area.resize(1000, 800); }

    // Pages on the given tabs, in order, each with one 2 x 2 table.
    void addPages(std::initializer_list<int> tabs)
    {
        for (int tab : tabs) {
            TqzReport *page = workbook.AddPage();
            page->OwnerIndex = tab;
            makeTable(*page, 2, 2);
        }
    }

    QDomElement savedElement(QDomDocument &doc)
    {
        QDomElement root = doc.createElement(QStringLiteral("FLW"));
        doc.appendChild(root);
        QDomElement element = doc.createElement(QStringLiteral("TqzExcel"));
        root.appendChild(element);
        workbook.SaveToXML(element);
        return element;
    }
};

TEST_F(Workbook, ShowsTheTabsPagesStackedAndLeavesTheOthersWhereTheyAre)
{
    addPages({0, 1, 0});
    TqzReport *p1 = workbook.Pages[0];
    TqzReport *p2 = workbook.Pages[1];
    TqzReport *p3 = workbook.Pages[2];
    // All three are shown after creation, stacked.
    EXPECT_EQ(p2->y(), 15 + p1->height() + 10);
    p2->move(p2->x(), 4321);

    workbook.ShowOwnerPages(0);
    EXPECT_EQ(workbook.OwnerIndex, 0);
    EXPECT_FALSE(p1->isHidden());
    EXPECT_TRUE(p2->isHidden());
    EXPECT_FALSE(p3->isHidden());
    EXPECT_EQ(p1->y(), 15);
    EXPECT_EQ(p3->y(), 15 + p1->height() + 10);
    EXPECT_EQ(p2->y(), 4321);

    workbook.ShowOwnerPages(1);
    EXPECT_TRUE(p1->isHidden());
    EXPECT_EQ(p2->y(), 15);
    EXPECT_EQ(workbook.FirstShownTop(), 15);
    // A page made while tab 1 is shown belongs to it and joins the stack below.
    TqzReport *p4 = workbook.AddPage();
    EXPECT_EQ(p4->OwnerIndex, 1);
    EXPECT_EQ(p4->y(), 15 + p2->height() + 10);

    workbook.ShowOwnerPages(7); // no page: nothing shown
    EXPECT_EQ(workbook.FirstShownTop(), workbook.PageTop);

    // Rearranging keeps the first shown page where it is; a single page goes back to the top.
    workbook.ShowOwnerPages(0);
    p1->move(0, 200);
    workbook.Rearrange();
    EXPECT_EQ(p3->y(), 200 + p1->height() + 10);
    workbook.ClearPages();
    addPages({0});
    workbook.Pages[0]->move(0, 200);
    workbook.Rearrange();
    EXPECT_EQ(workbook.Pages[0]->y(), 15);
}

class PagePlacement : public ::testing::TestWithParam<std::pair<int, int>>
{
protected:
    NoPrinter noPrinter;
};

TEST_P(PagePlacement, CentresInTheParentButNotLeftOfTheMinimum)
{
    const auto [parentWidth, expectedX] = GetParam();
    QWidget area;
    area.resize(parentWidth, 600);
    TqzExcel workbook(&area);
    TqzReport *page = workbook.AddPage();
    ASSERT_EQ(page->width(), 768);
    EXPECT_EQ(page->x(), expectedX);
    EXPECT_EQ(page->y(), 15);
}

INSTANTIATE_TEST_SUITE_P(Widths, PagePlacement,
                         ::testing::Values(std::pair{500, 15}, std::pair{1000, 106},
                                           std::pair{1001, 106}, std::pair{818, 15},
                                           std::pair{838, 25}, std::pair{0, 15}));

TEST_F(Workbook, NoReferenceOutlivesAPage)
{
    addPages({0, 0});
    QObject stranger;
    workbook.SetCurrentPage(workbook.Pages[1]);
    EXPECT_EQ(workbook.GetCurrentPage(), workbook.Pages[1]);
    workbook.SetCurrentPage(&stranger);
    EXPECT_EQ(workbook.GetCurrentPage(), nullptr);
    workbook.SetCurrentPage(workbook.Pages[1]);
    delete workbook.Pages[1]; // freed by somebody else: it leaves the workbook
    EXPECT_EQ(workbook.Pages.size(), 1);
    EXPECT_EQ(workbook.GetCurrentPage(), nullptr);
    workbook.SetCurrentPage(workbook.Pages[0]);
    workbook.ClearPages();
    EXPECT_EQ(workbook.CurrentPage, nullptr);

    // The parent frees workbook and pages in either order.
    for (const bool pagesFirst : {false, true}) {
        auto area2 = std::make_unique<QWidget>();
        QPointer<TqzExcel> other = new TqzExcel(area2.get());
        QPointer<TqzReport> page = other->AddPage();
        if (pagesFirst) { // moves the workbook behind its pages among the children
            other->setParent(nullptr);
            other->setParent(area2.get());
        }
        other->SetCurrentPage(page);
        area2.reset();
        EXPECT_TRUE(other.isNull() && page.isNull());
    }
}

TEST_F(Workbook, MouseHandlerReachesPagesCreatedAfterIt)
{
    addPages({0});
    QList<TqzReport *> pressed;
    workbook.OnPageMouseDown = [&](TqzReport *page, Qt::MouseButton, Qt::KeyboardModifiers,
                                   const QPoint &) { pressed.append(page); };
    addPages({0});
    for (TqzReport *page : workbook.Pages)
        emit page->OnMouseDown(Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(pressed, QList<TqzReport *>{workbook.Pages[1]});
}

TEST_F(Workbook, ExchangeOverPages)
{
    addPages({0, 1, 0});
    setCell(*workbook.Pages[0], 0, 0, QStringLiteral("Q"), QString());
    setCell(*workbook.Pages[1], 1, 1, QStringLiteral("[2][1][0][q]"), QStringLiteral("12"));
    setCell(*workbook.Pages[2], 0, 1, QStringLiteral("Q"), QStringLiteral("13"));
    EXPECT_EQ(workbook.GetTagValue(QStringLiteral("Q")), QStringLiteral("12"));
    EXPECT_EQ(workbook.GetTagValue(QStringLiteral("q")), QString());
    EXPECT_EQ(workbook.GetTagValue(QStringLiteral("NONE")), QString());

    workbook.SetTagValue(QStringLiteral("Q"), QStringLiteral("7.0"));
    EXPECT_EQ(workbook.Pages[0]->GetCallText(0, 0), QStringLiteral("7.0"));
    EXPECT_EQ(workbook.Pages[1]->GetCallText(1, 1), QStringLiteral("7.0"));
    EXPECT_EQ(workbook.Pages[2]->GetCallText(0, 1), QStringLiteral("7.0"));

    // A bad tag on the last page stops a write before any page changes, and names the page.
    setCell(*workbook.Pages[2], 1, 1, QStringLiteral("[9]"));
    try {
        workbook.SetTagValue(QStringLiteral("Q"), QStringLiteral("8"));
        FAIL() << "accepted";
    } catch (const Error &e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("page 3: line 2, cell 2"))) << e.what();
    }
    EXPECT_EQ(workbook.Pages[0]->GetCallText(0, 0), QStringLiteral("7.0"));
    // Reading stops at the first page that answers, before the bad tag.
    EXPECT_EQ(workbook.GetTagValue(QStringLiteral("Q")), QStringLiteral("7.0"));
    EXPECT_THROW(workbook.GetTagValue(QStringLiteral("NONE")), Error);
}

// A value longer than a cell holds is refused before any cell changes (and before its layout,
// which would take time growing with the square of its length); untagged names may carry any.
TEST_F(Workbook, ValuesLongerThanACellHoldsAreRefusedWholeBeforeAnyWrite)
{
    addPages({0, 0});
    setCell(*workbook.Pages[0], 0, 0, QStringLiteral("A"), QStringLiteral("a"));
    setCell(*workbook.Pages[1], 1, 1, QStringLiteral("B"), QStringLiteral("b"));
    const QString atLimit(MaxCellTextBytes, QLatin1Char('9'));
    const QString wideAtLimit(MaxCellTextBytes / 2, QChar(0x6CF5)); // two bytes each in GBK
    const QString huge(1'000'000, QLatin1Char('9'));
    struct Case
    {
        QHash<QString, QString> values;
        bool refused;
    };
    const std::vector<Case> cases = {
        {{{"A", atLimit}, {"B", wideAtLimit}, {"NONE", huge}}, false},
        {{{"A", "1"}, {"B", huge}}, true},
        {{{"A", "1"}, {"B", wideAtLimit + QChar(0x6CF5)}}, true},
        {{{"A", atLimit + "9"}}, true},
    };
    for (const Case &c : cases) {
        setCell(*workbook.Pages[0], 0, 0, QStringLiteral("A"), QStringLiteral("a"));
        setCell(*workbook.Pages[1], 1, 1, QStringLiteral("B"), QStringLiteral("b"));
        std::string error;
        try {
            if (c.values.size() == 1)
                workbook.SetTagValue(c.values.begin().key(), c.values.begin().value());
            else
                workbook.SetTagValues(c.values);
        } catch (const Error &e) {
            error = e.what();
        }
        EXPECT_EQ(!error.empty(), c.refused) << error;
        if (c.refused) {
            EXPECT_NE(error.find("more than the 3000 bytes a cell holds"), std::string::npos)
                << error;
            EXPECT_EQ(workbook.Pages[0]->GetCallText(0, 0), QStringLiteral("a"));
            EXPECT_EQ(workbook.Pages[1]->GetCallText(1, 1), QStringLiteral("b"));
        } else {
            EXPECT_EQ(workbook.Pages[0]->GetCallText(0, 0), atLimit);
            EXPECT_EQ(workbook.Pages[1]->GetCallText(1, 1), wideAtLimit);
        }
    }
}

TEST_F(Workbook, PageFieldsOnEveryPageShownOrNot)
{
    addPages({0, 1, 0});
    for (TqzReport *page : workbook.Pages) {
        setCell(*page, 0, 0, QStringLiteral("pagenum"));
        setCell(*page, 0, 1, QStringLiteral("[2][1][0][PageCount]"));
        setCell(*page, 1, 0, QStringLiteral("PAGENUM"), QStringLiteral("[执行计算]"));
    }
    workbook.ShowOwnerPages(0);
    ASSERT_TRUE(workbook.Pages[1]->isHidden());
    workbook.UpdatePageFields();
    for (int k = 0; k < 3; ++k) {
        TqzReport *page = workbook.Pages[k];
        EXPECT_EQ(page->GetCallText(0, 0), QStringLiteral("第 %1 页").arg(k + 1));
        EXPECT_EQ(page->GetCallText(0, 1), QStringLiteral("共 3 页"));
        EXPECT_EQ(page->GetCallText(1, 0), QStringLiteral("[执行计算]"));
    }
}

TEST_F(Workbook, ElementOfAnEmptyWorkbookAndTabNames)
{
    // No pages: "ShowPages" and no children; loading it leaves no pages.
    workbook.ClearPages();
    QDomDocument empty;
    const QDomElement saved = savedElement(empty);
    EXPECT_EQ(saved.attribute(QStringLiteral("ShowPages")), QStringLiteral("默认页\r\n"));
    EXPECT_TRUE(saved.firstChild().isNull());
    addPages({0, 0});
    workbook.LoadFromXML(saved);
    EXPECT_TRUE(workbook.Pages.isEmpty());

    QTabBar tabs;
    workbook.TabSet = &tabs;
    QDomDocument doc;
    QDomElement element = doc.createElement(QStringLiteral("TqzExcel"));
    doc.appendChild(element);
    element.appendChild(doc.createElement(QStringLiteral("anything")));

    workbook.PageNames = {QStringLiteral("甲"), QStringLiteral("乙")};
    workbook.LoadFromXML(element);
    EXPECT_EQ(workbook.PageNames, (QStringList{QStringLiteral("甲"), QStringLiteral("乙")}));
    EXPECT_EQ(workbook.Pages.size(), 1); // one page per child element, whatever its name
    EXPECT_EQ(tabs.count(), 2);
    EXPECT_EQ(tabs.currentIndex(), 0);

    const struct
    {
        QString text;
        QStringList names;
    } rows[] = {
        {QStringLiteral("a\r\nb\rc\nd"), {"a", "b", "c", "d"}},
        {QStringLiteral("a\r\n\r\nb\r\n"), {"a", "", "b"}},
        {QStringLiteral(" 泵 \n"), {" 泵 "}},
        {QString(), {}},
    };
    for (const auto &row : rows) {
        element.setAttribute(QStringLiteral("ShowPages"), row.text);
        workbook.LoadFromXML(element);
        EXPECT_EQ(workbook.PageNames, row.names) << row.text.toStdString();
        EXPECT_EQ(tabs.count(), row.names.size());
    }
}

TEST_F(Workbook, DamagedPagesLoadEmptyAndAreReported)
{
    addPages({0, 1, 0});
    for (int k = 0; k < 3; ++k)
        setCell(*workbook.Pages[k], 0, 0, QStringLiteral("T"), QString::number(k + 1));
    QDomDocument doc;
    QDomElement element = savedElement(doc);
    QDomElement second = element.firstChildElement().nextSiblingElement();
    QDomElement third = second.nextSiblingElement();
    const QString text = second.attribute(QStringLiteral("SaveText"));
    second.setAttribute(QStringLiteral("SaveText"), text.left(text.size() - 1));
    const QByteArray bytes = DecodeBase64Text(third.attribute(QStringLiteral("SaveText")));
    third.setAttribute(QStringLiteral("SaveText"), EncodeBase64Text(bytes.left(40)));

    TqzExcel loaded(&area);
    loaded.LoadFromXML(element);
    ASSERT_EQ(loaded.Pages.size(), 3);
    EXPECT_EQ(loaded.Pages[0]->GetTagValue(QStringLiteral("T")), QStringLiteral("1"));
    EXPECT_EQ(loaded.Pages[1]->CountFLines(), 0);
    EXPECT_EQ(loaded.Pages[2]->CountFLines(), 0);
    EXPECT_EQ(loaded.Pages[1]->OwnerIndex, 1);
    ASSERT_EQ(loaded.loadErrors().size(), 2);
    EXPECT_TRUE(loaded.loadErrors()[0].startsWith(QStringLiteral("page 2 "))) << loaded.loadErrors()[0].toStdString();
    EXPECT_TRUE(loaded.loadErrors()[0].contains(QStringLiteral("Base64")));
    EXPECT_TRUE(loaded.loadErrors()[1].startsWith(QStringLiteral("page 3 ")));

    // Saving writes a damaged page back as it was read while it stays empty.
    QDomDocument doc2;
    QDomElement resaved = doc2.createElement(QStringLiteral("TqzExcel"));
    loaded.SaveToXML(resaved);
    EXPECT_EQ(resaved.firstChildElement().nextSiblingElement().attribute(QStringLiteral("SaveText")),
              second.attribute(QStringLiteral("SaveText")));
    makeTable(*loaded.Pages[2], 1, 1);
    loaded.SaveToXML(resaved);
    EXPECT_NE(resaved.lastChildElement().attribute(QStringLiteral("SaveText")),
              third.attribute(QStringLiteral("SaveText")));

    loaded.LoadFromXML(savedElement(doc));
    EXPECT_TRUE(loaded.loadErrors().isEmpty());
}

// A page whose text holds no page stream this program knows (a later format) is shown empty,
// reported, and written back as it was read; an empty text is simply an empty page.
TEST_F(Workbook, PagesOfUnknownFormatsAreKeptAndReported)
{
    const QByteArray later = QByteArray("\x99\x77", 2) + QByteArray("version 9 page", 14);
    const struct
    {
        const char *what;
        QString text;
        bool reported;
    } rows[] = {
        {"later format", EncodeBase64Text(later), true},
        {"noise around it",
         QStringLiteral(" ") + EncodeBase64Text(later) + QStringLiteral("\r\n"),
         true},
        {"empty", QString(), false},
    };
    for (const auto &row : rows) {
        workbook.ClearPages();
        addPages({0, 0});
        QDomDocument doc;
        QDomElement element = savedElement(doc);
        element.lastChildElement().setAttribute(QStringLiteral("SaveText"), row.text);
        workbook.LoadFromXML(element);
        ASSERT_EQ(workbook.Pages.size(), 2) << row.what;
        EXPECT_EQ(workbook.Pages[1]->CountFLines(), 0) << row.what;
        EXPECT_EQ(workbook.loadErrors().size(), row.reported ? 1 : 0) << row.what;
        if (row.reported) {
            EXPECT_TRUE(workbook.loadErrors()[0].startsWith(QStringLiteral("page 2 (line ")))
                << workbook.loadErrors()[0].toStdString();
        }

        QDomDocument again;
        const QString saved
            = savedElement(again).lastChildElement().attribute(QStringLiteral("SaveText"));
        if (row.reported)
            EXPECT_EQ(saved, row.text) << row.what;
        else
            EXPECT_EQ(saved, workbook.Pages[1]->SaveToText()) << row.what;
    }
}

// One contentChanged per change of content, none for what changes nothing.
TEST_F(Workbook, SignalsEachChangeOfContent)
{
    int emitted = 0;
    QObject::connect(&workbook, &TqzExcel::contentChanged, [&] { ++emitted; });
    auto count = [&](const std::function<void()> &work) {
        emitted = 0;
        work();
        return emitted;
    };
    EXPECT_EQ(count([&] { workbook.AddPage(); }), 1);
    EXPECT_EQ(count([&] { workbook.AddPage(); }), 1);
    makeTable(*workbook.Pages[0], 2, 2);
    makeTable(*workbook.Pages[1], 2, 2);
    setCell(*workbook.Pages[0], 0, 0, QStringLiteral("Q"));
    setCell(*workbook.Pages[1], 0, 0, QStringLiteral("pagenum"));
    setCell(*workbook.Pages[1], 1, 1, QStringLiteral("Q"));

    TagWriteCount written;
    EXPECT_EQ(count([&] { written = workbook.SetTagValue(QStringLiteral("Q"), "1"); }), 1);
    EXPECT_EQ(written.matched, 2);
    EXPECT_EQ(written.changed, 2);
    EXPECT_EQ(count([&] { written = workbook.SetTagValue(QStringLiteral("Q"), "1"); }), 0);
    EXPECT_EQ(written.matched, 2);
    EXPECT_EQ(written.changed, 0);
    EXPECT_EQ(count([&] { written = workbook.SetTagValue(QStringLiteral("NONE"), "1"); }), 0);
    EXPECT_EQ(written.matched, 0);
    const QHash<QString, QString> batch{{QStringLiteral("Q"), QStringLiteral("2")}};
    EXPECT_EQ(count([&] { workbook.SetTagValues(batch); }), 1);
    EXPECT_EQ(count([&] { workbook.SetTagValues(batch); }), 0);
    EXPECT_EQ(count([&] { workbook.UpdatePageFields(); }), 1);
    EXPECT_EQ(count([&] { workbook.UpdatePageFields(); }), 0);

    QDomDocument doc;
    const QDomElement element = savedElement(doc);
    EXPECT_EQ(count([&] { workbook.LoadFromXML(element); }), 1);
    EXPECT_EQ(count([&] { workbook.ClearPages(); }), 1);
    EXPECT_EQ(count([&] { workbook.ClearPages(); }), 0);
    EXPECT_EQ(count([&] { workbook.LoadFromStream(sampleProjectPart()); }), 0); // no workbook

    // A page that reports a change of its own, where pages have that signal.
    workbook.AddPage();
    if (workbook.Pages[0]->metaObject()->indexOfSignal("contentChanged()") >= 0) {
        EXPECT_EQ(count([&] { QMetaObject::invokeMethod(workbook.Pages[0], "contentChanged"); }),
                  1);
    }
}

// The view keeps one page view per page of the workbook it views, whoever changes the workbook,
// and frees its views before the workbook frees their pages.
TEST(WorkbookView, FollowsItsWorkbook)
{
    NoPrinter noPrinter;
    QWidget area;
    TqzWorkbook book;
    book.AddPage();
    QTabBar tabs;
    auto view = std::make_unique<TqzExcel>(book, &area);
    view->TabSet = &tabs;
    const auto viewsMatch = [&] {
        if (view->Pages.size() != book.pageCount())
            return false;
        for (int k = 0; k < book.pageCount(); ++k)
            if (&view->Pages[k]->qzPage() != book.page(k) || view->Pages[k]->parent() != &area)
                return false;
        return true;
    };
    EXPECT_TRUE(viewsMatch()); // a page the workbook had before the view

    book.LoadFromStream(readWholeFile(samplePath()));
    ASSERT_EQ(book.pageCount(), 3);
    EXPECT_TRUE(viewsMatch());
    EXPECT_EQ(tabs.count(), 2);
    EXPECT_EQ(tabs.tabText(1), book.PageNames.at(1));
    EXPECT_EQ(&view->PageNames, &book.PageNames);

    // A write by tag on the workbook shows in the view's cells; a text typed through a view is
    // the workbook's.
    book.SetTagValue(QStringLiteral("流量"), QStringLiteral("77"));
    EXPECT_EQ(view->GetTagValue(QStringLiteral("流量")), QStringLiteral("77"));
    view->SetTagValue(QStringLiteral("流量"), QStringLiteral("78"));
    EXPECT_EQ(book.GetTagValue(QStringLiteral("流量")), QStringLiteral("78"));

    TqzReport *current = view->Pages[1];
    view->SetCurrentPage(current);
    book.AddPage();
    EXPECT_TRUE(viewsMatch());
    EXPECT_EQ(view->GetCurrentPage(), current); // adding keeps the other views
    book.ClearPages();
    EXPECT_TRUE(view->Pages.isEmpty());
    EXPECT_EQ(view->GetCurrentPage(), nullptr);
    EXPECT_TRUE(area.findChildren<TqzReport *>().isEmpty());

    book.LoadFromStream(readWholeFile(samplePath()));
    view.reset(); // the views go, the pages stay
    EXPECT_TRUE(area.findChildren<TqzReport *>().isEmpty());
    EXPECT_EQ(book.pageCount(), 3);
    EXPECT_EQ(book.GetTagValue(QStringLiteral("流量")), QStringLiteral("50"));
}

TEST_F(Workbook, BadOwnerIndexRefusesTheWholeElement)
{
    addPages({0, 1});
    QDomDocument doc;
    QDomElement element = savedElement(doc);
    element.setAttribute(QStringLiteral("ShowPages"), QStringLiteral("x\r\n"));
    for (const QString &bad : {QStringLiteral("1.5"), QStringLiteral(""), QStringLiteral("0x1"),
                               QStringLiteral("99999999999")}) {
        element.lastChildElement().setAttribute(QStringLiteral("OwnerIndex"), bad);
        const QList<TqzReport *> before = workbook.Pages;
        try {
            workbook.LoadFromXML(element);
            ADD_FAILURE() << "accepted " << bad.toStdString();
        } catch (const Error &e) {
            EXPECT_TRUE(e.message().startsWith(QStringLiteral("page 2 "))) << e.what();
        }
        EXPECT_EQ(workbook.Pages, before);
        EXPECT_EQ(workbook.PageNames, QStringList{QStringLiteral("默认页")});
    }
    element.lastChildElement().setAttribute(QStringLiteral("OwnerIndex"), QStringLiteral(" -3 "));
    workbook.LoadFromXML(element);
    EXPECT_EQ(workbook.Pages[1]->OwnerIndex, -3);
}

class SaveToFile : public Workbook
{
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("p.flw")); }
    void write(const QByteArray &bytes) { writeFileAtomically(path(), bytes); }
    QByteArray read() const { return readWholeFile(path()); }
};

TEST_F(SaveToFile, AppendsTheElementOnceThenReplacesIt)
{
    write(sampleProjectPart());
    const QDomDocument original = readXmlDocument(read(), path());
    addPages({0, 1});
    workbook.PageNames = {QStringLiteral("泵"), QStringLiteral("电机")};
    workbook.SaveToFile(path());
    workbook.AddPage();
    workbook.SaveToFile(path());

    const QDomDocument saved = readXmlDocument(read(), path());
    const QDomElement root = saved.documentElement();
    EXPECT_EQ(root.elementsByTagName(QStringLiteral("TqzExcel")).count(), 1);
    EXPECT_EQ(root.lastChildElement().tagName(), QStringLiteral("TqzExcel"));
    EXPECT_EQ(root.lastChildElement().childNodes().count(), 3);
    // Each page's text comes before its tab, as the original files hold them.
    EXPECT_EQ(QString::fromLatin1(read())
                  .count(QRegularExpression(QStringLiteral(
                      "<TqzReport SaveText=\"[A-Za-z0-9+/=]+\" OwnerIndex=\"[01]\"/>"))),
              3);
    // Everything else is as it was read.
    QDomDocument stripped = saved.cloneNode(true).toDocument();
    stripped.documentElement().removeChild(stripped.documentElement().lastChildElement());
    EXPECT_EQ(writeXmlDocument(stripped), writeXmlDocument(original));
    EXPECT_EQ(declaredXmlEncoding(read()).toUpper(), QStringLiteral("GB2312"));

    TqzProject project;
    LoadProjectFromStream(project, read(), path());
    EXPECT_EQ(project.TreeView->count(), 5);
}

// A file written by another tool: line ends, comments, attribute order, GBK characters under a
// GB2312 label and elements after the workbook all survive byte for byte; only the element's
// own bytes change, and a second save changes nothing more.
TEST_F(SaveToFile, EveryByteOutsideTheElementStays)
{
    const QByteArray head = "<?xml version=\"1.0\" encoding=\"gb2312\"?>\r\n"
                            "<!-- made by hand -->\r\n"
                            "<FLW Zeta=\"1\"  Name=\"\xC3\xC3\">\r\n"
                            "\t<TRTL StdLib=\"1\" LibraryPath=\"\\lib\"/>\r\n"
                            "\t";
    const QByteArray oldElement = "<TqzExcel ShowPages=\"old\"><x/></TqzExcel>";
    const QByteArray tail = "\r\n\t<After  b=\"2\" a=\"1\">\xE9\x46</After>\r\n</FLW>\r\n";
    write(head + oldElement + tail);
    addPages({0, 1});
    workbook.PageNames = {QStringLiteral("泵"), QStringLiteral("堃")}; // 堃 is outside GB2312
    workbook.SaveToFile(path());
    const QByteArray once = read();
    ASSERT_TRUE(once.startsWith(head)) << once.left(200).data();
    ASSERT_TRUE(once.endsWith(tail)) << once.right(200).data();
    const QByteArray element = once.mid(head.size(), once.size() - head.size() - tail.size());
    EXPECT_TRUE(element.startsWith("<TqzExcel")) << element.left(80).data();
    EXPECT_TRUE(element.endsWith("</TqzExcel>")) << element.right(80).data();
    EXPECT_TRUE(element.contains("&#22531;")) << element.left(200).data();

    QWidget area;
    TqzExcel back(&area);
    back.LoadFromStream(once, path());
    EXPECT_EQ(back.Pages.size(), 2);
    EXPECT_EQ(back.PageNames, workbook.PageNames);

    workbook.SaveToFile(path());
    EXPECT_EQ(read(), once);
}

// A document element written as an empty-element tag gets the workbook as its child; the file
// stays well-formed and a second save replaces the element instead of adding another.
TEST_F(SaveToFile, EmptyDocumentElementTakesTheElementAsItsChild)
{
    for (const QByteArray &root : {QByteArray("<FLW/>"), QByteArray("<FLW Name=\"p\" />")}) {
        write("<?xml version=\"1.0\" encoding=\"GB2312\"?>\n" + root + "\n");
        workbook.ClearPages();
        addPages({0, 1});
        workbook.SaveToFile(path());
        workbook.AddPage();
        workbook.SaveToFile(path());

        const QDomDocument saved = readXmlDocument(read(), path());
        const QDomElement element = saved.documentElement();
        EXPECT_EQ(element.tagName(), QStringLiteral("FLW")) << root.data();
        EXPECT_EQ(element.childNodes().count(), 1) << read().data();
        EXPECT_EQ(element.firstChildElement().childNodes().count(), 3) << root.data();
        EXPECT_EQ(element.attribute(QStringLiteral("Name")),
                  root.contains("Name") ? QStringLiteral("p") : QString());
        EXPECT_TRUE(read().endsWith("</FLW>\n")) << read().data();
    }
}

TEST_F(SaveToFile, MissingFileIsLeftAloneAndBrokenFileUnchanged)
{
    addPages({0});
    workbook.SaveToFile(path());
    EXPECT_FALSE(QFile::exists(path()));

    const QByteArray broken = "<?xml version=\"1.0\"?><FLW><TRTL></FLW>";
    write(broken);
    EXPECT_THROW(workbook.SaveToFile(path()), Error);
    EXPECT_EQ(read(), broken);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("p.flw")});
}

// Only project documents take a workbook element; anything else is refused and left as it was.
TEST_F(SaveToFile, RefusesDocumentsThatAreNotProjectFiles)
{
    const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    const struct
    {
        QByteArray document;
        bool project;
    } rows[] = {
        {"<html><head><title>x</title></head><body><p>page</p></body></html>", false},
        {"<FLW><Other/></FLW>", false},
        {"<FLW>text only</FLW>", false},
        {"<FLW/>", true},
        {"<FLW>\n  <!-- nothing yet -->\n</FLW>", true},
        {"<FLW><TRTL/></FLW>", true},
        {"<FLW><TProcess/><Other/></FLW>", true},
        {"<FLW><TqzExcel/></FLW>", true},
    };
    addPages({0});
    for (const auto &row : rows) {
        write(head + row.document);
        if (row.project) {
            workbook.SaveToFile(path());
            EXPECT_TRUE(read().contains("<TqzReport ")) << row.document.data();
        } else {
            try {
                workbook.SaveToFile(path());
                ADD_FAILURE() << "accepted " << row.document.data();
            } catch (const Error &e) {
                EXPECT_TRUE(e.message().contains(QStringLiteral("not a project file"))) << e.what();
            }
            EXPECT_EQ(read(), head + row.document);
        }
    }
}

// Elements that come from entity references have no place of their own in the text: a save
// either finds where the workbook goes in the document's own text or refuses, and what it
// writes loads back with the saved pages.
TEST_F(SaveToFile, WorkbookFromAnEntityIsNeverSplicedIntoTheWrongPlace)
{
    const QByteArray documents[] = {
        "<!DOCTYPE FLW [<!ENTITY e \"<TqzExcel ShowPages='x'/>\">]>\n<FLW><TRTL/>&e;</FLW>\n",
        "<!DOCTYPE FLW [<!ENTITY e \"<TRTL/>\">]>\n<FLW>&e;</FLW>\n",
        "<!DOCTYPE FLW [<!ENTITY e \"<TRTL/><TqzExcel/>\">]>\n<FLW>&e;<TVariables/></FLW>\n",
    };
    addPages({0, 0});
    for (const QByteArray &document : documents) {
        QByteArray saved;
        try {
            saved = workbook.SaveIntoDocument("<?xml version=\"1.0\"?>\n" + document);
        } catch (const Error &) {
            continue;
        }
        QWidget host;
        TqzExcel back(&host);
        back.LoadFromStream(saved);
        EXPECT_EQ(back.Pages.size(), 2) << saved.data();
    }
}

// Byte order marks before the document (a file may carry more than one) are not part of the
// decoded text: the splice must still land on the document element, in every encoding.
TEST_F(SaveToFile, LeadingByteOrderMarksKeepTheSpliceInPlace)
{
    const QByteArray utf8Bom = "\xEF\xBB\xBF";
    const QString body = QStringLiteral("<?xml version=\"1.0\" encoding=\"%1\"?>\n<FLW/>\n");
    const QByteArray utf16Root("<\0F\0L\0W\0", 8);
    struct Case
    {
        const char *codec;
        QByteArray bytes;
        QByteArray root; // how "<FLW" is written in that encoding
    } const cases[] = {
        {"UTF-8", utf8Bom + body.arg(QStringLiteral("UTF-8")).toUtf8(), "<FLW"},
        {"UTF-8", utf8Bom + utf8Bom + body.arg(QStringLiteral("UTF-8")).toUtf8(), "<FLW"},
        {"UTF-16LE",
         QStringEncoder(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom)
             .encode(QChar(0xFEFF) + body.arg(QStringLiteral("UTF-16"))),
         utf16Root},
    };
    addPages({0});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.codec);
        const QByteArray saved = workbook.SaveIntoDocument(c.bytes);
        const QString text = QStringDecoder(c.codec).decode(saved);
        EXPECT_TRUE(text.contains(QStringLiteral("<FLW>"))) << text.toStdString();
        EXPECT_TRUE(text.trimmed().endsWith(QStringLiteral("</TqzExcel>\n</FLW>")))
            << text.toStdString();
        const qsizetype head = c.bytes.indexOf(c.root);
        EXPECT_EQ(saved.first(head), c.bytes.first(head));
        QWidget host;
        TqzExcel back(&host);
        back.LoadFromStream(saved);
        EXPECT_EQ(back.Pages.size(), 1);
    }
}

// A project file written by the program loads back with the same tabs and pages: the committed
// sample is what the generator builds (TESSARIN_WRITE_SAMPLE=1 rewrites it).
TEST(SampleProject, WrittenByTheProgram)
{
    NoPrinter noPrinter;
    QWidget area;
    TqzExcel built(&area);
    buildSampleWorkbook(built);
    if (qEnvironmentVariable("TESSARIN_WRITE_SAMPLE") == QLatin1String("1")) {
        writeFileAtomically(samplePath(), sampleProjectPart());
        built.SaveToFile(samplePath());
    }
    TqzExcel loaded(&area);
    loaded.LoadFromStream(readWholeFile(samplePath()), samplePath());
    ASSERT_EQ(loaded.Pages.size(), built.Pages.size());
    for (qsizetype k = 0; k < built.Pages.size(); ++k) {
        EXPECT_EQ(loaded.Pages[k]->OwnerIndex, built.Pages[k]->OwnerIndex);
        EXPECT_EQ(loaded.Pages[k]->SaveToText(), built.Pages[k]->SaveToText()) << "page " << k;
    }
    EXPECT_EQ(loaded.PageNames, built.PageNames);
    EXPECT_TRUE(loaded.loadErrors().isEmpty());

    // A document without the element, or one that is not well-formed, changes nothing.
    loaded.LoadFromStream(sampleProjectPart());
    EXPECT_THROW(loaded.LoadFromStream("<FLW>"), Error);
    EXPECT_EQ(loaded.Pages.size(), 3);
}

TEST_F(Workbook, PrintsAllPagesOrTheCurrentOneToPdf)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("out.pdf"));
    auto printed = [&](void (TqzExcel::*print)(QPrinter *)) {
        QFile::remove(file);
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(file);
        (workbook.*print)(&printer);
        return QFile::exists(file) ? pdfPageCount(file) : -1;
    };
    addPages({0, 1, 0});
    setCell(*workbook.Pages[1], 0, 0, QStringLiteral("PAGENUM"));
    workbook.ShowOwnerPages(0);
    EXPECT_EQ(printed(&TqzExcel::PrintAll), 3);
    EXPECT_EQ(workbook.Pages[1]->GetCallText(0, 0), QStringLiteral("第 2 页"));
    EXPECT_EQ(printed(&TqzExcel::PrintCurrent), -1);
    workbook.SetCurrentPage(workbook.Pages[2]);
    EXPECT_EQ(printed(&TqzExcel::PrintCurrent), 1);
}

} // namespace
