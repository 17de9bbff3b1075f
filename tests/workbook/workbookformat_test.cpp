// The workbook element spliced into project documents without any widget: bytes outside the
// element stay, line ends follow the document, and unfit documents are refused untouched.

#include "error.h"
#include "workbookformat.h"

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
                          true},
                      RefusalRow{"the writer refuses", "<FLW><TRTL/></FLW>", true, true}));

} // namespace
