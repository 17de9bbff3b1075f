// Workbook pages: the value exchange by tag name and the page as Base64 text.

#include "base64.h"
#include "celltag.h"
#include "error.h"
#include "qzreport.h"
#include "workbook_support.h"

#include <QRandomGenerator>

#include <functional>

#include <gtest/gtest.h>

using namespace tessarin;
using tessarin::test::makeTable;
using tessarin::test::NoPrinter;
using tessarin::test::setCell;

namespace {

const QString kRun = QStringLiteral("[执行计算]");

struct ExchangeRow
{
    const char16_t *tag;     // tag of the only tagged cell
    const char16_t *text;    // its text
    const char16_t *request; // name asked for
    const char16_t *answer;  // GetTagValue; SetTagValue writes exactly when this is non-null
};

class PageExchange : public ::testing::TestWithParam<ExchangeRow>
{
protected:
    NoPrinter noPrinter;
};

// One tagged cell among untagged ones; both operations must agree on whether it answers.
TEST_P(PageExchange, MatchesByTrimmedUpperCasedName)
{
    const ExchangeRow &row = GetParam();
    TqzReport page;
    makeTable(page, 3, 2);
    setCell(page, 1, 1, QString::fromUtf16(row.tag), QString::fromUtf16(row.text));
    const QString request = QString::fromUtf16(row.request);
    EXPECT_EQ(page.GetTagValue(request), row.answer ? QString::fromUtf16(row.answer) : QString());
    page.SetTagValue(request, QStringLiteral("42"));
    EXPECT_EQ(page.GetCallText(1, 1),
              row.answer ? QStringLiteral("42") : QString::fromUtf16(row.text));
    for (int c : {0, 2})
        EXPECT_EQ(page.GetCallText(1, c), QString());
}

// The matching rules themselves are covered cell by cell with the tag parser; these rows check
// that a page applies them through its index.
INSTANTIATE_TEST_SUITE_P(
    Tags, PageExchange,
    ::testing::Values(ExchangeRow{u"flow", u"12", u"FLOW", u"12"},
                      ExchangeRow{u"flow", u"12", u"flow", nullptr},
                      ExchangeRow{u"  [2][0][1][Q] \t", u"3.5", u"Q", u"3.5"},
                      ExchangeRow{u"PageNum", u"", u"PAGENUM", u""},
                      ExchangeRow{u"流量q", u"50", u"流量Q", u"50"},
                      ExchangeRow{u"äq", u"1", u"ÄQ", nullptr}, // only a to z are upper-cased
                      ExchangeRow{u"   ", u"1", u"", nullptr},
                      ExchangeRow{u"FLOW", u"[执行计算]", u"FLOW", nullptr},
                      ExchangeRow{u"FLOW", u"[执行计算] ", u"FLOW", u"[执行计算] "}));

class PageTags : public ::testing::Test
{
protected:
    NoPrinter noPrinter;
};

TEST_F(PageTags, SameTagTwiceBothWrittenFirstReadEvenWhenEmpty)
{
    TqzReport page;
    makeTable(page, 2, 3);
    setCell(page, 0, 1, QStringLiteral("H"), QString());
    setCell(page, 2, 0, QStringLiteral("[2][1][0][h]"), QStringLiteral("9"));
    setCell(page, 1, 0, QStringLiteral("H"), kRun); // a run button in between
    EXPECT_EQ(page.GetTagValue(QStringLiteral("H")), QString());
    page.SetTagValue(QStringLiteral("H"), QStringLiteral("31.5"));
    EXPECT_EQ(page.GetCallText(0, 1), QStringLiteral("31.5"));
    EXPECT_EQ(page.GetCallText(2, 0), QStringLiteral("31.5"));
    EXPECT_EQ(page.GetCallText(1, 0), kRun);
    // A cell written with the run caption stops taking part.
    page.SetTagValue(QStringLiteral("H"), kRun);
    EXPECT_EQ(page.GetTagValue(QStringLiteral("H")), QString());
    page.SetTagValue(QStringLiteral("H"), QStringLiteral("1"));
    EXPECT_EQ(page.GetCallText(0, 1), kRun);
}

TEST_F(PageTags, ShortBracketedTagEndsTheExchangeWhereItStands)
{
    TqzReport page;
    makeTable(page, 3, 3);
    setCell(page, 0, 0, QStringLiteral("A"), QStringLiteral("a"));
    setCell(page, 1, 2, QStringLiteral(" [1]x] "), QStringLiteral("bad"));
    setCell(page, 2, 0, QStringLiteral("A"), QStringLiteral("a2"));
    setCell(page, 2, 1, QStringLiteral("B"), QStringLiteral("b"));
    // A match before the bad tag is answered; anything that needs to look past it fails.
    EXPECT_EQ(page.GetTagValue(QStringLiteral("A")), QStringLiteral("a"));
    for (const QString &name : {QStringLiteral("B"), QStringLiteral("NONE")}) {
        try {
            page.GetTagValue(name);
            ADD_FAILURE() << "no error for " << name.toStdString();
        } catch (const Error &e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("line 2, cell 3")))
                << e.what();
            EXPECT_TRUE(e.message().contains(QStringLiteral("\"[1]x]\""))) << e.what();
        }
    }
    // Writing is all or nothing: not even the cell before the bad tag changes.
    EXPECT_THROW(page.SetTagValue(QStringLiteral("A"), QStringLiteral("new")), Error);
    EXPECT_EQ(page.GetCallText(0, 0), QStringLiteral("a"));
    EXPECT_EQ(page.GetCallText(2, 0), QStringLiteral("a2"));
    EXPECT_THROW(page.checkTags(), Error);
}

