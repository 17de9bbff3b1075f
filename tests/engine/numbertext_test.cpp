#include "numbertext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tessarin;

namespace {

struct FormatCase
{
    double value;
    const char *text;
};

class ExportNumberFormat : public ::testing::TestWithParam<FormatCase>
{};

TEST_P(ExportNumberFormat, WritesGeneralForm)
{
    EXPECT_EQ(formatGeneral(GetParam().value).toStdString(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ExportNumberFormat,
    ::testing::Values(FormatCase{0.5, "0.5"}, FormatCase{1e-7, "1E-7"}, FormatCase{-1.5e-7, "-1.5E-7"},
                      FormatCase{0.00001, "0.00001"}, FormatCase{0.0000099, "9.9E-6"},
                      FormatCase{12.0, "12"}, FormatCase{-3.25, "-3.25"}, FormatCase{0.0, "0"},
                      FormatCase{100.0, "100"}, FormatCase{0.1 + 0.2, "0.3"},
                      FormatCase{1.0 / 3.0, "0.333333333333333"},
                      FormatCase{2.0 / 3.0, "0.666666666666667"},
                      FormatCase{999999999999999.0, "999999999999999"},
                      FormatCase{1e15, "1E15"}, FormatCase{1e20, "1E20"},
                      FormatCase{123456789012345678.0, "1.23456789012346E17"},
                      FormatCase{-2.5e300, "-2.5E300"}, FormatCase{1.7976931348623157e308, "1.79769313486232E308"},
                      FormatCase{9.999999999999999e14, "1E15"},
                      FormatCase{std::numeric_limits<double>::infinity(), "INF"},
                      FormatCase{std::nan(""), "NAN"}));

TEST(NumberText, ReadsWholeTextOnly)
{
    struct Case
    {
        const char *text;
        bool number;
        double value;
    };
    const Case cases[] = {
        {"12", true, 12.0},        {"12.0", true, 12.0},      {" 7.5 ", true, 7.5},
        {"-3", true, -3.0},        {"+3", true, 3.0},         {"1e-07", true, 1e-7},
        {"1E+20", true, 1e20},     {".5", true, 0.5},         {"5.", true, 5.0},
        {"", false, 0},            {"  ", false, 0},          {"abc", false, 0},
        {"12abc", false, 0},       {"1e", false, 0},          {"--1", false, 0},
        {"0x10", false, 0},        {"inf", false, 0},         {"nan", false, 0},
        {"1,5", false, 0},         {"1e999", false, 0},       {"error: 'x' is not declared", false, 0},
    };
    for (const Case &c : cases) {
        const double v = textToFloatDef(QString::fromUtf8(c.text), kNotANumber);
        EXPECT_EQ(isNumberText(QString::fromUtf8(c.text)), c.number) << c.text;
        if (c.number)
            EXPECT_DOUBLE_EQ(v, c.value) << c.text;
        else
            EXPECT_EQ(v, kNotANumber) << c.text;
    }
}

TEST(NumberText, TheMarkerValueReadsAsNotANumber)
{
    // The default doubles as the "not a number" answer, so the text of that very value is
    // indistinguishable from a failure.
    EXPECT_FALSE(isNumberText(QStringLiteral("-0.1010101")));
    EXPECT_TRUE(isNumberText(QStringLiteral("-0.10101010001")));
}

} // namespace
