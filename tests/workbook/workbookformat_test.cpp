// The workbook element spliced into project documents without any widget: bytes outside the
// element stay, line ends follow the document, and unfit documents are refused untouched.

#include "base64.h"
#include "error.h"
#include "workbookformat.h"
#include "xmltree.h"

#include <QDomDocument>

#include <gtest/gtest.h>

using namespace tessarin;

namespace {

// A workbook element of one tab and one page.
void writeOnePage(QDomElement &element)
{
    element.setAttribute(QStringLiteral("ShowPages"), QStringLiteral("默认页\r\n"));
    QDomElement page = element.ownerDocument().createElement(QStringLiteral("TqzReport"));
    page.setAttribute(QStringLiteral("SaveText"), QStringLiteral("V6pk"));
    page.setAttribute(QStringLiteral("OwnerIndex"), QStringLiteral("0"));
    element.appendChild(page);
}

struct SpliceRow
{
    const char *what;
    const char *before; // bytes kept in front of the element
    const char *old;    // bytes replaced
    const char *after;  // bytes kept behind it
    const char *lineEnd;
};

class WorkbookSplice : public ::testing::TestWithParam<SpliceRow>
{
};

TEST_P(WorkbookSplice, KeepsEveryByteOutsideTheElement)
{
    const SpliceRow &row = GetParam();
    const QByteArray before(row.before), after(row.after);
    const QByteArray out
        = spliceWorkbookElement(before + row.old + after, writeOnePage, QStringLiteral("doc"));
    ASSERT_TRUE(out.startsWith(before)) << row.what << "\n" << out.constData();
    ASSERT_TRUE(out.endsWith(after)) << row.what << "\n" << out.constData();
    const QByteArray middle = out.mid(before.size(), out.size() - before.size() - after.size());
    EXPECT_TRUE(middle.contains("SaveText=\"V6pk\" OwnerIndex=\"0\"")) << row.what;
    EXPECT_TRUE(middle.contains("<TqzExcel ShowPages=\"")) << row.what;
    EXPECT_FALSE(middle.contains("old")) << row.what;
    const QByteArray lineEnd(row.lineEnd);
    EXPECT_EQ(middle.count('\n'), middle.count(lineEnd)) << row.what;
    // The result reads back as one document with exactly one workbook element.
    QDomDocument doc;
    ASSERT_TRUE(doc.setContent(out)) << row.what;
    EXPECT_EQ(doc.documentElement().elementsByTagName(QStringLiteral("TqzExcel")).size(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Documents,
    WorkbookSplice,
    ::testing::Values(
        SpliceRow{"replaces the element",
                  "<?xml version=\"1.0\"?>\n<FLW>\n  <TRTL a=\"1\"/>\n  ",
                  "<TqzExcel ShowPages=\"old\"><TqzReport SaveText=\"old\"/></TqzExcel>",
                  "\n  <!-- kept -->\n</FLW>\n",
                  "\n"},
        SpliceRow{"CR LF lines",
                  "<?xml version=\"1.0\"?>\r\n<FLW>\r\n  <TRTL/>\r\n  ",
                  "<TqzExcel ShowPages=\"old\"/>",
                  "\r\n</FLW>\r\n",
                  "\r\n"},
        SpliceRow{
            "appends before the end tag", "<FLW b='2' a='1'>\n  <TProcess/>\n", "", "</FLW>", "\n"},
        SpliceRow{"an empty document element", "<?xml version=\"1.0\"?>\n<FLW", "/>", "\n", "\n"},
        SpliceRow{"a byte order mark and Chinese text",
                  "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<FLW>\n"
                  "  <TVariables n=\"\xE6\xB5\x81\xE9\x87\x8F\"/>\n  ",
                  "<TqzExcel/>",
                  "\n</FLW>\n",
                  "\n"}));

struct RefusalRow
{
    const char *what;
    const char *document;
    bool writerThrows;
    bool writerCalled;
};

class WorkbookSpliceRefusal : public ::testing::TestWithParam<RefusalRow>
{
};

TEST_P(WorkbookSpliceRefusal, ThrowsAndWritesNothing)
{
    const RefusalRow &row = GetParam();
    bool called = false;
    const WorkbookElementWriter write = [&](QDomElement &element) {
        called = true;
        if (row.writerThrows)
            throw Error(QStringLiteral("page 1: refused"));
        writeOnePage(element);
    };
    try {
        spliceWorkbookElement(QByteArray(row.document), write, QStringLiteral("the file"));
        ADD_FAILURE() << row.what << ": no error";
    } catch (const Error &e) {
        EXPECT_TRUE(e.message().contains(row.writerThrows ? QStringLiteral("page 1")
                                                          : QStringLiteral("the file")))
            << row.what << ": " << e.message().toStdString();
    }
    EXPECT_EQ(called, row.writerCalled) << row.what;
}

INSTANTIATE_TEST_SUITE_P(
    Documents,
    WorkbookSpliceRefusal,
    ::testing::Values(RefusalRow{"not a project", "<html><body/></html>", false, false},
                      RefusalRow{"not well-formed", "<FLW><TRTL></FLW>", false, false},
                      RefusalRow{"a text-only document element", "<FLW>text</FLW>", false, false},
                      RefusalRow{
                          "the element from an entity",
                          "<!DOCTYPE FLW [<!ENTITY wb \"<TqzExcel/>\">]><FLW><TRTL/>&wb;</FLW>",
                          false,
                          false},
                      RefusalRow{"the writer refuses", "<FLW><TRTL/></FLW>", true, true}));

// A page stream of one 2 x 1 table whose first cell is tagged "Q" and holds `text`.
QString pageText(const QString &text)
{
    TqzReportPage page;
    page.NewTable(2, 1);
    page.SetTagID(0, 0, QStringLiteral("Q"));
    page.SetCallText(0, 0, text);
    return page.SaveToText();
}

struct ReadRow
{
    const char *what;
    QString element;
    const char *names;   // tab names joined by "|"; null: no "ShowPages"
    const char *owners;  // owner index per page, joined by ","
    const char *answers; // GetTagValue("Q") per page, joined by "|"
    int errors;          // pages reported as unread (and kept)
};

class WorkbookElementRead : public ::testing::TestWithParam<ReadRow>
{
};

// Reading gives the pages, tabs and errors, on both element kinds alike, and writing gives
// back what was read: unread texts unchanged, readable pages as they were stored.
TEST_P(WorkbookElementRead, ReadsAndWritesBack)
{
    const ReadRow &row = GetParam();
    QDomDocument dom;
    ASSERT_TRUE(dom.setContent(row.element)) << row.what;
    const auto tree = parseXmlTreeText(row.element, QStringLiteral("test"));
    for (const WorkbookRead &read : {readWorkbookElement(dom.documentElement(), PageSetup::a4(), 5),
                                     readWorkbookElement(*tree, PageSetup::a4(), 5)}) {
        EXPECT_EQ(read.names.has_value(), row.names != nullptr) << row.what;
        if (row.names) {
            EXPECT_EQ(read.names->join(u'|'), QString::fromUtf8(row.names)) << row.what;
        }
        QStringList owners, answers;
        QList<const TqzReportPage *> pages;
        QList<std::optional<QString>> unread;
        for (const WorkbookPageRead &page : read.pages) {
            owners << QString::number(page.page->OwnerIndex);
            answers << page.page->GetTagValue(QStringLiteral("Q"));
            pages << page.page.get();
            unread << page.unreadText;
        }
        EXPECT_EQ(owners.join(u','), QString::fromLatin1(row.owners)) << row.what;
        EXPECT_EQ(answers.join(u'|'), QString::fromUtf8(row.answers)) << row.what;
        EXPECT_EQ(read.errors.size(), row.errors)
            << row.what << read.errors.join(u'\n').toStdString();

        QDomDocument out;
        QDomElement written = out.createElement(QStringLiteral("TqzExcel"));
        writeWorkbookElement(written, read.names.value_or(QStringList()), pages, unread);
        QDomElement stored = dom.documentElement().firstChildElement();
        for (QDomElement child = written.firstChildElement(); !child.isNull();
             child = child.nextSiblingElement(), stored = stored.nextSiblingElement()) {
            // An empty text is read as an empty page and written as one.
            const QString text = stored.attribute(QStringLiteral("SaveText"));
            EXPECT_EQ(child.attribute(QStringLiteral("SaveText")),
                      text.isEmpty() ? TqzReportPage().SaveToText() : text)
                << row.what;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Elements,
    WorkbookElementRead,
    ::testing::Values(
        ReadRow{"two tabs, two pages",
                QStringLiteral("<TqzExcel ShowPages=\"默认页&#13;&#10;出口&#13;&#10;\">"
                               "<TqzReport SaveText=\"%1\" OwnerIndex=\"0\"/>"
                               "<Other SaveText=\"%2\" OwnerIndex=\" +1 \"/></TqzExcel>")
                    .arg(pageText(QStringLiteral("12")), pageText(QStringLiteral("流量"))),
                "默认页|出口",
                "0,1",
                "12|流量",
                0},
        ReadRow{"no tabs, no owner index, an empty text",
                QStringLiteral("<TqzExcel><TqzReport SaveText=\"%1\"/><TqzReport "
                               "SaveText=\"\"/></TqzExcel>")
                    .arg(pageText(QStringLiteral("3"))),
                nullptr,
                "5,5",
                "3|",
                0},
        ReadRow{"a later format and a damaged text are kept",
                QStringLiteral("<TqzExcel ShowPages=\"\"><TqzReport SaveText=\"AAAA\"/>"
                               "<TqzReport SaveText=\"A===\"/><TqzReport SaveText=\"%1\"/>"
                               "</TqzExcel>")
                    .arg(pageText(QStringLiteral("9"))),
                "",
                "5,5,5",
                "||9",
                2}));

// A bad owner index refuses the whole element, naming the page and its line.
TEST(WorkbookElementReadRefusal, NamesThePage)
{
    QDomDocument dom;
    ASSERT_TRUE(dom.setContent(QStringLiteral("<TqzExcel>\n<TqzReport/>\n<TqzReport "
                                              "OwnerIndex=\"1.5\"/></TqzExcel>")));
    try {
        readWorkbookElement(dom.documentElement(), PageSetup::a4(), 0);
        ADD_FAILURE() << "no error";
    } catch (const Error &e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("page 2 (line 3)")))
            << e.message().toStdString();
    }
}

} // namespace