// What an exchange request yields: the answer, or the error it ends with.
QString outcome(const std::function<QString()> &request)
{
    try {
        return QStringLiteral("value:") + request();
    } catch (const Error &e) {
        return QStringLiteral("error:") + e.message();
    }
}

// A plain reading of the exchange rules, cell by cell, to check the page's index against.
struct ReferenceExchange
{
    TReportControl &page;

    // Calls `visit(line, cell, name)` for each cell taking part until it returns false; throws
    // at the first tag that cannot be parsed.
    template<class F>
    void scan(F &&visit)
    {
        for (int l = 0; l < page.lineCount(); ++l) {
            for (int c = 0; c < page.line(l)->cellCount(); ++c) {
                if (page.GetCallText(l, c) == kRun)
                    continue;
                const QString tag = trimTag(page.GetTagID(l, c));
                if (tag.isEmpty())
                    continue;
                TqzCellTag parsed;
                try {
                    parsed.Parse(tag);
                } catch (const Error &e) {
                    throw Error(QStringLiteral("line %1, cell %2: %3")
                                    .arg(l + 1)
                                    .arg(c + 1)
                                    .arg(e.message()));
                }
                if (!visit(l, c, upperAscii(parsed.Name)))
                    return;
            }
        }
    }
    QString get(const QString &name)
    {
        QString found;
        bool hit = false;
        scan([&](int l, int c, const QString &n) {
            if (n != name)
                return true;
            found = page.GetCallText(l, c);
            hit = true;
            return false;
        });
        return hit ? found : QString();
    }
    void set(const QString &name, const QString &value)
    {
        QList<QPair<int, int>> targets;
        scan([&](int l, int c, const QString &n) {
            if (n == name)
                targets.append({l, c});
            return true;
        });
        for (const auto &[l, c] : std::as_const(targets))
            page.SetCallText(l, c, value);
    }
};

