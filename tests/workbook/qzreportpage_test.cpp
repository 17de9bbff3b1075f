// Workbook pages without a view: the value exchange by tag name, the page as Base64 text and
// what a write by tag tells the views.

#include "base64.h"
#include "error.h"
#include "qzreportpage.h"

#include <QStringList>

#include <optional>
#include <vector>

#include <gtest/gtest.h>

using namespace tessarin;

namespace {

const QString kRun = QStringLiteral("[执行计算]");

struct TaggedCell
{
    int line;
    int cell;
    const char16_t *tag;
    const char16_t *text;
};

// A 3 x 3 page holding `cells`.
void fill(TqzReportPage &page, const std::vector<TaggedCell> &cells)
{
    page.NewTable(3, 3);
    for (const TaggedCell &c : cells) {
        page.SetTagID(c.line, c.cell, QString::fromUtf16(c.tag));
        page.SetCallText(c.line, c.cell, QString::fromUtf16(c.text));
    }
}

QStringList texts(const TqzReportPage &page)
{
    QStringList out;
    for (int l = 0; l < page.CountFLines(); ++l)
        for (int c = 0; c < page.CountFcells(l); ++c)
            out << page.GetCallText(l, c);
    return out;
}

struct ExchangeRow
{
    const char *what;
    std::vector<TaggedCell> cells;
    const char16_t *name;
    const char16_t *answer; // GetTagValue; null: it throws
    int matched;            // SetTagValue(name, "7"); -1: it throws and writes nothing
    int changed;
};

class PageModelExchange : public ::testing::TestWithParam<ExchangeRow>
{
};

TEST_P(PageModelExchange, ReadsAndWritesByName)
{
    const ExchangeRow &row = GetParam();
    TqzReportPage page;
    fill(page, row.cells);
    const QString name = QString::fromUtf16(row.name);
    if (row.answer)
        EXPECT_EQ(page.GetTagValue(name), QString::fromUtf16(row.answer)) << row.what;
    else
        EXPECT_THROW(page.GetTagValue(name), Error) << row.what;

    int announced = 0;
    QObject::connect(&page, &TqzReportPage::aboutToWriteCell, [&](TReportCell *) { ++announced; });
    const QStringList before = texts(page);
    if (row.matched < 0) {
        EXPECT_THROW(page.SetTagValue(name, QStringLiteral("7")), Error) << row.what;
        EXPECT_EQ(texts(page), before) << row.what;
        EXPECT_EQ(announced, 0) << row.what;
        return;
    }
    const TagWriteCount count = page.SetTagValue(name, QStringLiteral("7"));
    EXPECT_EQ(count.matched, row.matched) << row.what;
    EXPECT_EQ(count.changed, row.changed) << row.what;
    EXPECT_EQ(announced, row.matched) << row.what;
    // Every cell written now answers "7", and the batch write agrees with the single one.
    const QList<TReportCell *> cells = page.CellsOfName(name);
    EXPECT_EQ(cells.size(), row.matched) << row.what;
    for (const TReportCell *cell : cells) {
        EXPECT_EQ(cell->FCellText, QStringLiteral("7")) << row.what;
        EXPECT_EQ(page.NameOfCell(cell), std::optional<QString>(name)) << row.what;
    }
    EXPECT_EQ(page.SetTagValues({{name, QStringLiteral("7")}}), 0) << row.what;
}

INSTANTIATE_TEST_SUITE_P(
    Tags,
    PageModelExchange,
    ::testing::Values(
        ExchangeRow{"two cells, plain and bracketed",
                    {{0, 0, u"q", u"1"}, {2, 1, u"[2][0][1][Q]", u"2"}},
                    u"Q",
                    u"1",
                    2,
                    2},
        ExchangeRow{"a run button is left out",
                    {{0, 0, u"Q", u"[执行计算]"}, {1, 0, u"Q", u"5"}},
                    u"Q",
                    u"5",
                    1,
                    1},
        ExchangeRow{"the value is already there", {{1, 1, u"Q", u"7"}}, u"Q", u"7", 1, 0},
        ExchangeRow{"no cell answers", {{1, 1, u"Q", u"1"}}, u"P", u"", 0, 0},
        ExchangeRow{"the name is compared as given", {{1, 1, u"q", u"1"}}, u"q", u"", 0, 0},
        ExchangeRow{"a bad tag after the answer",
                    {{0, 0, u"Q", u"1"}, {2, 2, u"[1]", u""}},
                    u"Q",
                    u"1",
                    -1,
                    0},
        ExchangeRow{"a bad tag before the answer",
                    {{0, 0, u"[1]", u""}, {2, 2, u"Q", u"1"}},
                    u"Q",
                    nullptr,
                    -1,
                    0},
        ExchangeRow{"a bad tag on a run button does not count",
                    {{0, 0, u"[1]", u"[执行计算]"}, {2, 2, u"Q", u"1"}},
                    u"Q",
                    u"1",
                    1,
                    1}));

// Batches and single writes give the same page; a value too long for a cell changes nothing;
// a value of more lines than a cell shows leaves the layout to be done.
TEST(PageModel, BatchWritesLengthsAndPendingLayout)
{
    const std::vector<TaggedCell> cells{
        {0, 0, u"A", u""}, {0, 1, u"B", u""}, {1, 0, u"A", u""}, {2, 2, u"C", u"[执行计算]"}};
    const QHash<QString, QString> values{{QStringLiteral("A"), QStringLiteral("1")},
                                         {QStringLiteral("C"), QStringLiteral("3")},
                                         {QStringLiteral("Z"), QStringLiteral("9")}};
    TqzReportPage single, batch;
    fill(single, cells);
    fill(batch, cells);
    for (auto it = values.constBegin(); it != values.constEnd(); ++it)
        single.SetTagValue(it.key(), it.value());
    EXPECT_EQ(batch.SetTagValues(values), 2);
    EXPECT_EQ(texts(batch), texts(single));
    EXPECT_EQ(batch.GetCallText(2, 2), kRun);

    QHash<QString, QString> answers{{QStringLiteral("A"), QString()},
                                    {QStringLiteral("B"), QStringLiteral("kept")},
                                    {QStringLiteral("C"), QString()}};
    batch.GetTagValues(answers);
    EXPECT_EQ(answers.value(QStringLiteral("A")), QStringLiteral("1"));
    EXPECT_EQ(answers.value(QStringLiteral("B")), QStringLiteral("kept"));
    EXPECT_EQ(answers.value(QStringLiteral("C")), QString());

    const QString tooLong(MaxCellTextBytes + 1, u'x');
    EXPECT_THROW(batch.checkValueLengths({{QStringLiteral("B"), tooLong}}), Error);
    EXPECT_NO_THROW(batch.checkValueLengths({{QStringLiteral("Z"), tooLong}}));

    batch.UpdateLines();
    EXPECT_FALSE(batch.layoutPending());
    batch.SetTagValue(QStringLiteral("B"), QStringLiteral("1\r\n2\r\n3\r\n4\r\n5"));
    EXPECT_TRUE(batch.layoutPending());
    const int before = batch.line(0)->FLineRect.height();
    batch.updateLayoutIfPending();
    EXPECT_FALSE(batch.layoutPending());
    EXPECT_GT(batch.line(0)->FLineRect.height(), before);
}

struct TextRow
{
    const char *what;
    const char *text; // null: the page's own text; "half": its first half as a page stream
    int result;       // 1 loaded, 0 emptied, -1 throws and keeps the page
};

class PageModelText : public ::testing::TestWithParam<TextRow>
{
};

TEST_P(PageModelText, LoadsAllOrNothing)
{
    const TextRow &row = GetParam();
    TqzReportPage source;
    fill(source, {{0, 0, u"Q", u"流量"}, {1, 2, u"[2][0][1][H]", u"12.5"}});
    const QString saved = source.SaveToText();
    TqzReportPage page;
    fill(page, {{0, 1, u"P", u"old"}});
    page.OwnerIndex = 3;
    const QString kept = page.SaveToText();
    QString text = row.text ? QString::fromLatin1(row.text) : saved;
    if (text == QLatin1String("half")) {
        const QByteArray bytes = DecodeBase64Text(saved);
        text = EncodeBase64Text(bytes.left(bytes.size() / 2));
    }
    if (row.result < 0) {
        EXPECT_THROW(page.LoadFromText(text), Error) << row.what;
        EXPECT_EQ(page.SaveToText(), kept) << row.what;
        EXPECT_EQ(page.GetTagValue(QStringLiteral("P")), QStringLiteral("old")) << row.what;
        return;
    }
    EXPECT_EQ(page.LoadFromText(text), row.result == 1) << row.what;
    EXPECT_EQ(page.OwnerIndex, 3) << row.what;
    if (row.result == 1) {
        EXPECT_EQ(page.SaveToText(), saved) << row.what;
        EXPECT_EQ(page.GetTagValue(QStringLiteral("H")), QStringLiteral("12.5")) << row.what;
        EXPECT_EQ(page.GetTagValue(QStringLiteral("P")), QString()) << row.what;
    } else {
        EXPECT_EQ(page.lineCount(), 0) << row.what;
    }
}

INSTANTIATE_TEST_SUITE_P(Texts,
                         PageModelText,
                         ::testing::Values(TextRow{"its own text", nullptr, 1},
                                           TextRow{"bytes without a page", "AAAA", 0},
                                           TextRow{"no bytes at all", "", 0},
                                           TextRow{"only characters outside Base64", "!!!!", 0},
                                           TextRow{"a misplaced pad", "A===", -1},
                                           TextRow{"an unfinished group", "QUJD\nQQ", -1},
                                           TextRow{"a page stream cut short", "half", -1}));

} // namespace
