// Workbook pages: the value exchange by tag name and the page as Base64 text.

#include "base64.h"
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

// One tagged cell among untagged ones; both operations, inside and outside a session, must
// agree on whether it answers.
TEST_P(PageExchange, MatchesByTrimmedUpperCasedName)
{
    const ExchangeRow &row = GetParam();
    for (const bool session : {false, true}) {
        TqzReport page;
        makeTable(page, 3, 2);
        setCell(page, 1, 1, QString::fromUtf16(row.tag), QString::fromUtf16(row.text));
        if (session)
            page.beginExchange();
        const QString request = QString::fromUtf16(row.request);
        EXPECT_EQ(page.GetTagValue(request),
                  row.answer ? QString::fromUtf16(row.answer) : QString())
            << "session " << session;
        page.SetTagValue(request, QStringLiteral("42"));
        EXPECT_EQ(page.GetCallText(1, 1),
                  row.answer ? QStringLiteral("42") : QString::fromUtf16(row.text))
            << "session " << session;
        for (int c : {0, 2})
            EXPECT_EQ(page.GetCallText(1, c), QString());
        if (session)
            page.endExchange();
    }
}

// The matching rules themselves are covered cell by cell with the tag parser; these rows check
// that a page applies them the same way in both of its lookup paths.
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
    for (const bool session : {false, true}) {
        TqzReport page;
        makeTable(page, 2, 3);
        setCell(page, 0, 1, QStringLiteral("H"), QString());
        setCell(page, 2, 0, QStringLiteral("[2][1][0][h]"), QStringLiteral("9"));
        setCell(page, 1, 0, QStringLiteral("H"), kRun); // a run button in between
        if (session)
            page.beginExchange();
        EXPECT_EQ(page.GetTagValue(QStringLiteral("H")), QString());
        page.SetTagValue(QStringLiteral("H"), QStringLiteral("31.5"));
        EXPECT_EQ(page.GetCallText(0, 1), QStringLiteral("31.5"));
        EXPECT_EQ(page.GetCallText(2, 0), QStringLiteral("31.5"));
        EXPECT_EQ(page.GetCallText(1, 0), kRun);
        // A cell written with the run caption stops taking part, also within a session.
        page.SetTagValue(QStringLiteral("H"), kRun);
        EXPECT_EQ(page.GetTagValue(QStringLiteral("H")), QString());
        page.SetTagValue(QStringLiteral("H"), QStringLiteral("1"));
        EXPECT_EQ(page.GetCallText(0, 1), kRun);
        if (session)
            page.endExchange();
    }
}

TEST_F(PageTags, ShortBracketedTagEndsTheExchangeWhereItStands)
{
    for (const bool session : {false, true}) {
        TqzReport page;
        makeTable(page, 3, 3);
        setCell(page, 0, 0, QStringLiteral("A"), QStringLiteral("a"));
        setCell(page, 1, 2, QStringLiteral(" [1]x] "), QStringLiteral("bad"));
        setCell(page, 2, 0, QStringLiteral("A"), QStringLiteral("a2"));
        setCell(page, 2, 1, QStringLiteral("B"), QStringLiteral("b"));
        if (session)
            page.beginExchange();
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
        if (session)
            page.endExchange();
    }
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

// Random pages and random requests: a session's index must answer exactly as a scan does,
// errors included, also after writes that change which cells take part and after edits made
// between sessions.
TEST_F(PageTags, SessionAnswersAsTheScanDoes)
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
        TqzReport scanned;
        TqzReport indexed;
        QRandomGenerator rng(seed);
        const int lines = 1 + rng.bounded(6);
        const int cells = 1 + rng.bounded(5);
        for (TqzReport *page : {&scanned, &indexed})
            makeTable(*page, cells, lines);
        for (int l = 0; l < lines; ++l) {
            for (int c = 0; c < cells; ++c) {
                const QString tag = randomTag(rng);
                const QString text = rng.bounded(4) == 0 ? kRun : QString::number(l * 10 + c);
                for (TqzReport *page : {&scanned, &indexed})
                    setCell(*page, l, c, tag, text);
            }
        }
        for (int session = 0; session < 2; ++session) {
            indexed.beginExchange();
            for (int step = 0; step < 40; ++step) {
                const QString name = names[rng.bounded(names.size())].toUpper();
                const QString value = rng.bounded(3) == 0 ? kRun : QString::number(step);
                const bool write = rng.bounded(3) == 0;
                for (TqzReport *page : {&scanned, &indexed}) {
                    if (write)
                        outcome([&] { page->SetTagValue(name, value); return QString(); });
                }
                ASSERT_EQ(outcome([&] { return indexed.GetTagValue(name); }),
                          outcome([&] { return scanned.GetTagValue(name); }))
                    << "seed " << seed << " step " << step;
            }
            indexed.endExchange();
            for (int l = 0; l < lines; ++l)
                for (int c = 0; c < cells; ++c)
                    ASSERT_EQ(indexed.GetCallText(l, c), scanned.GetCallText(l, c));
            // An edit between sessions that the next session must see.
            for (TqzReport *page : {&scanned, &indexed})
                setCell(*page, lines - 1, cells - 1, names[seed % 4], QStringLiteral("edited"));
        }
    }
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