// Random pages and random requests: the index must answer exactly as the plain reading of the
// rules does, errors included, also after writes that change which cells take part (run
// captions) and after edits of tags, texts and the page's structure between requests.
TEST_F(PageTags, IndexAnswersAsThePlainRulesDo)
{
    const QStringList names{QStringLiteral("A"), QStringLiteral("b"), QStringLiteral("C"),
                            QStringLiteral("流量"), QStringLiteral("")};
    auto randomTag = [&](QRandomGenerator &rng) -> QString {
        const QString name = names[rng.bounded(names.size())];
        switch (rng.bounded(6)) {
        case 0: return name;
        case 1: return QStringLiteral(" [2][1][0][%1] ").arg(name);
        case 2: return name.toLower();
        case 3: return QString();
        case 4: return rng.bounded(8) == 0 ? QStringLiteral("[1]") : QString(); // refused
        default: return QStringLiteral("\t") + name.toUpper();
        }
    };
    for (quint32 seed = 1; seed <= 30; ++seed) {
        TqzReport reference;
        TqzReport indexed;
        ReferenceExchange plain{reference};
        QRandomGenerator rng(seed);
        const int lines = 1 + rng.bounded(6);
        const int cells = 1 + rng.bounded(5);
        for (TqzReport *page : {&reference, &indexed})
            makeTable(*page, cells, lines);
        for (int l = 0; l < lines; ++l) {
            for (int c = 0; c < cells; ++c) {
                const QString tag = randomTag(rng);
                const QString text = rng.bounded(4) == 0 ? kRun : QString::number(l * 10 + c);
                for (TqzReport *page : {&reference, &indexed})
                    setCell(*page, l, c, tag, text);
            }
        }
        for (int step = 0; step < 120; ++step) {
            const QString name = names[rng.bounded(names.size())].toUpper();
            const QString value = rng.bounded(3) == 0 ? kRun : QString::number(step);
            switch (rng.bounded(8)) {
            case 0: case 1: // a write by tag
                outcome([&] { indexed.SetTagValue(name, value); return QString(); });
                outcome([&] { plain.set(name, value); return QString(); });
                break;
            case 2: { // a tag or text edited by position
                const int l = rng.bounded(reference.lineCount());
                const int c = rng.bounded(reference.line(l)->cellCount());
                const QString tag = randomTag(rng);
                for (TqzReport *page : {&reference, &indexed})
                    setCell(*page, l, c, tag, value);
                break;
            }
            case 3: // the page reloaded from its own text
                indexed.LoadFromText(indexed.SaveToText());
                break;
            default:
                break;
            }
            ASSERT_EQ(outcome([&] { return indexed.GetTagValue(name); }),
                      outcome([&] { return plain.get(name); }))
                << "seed " << seed << " step " << step;
        }
        for (int l = 0; l < lines; ++l)
            for (int c = 0; c < cells; ++c)
                ASSERT_EQ(indexed.GetCallText(l, c), reference.GetCallText(l, c));
    }
}

// Structural edits (lines inserted, removed, cells added) move the first match; the index must
// follow them without any call to refresh it.
TEST_F(PageTags, IndexFollowsStructuralEdits)
{
    TqzReport page;
    makeTable(page, 2, 3);
    setCell(page, 1, 0, QStringLiteral("Q"), QStringLiteral("second"));
    EXPECT_EQ(page.GetTagValue(QStringLiteral("Q")), QStringLiteral("second"));
    setCell(page, 0, 1, QStringLiteral("Q"), QStringLiteral("first"));
    EXPECT_EQ(page.GetTagValue(QStringLiteral("Q")), QStringLiteral("first"));
    page.LoadFromText(QString()); // not a page stream: the page is emptied
    EXPECT_EQ(page.GetTagValue(QStringLiteral("Q")), QString());
    makeTable(page, 1, 1);
    setCell(page, 0, 0, QStringLiteral("Q"), QStringLiteral("fresh"));
    EXPECT_EQ(page.GetTagValue(QStringLiteral("Q")), QStringLiteral("fresh"));
}

