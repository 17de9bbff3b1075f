#include "celltag.h"
#include "error.h"

#include <gtest/gtest.h>

using namespace tessarin;

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

TEST_P(CellTagParse, FillsTheFields)
{
    const ParseRow &row = GetParam();
    TqzCellTag tag;
    tag.Parse(QStringLiteral("[5][0][3][OLD]")); // must leave nothing behind
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
                      // Parse takes the text as given: a trailing blank shifts the name.
                      ParseRow{u"[2][1][0][Q] ", u"Q]", 2, true, 0},
                      ParseRow{u"[A", u"[A", 2, true, 0}, ParseRow{u"B]", u"B]", 2, true, 0}));

TEST(CellTag, ShortBracketedTagIsRefusedByNameAndKeepsTheFields)
{
    for (const QString &text : {QStringLiteral("[]"), QStringLiteral("[1][2]["),
                                QStringLiteral("  [1]x]  ")}) {
        TqzCellTag tag;
        tag.Parse(QStringLiteral("[4][0][6][KEEP]"));
        try {
            tagMatches(QString(), text, QStringLiteral("X"), tag);
            FAIL() << "accepted " << text.toStdString();
        } catch (const Error &e) {
            EXPECT_TRUE(e.message().contains(QLatin1Char('"') + text.trimmed() + QLatin1Char('"')))
                << e.what();
        }
        EXPECT_EQ(tag.Name, QStringLiteral("KEEP"));
        EXPECT_EQ(tag.FirstValue, 4);
        EXPECT_FALSE(tag.SecondIsOne);
        EXPECT_EQ(tag.ThirdValue, 6);
    }
}

struct MatchRow
{
    const char16_t *cellText;
    const char16_t *tagId;
    const char16_t *request;
    bool matches;
};

class CellTagMatch : public ::testing::TestWithParam<MatchRow>
{};

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
    ::testing::Values(MatchRow{u"", u" \t[2][0][1][Q]\r\n ", u"Q", true},
                      MatchRow{u"1.5", u"[2][1][0][q]", u"Q", true},
                      MatchRow{u"1.5", u"[2][1][0][q]", u"q", false},
                      MatchRow{u"", u"flow", u"flow", false},
                      // Only a to z change case; the rest must stay byte for byte.
                      MatchRow{u"", u"流量hé", u"流量Hé", true},
                      MatchRow{u"", u"流量hé", u"流量HÉ", false},
                      MatchRow{u"", u"ａ", u"ａ", true},
                      // The ideographic space is part of the tag, not a blank.
                      MatchRow{u"", u"\u3000Q", u"Q", false},
                      MatchRow{u"[执行计算]", u"FLOW", u"FLOW", false},
                      MatchRow{u"[执行计算] ", u"FLOW", u"FLOW", true},
                      MatchRow{u"", u" \t ", u"", false},
                      MatchRow{u"", u"HEADX", u"HEAD", false}));
