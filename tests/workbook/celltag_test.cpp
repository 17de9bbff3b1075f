#include "celltag.h"
#include "error.h"

#include <gtest/gtest.h>

using namespace tessarin;

namespace {

struct ParseRow
{
    const char16_t *tag;
    const char16_t *name;
    int first;
    bool secondIsOne;
    int third;
};

class CellTagParse : public ::testing::TestWithParam<ParseRow>
{};

} // namespace

TEST_P(CellTagParse, FillsTheFields)
{
    const ParseRow &row = GetParam();
    TqzCellTag tag;
    // A previous bracketed tag must not leave its values behind.
    tag.Parse(QStringLiteral("[5][0][3][OLD]"));
    tag.Parse(QString::fromUtf16(row.tag));
    EXPECT_EQ(tag.Name, QString::fromUtf16(row.name));
    EXPECT_EQ(tag.FirstValue, row.first);
    EXPECT_EQ(tag.SecondIsOne, row.secondIsOne);
    EXPECT_EQ(tag.ThirdValue, row.third);
}

INSTANTIATE_TEST_SUITE_P(
    Tags, CellTagParse,
    ::testing::Values(ParseRow{u"[2][1][0][FLOW]", u"FLOW", 2, true, 0},
                      ParseRow{u"HEAD", u"HEAD", 2, true, 0},
                      ParseRow{u"[2][0][1][Q]", u"Q", 2, false, 1},
                      ParseRow{u"[x][y][z][]", u"", 0, false, 0},
                      ParseRow{u"[9][1][7][流量]", u"流量", 9, true, 7},
                      ParseRow{u"[2][1][0]", u"", 2, true, 0},
                      // Parse takes the text as given: the trailing blank shifts the name.
                      ParseRow{u"[2][1][0][Q] ", u"Q]", 2, true, 0},
                      // One bracket kind alone is a plain name, whatever its length.
                      ParseRow{u"[A", u"[A", 2, true, 0},
                      ParseRow{u"B]", u"B]", 2, true, 0},
                      ParseRow{u"", u"", 2, true, 0}));

TEST(CellTag, ShortBracketedTagIsRefusedByName)
{
    for (const QString &text : {QStringLiteral("[]"), QStringLiteral("[1][2]"),
                               QStringLiteral("[1][2][")}) {
        TqzCellTag tag;
        tag.Parse(QStringLiteral("[4][0][6][KEEP]"));
        try {
            tag.Parse(text);
            FAIL() << "accepted " << text.toStdString();
        } catch (const Error &e) {
            EXPECT_TRUE(e.message().contains(QLatin1Char('"') + text + QLatin1Char('"')))
                << e.what();
        }
        EXPECT_EQ(tag.Name, QStringLiteral("KEEP"));
        EXPECT_EQ(tag.FirstValue, 4);
        EXPECT_FALSE(tag.SecondIsOne);
        EXPECT_EQ(tag.ThirdValue, 6);
    }
}

TEST(CellTag, UpperCasesLatinLettersOnly)
{
    EXPECT_EQ(upperAscii(QStringLiteral("flow_q2 流量 éßａz")),
              QStringLiteral("FLOW_Q2 流量 éßａZ"));
}

TEST(CellTag, TrimsBlanksAndControlsOnly)
{
    EXPECT_EQ(trimTag(QStringLiteral(" \t\r\n[2][0][1][Q]\x01 ")), QStringLiteral("[2][0][1][Q]"));
    // The ideographic space is a character of the tag, not a blank.
    EXPECT_EQ(trimTag(QStringLiteral("\u3000Q")), QStringLiteral("\u3000Q"));
    EXPECT_EQ(trimTag(QStringLiteral(" \t ")), QString());
}

namespace {

struct MatchRow
{
    const char16_t *cellText;
    const char16_t *tagId;
    const char16_t *request;
    bool matches;
};

class CellTagMatch : public ::testing::TestWithParam<MatchRow>
{};

} // namespace

TEST_P(CellTagMatch, DecidesTheExchange)
{
    const MatchRow &row = GetParam();
    TqzCellTag scratch;
    EXPECT_EQ(tagMatches(QString::fromUtf16(row.cellText), QString::fromUtf16(row.tagId),
                         QString::fromUtf16(row.request), scratch),
              row.matches);
}

INSTANTIATE_TEST_SUITE_P(
    Cells, CellTagMatch,
    ::testing::Values(MatchRow{u"", u"  [2][0][1][Q]  ", u"Q", true},
                      MatchRow{u"1.5", u"[2][1][0][q]", u"Q", true},
                      MatchRow{u"1.5", u"[2][1][0][q]", u"q", false},
                      MatchRow{u"", u"flow", u"FLOW", true},
                      MatchRow{u"", u"flow", u"flow", false},
                      MatchRow{u"", u"\t流量h\r\n", u"流量H", true},
                      MatchRow{u"[执行计算]", u"FLOW", u"FLOW", false},
                      MatchRow{u"[执行计算] ", u"FLOW", u"FLOW", true},
                      MatchRow{u"", u"   ", u"", false},
                      MatchRow{u"", u"", u"", false},
                      MatchRow{u"", u"HEADX", u"HEAD", false}));

TEST(CellTag, ExchangeKeyOfRunButtonIsNone)
{
    TqzCellTag scratch;
    EXPECT_FALSE(exchangeKey(QStringLiteral("[执行计算]"), QStringLiteral("[2][1][0][RUN]"),
                             scratch));
    EXPECT_EQ(exchangeKey(QString(), QStringLiteral(" [2][1][0][run] "), scratch),
              QStringLiteral("RUN"));
    EXPECT_EQ(scratch.Name, QStringLiteral("run"));
}

TEST(CellTag, ShortBracketedTagEndsTheExchange)
{
    TqzCellTag scratch;
    try {
        tagMatches(QString(), QStringLiteral("  [1]x]  "), QStringLiteral("X"), scratch);
        FAIL() << "a short bracketed tag took part";
    } catch (const Error &e) {
        EXPECT_TRUE(e.message().contains(QLatin1String("\"[1]x]\""))) << e.what();
    }
}