TEST_F(PageTags, WriteThatNeedsMoreHeightAsksForALayout)
{
    TqzReport page;
    makeTable(page, 4, 2);
    setCell(page, 0, 0, QStringLiteral("NOTE"));
    const int before = page.line(0)->GetLineHeight();
    page.SetTagValue(QStringLiteral("NOTE"), QStringLiteral("short"));
    EXPECT_FALSE(page.layoutPending());
    page.SetTagValue(QStringLiteral("NOTE"),
                     QStringLiteral("a long remark that cannot fit on one line of a narrow cell, "
                                    "so the cell needs several lines of text"));
    EXPECT_TRUE(page.layoutPending());
    page.updateLayoutIfPending();
    EXPECT_FALSE(page.layoutPending());
    EXPECT_GT(page.line(0)->GetLineHeight(), before);
    EXPECT_EQ(page.line(1)->FLineTop, page.line(0)->FLineTop + page.line(0)->GetLineHeight());
}

class PageText : public ::testing::Test
{
protected:
    NoPrinter noPrinter;
};

TEST_F(PageText, RoundTripReproducesThePageButScriptIds)
{
    TqzReport source;
    makeTable(source, 3, 2);
    setCell(source, 0, 0, QStringLiteral("[2][1][0][FLOW]"), QStringLiteral("流量\r\n50"));
    setCell(source, 1, 2, QStringLiteral("HEAD"), QStringLiteral("32.5"));
    source.SetScriptID(1, 2, 7);
    source.SetLineHegit(1, 60);
    source.UpdateLines();

    const QString text = source.SaveToText();
    for (const QChar c : text)
        ASSERT_TRUE(c.isLetterOrNumber() || c == u'+' || c == u'/' || c == u'=') << int(c.unicode());

    TqzReport copy;
    makeTable(copy, 1, 5); // replaced entirely
    copy.LoadFromText(text);
    ASSERT_EQ(copy.CountFLines(), 2);
    for (int l = 0; l < 2; ++l) {
        ASSERT_EQ(copy.CountFcells(l), 3);
        EXPECT_EQ(copy.line(l)->GetLineHeight(), source.line(l)->GetLineHeight());
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(copy.GetCallText(l, c), source.GetCallText(l, c));
            EXPECT_EQ(copy.GetTagID(l, c), source.GetTagID(l, c));
            EXPECT_EQ(copy.line(l)->cell(c)->FCellRect, source.line(l)->cell(c)->FCellRect);
        }
    }
    EXPECT_EQ(copy.GetScriptID(1, 2), 0);
    EXPECT_EQ(copy.GetTagValue(QStringLiteral("FLOW")), QStringLiteral("流量\r\n50"));
    EXPECT_EQ(copy.SaveToText(), text);
}

TEST_F(PageText, DamagedTextLeavesThePageAsItWasAndForeignBytesEmptyIt)
{
    TqzReport source;
    makeTable(source, 2, 2);
    setCell(source, 1, 1, QStringLiteral("Q"), QStringLiteral("5"));
    const QString good = source.SaveToText();
    const QByteArray bytes = DecodeBase64Text(good);

    const QString refusedByCodec = good.left(good.size() - 1); // a partial last group
    const QString truncatedStream = EncodeBase64Text(bytes.left(bytes.size() / 2));
    for (const QString &damaged : {refusedByCodec, truncatedStream}) {
        TqzReport page;
        makeTable(page, 1, 1);
        setCell(page, 0, 0, QStringLiteral("KEEP"), QStringLiteral("kept"));
        EXPECT_THROW(page.LoadFromText(damaged), Error);
        ASSERT_EQ(page.CountFLines(), 1);
        EXPECT_EQ(page.GetTagValue(QStringLiteral("KEEP")), QStringLiteral("kept"));
    }

    // Bytes that are no page stream at all (and the empty text) leave an empty page.
    for (const QString &foreign : {EncodeBase64Text("not a page"), QString()}) {
        TqzReport page;
        makeTable(page, 1, 1);
        page.LoadFromText(foreign);
        EXPECT_EQ(page.CountFLines(), 0);
    }
}

} // namespace
