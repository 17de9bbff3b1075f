// The compiled-case runner against the logged run: the same inputs must give the same node
// values, text for text, and the same failed-step count, whatever the formulas do.

#include "ide_support.h"

#include "caserunner.h"
#include "error.h"
#include "qzcomplier.h"

#include <cstdio>

#include <gtest/gtest.h>

#include <random>
#include <set>

using namespace tessarin;
using tessarin::test::NodeRow;
using tessarin::test::RunFixture;

namespace {

// A tree that exercises what the logged run carries from step to step: integer results and
// integer division, negatives in parentheses, a formula run before the one it reads, failures
// and their propagation, a text value, names glued together, names differing only in case, a
// namesake subtree entered from a leaf, a program (skipped), an overflow, a check with its
// reason in a text, divisions inside and outside branches (a branch not taken still divides by
// a zero its numbers fold to when the formula is compiled as written).
const std::vector<NodeRow> kOutline = {
    {0, "总", "", ""},
    {1, "粘连", "AB", ""},
    {1, "后读", "开方*2", ""},
    {1, "先用", "开方-B", ""},
    {1, "开方", "sqrt(A)", ""},
    {1, "传播", "开方+整除", ""},
    {1, "整除", "七半/2", ""},
    {1, "七半", "7/2+0*A", ""},
    {1, "负数", "A-B", ""},
    {1, "文字和", "T+1", ""},
    {1, "T", "", "abc"},
    {1, "溢出", "A*1e308*10", ""},
    {1, "程序", "void main() {}", ""},
    {1, "组", "", ""},
    {2, "组内一", "A*3", ""},
    {2, "组内二", "组内一/B", ""},
    {1, "组", "组内二+1", ""},
    {1, "大小写", "Xy*2", ""},
    {1, "Xy", "B+1", ""},
    {1, "xY", "B-1", ""},
    {1, "条件", "A>0 ? 1/B : 2", ""},
    {1, "理由", "require(A>0,\"A 须为正 (NPSH)\")*B", ""},
    {1, "分支除", "A==B ? 1.0 : 1/(A-B)", ""},
    {1, "外除", "(A>0 ? A : 2.0)/B+(C>0&&A>1 ? 1 : 0)", ""},
    {1, "含C", "C*A", ""},
    {1, "A", "", "1"},
    {1, "B", "", "2"},
    {1, "C", "", "3"},
};

QStringList names()
{
    QStringList out;
    for (const NodeRow &row : kOutline)
        if (!out.contains(row.name))
            out << row.name;
    return out;
}

// The logged run of one case from a fresh project: A and C typed into their cells, B into the
// node.
std::pair<QStringList, int> loggedRun(const QString &a, const QString &b, const QString &c)
{
    RunFixture f;
    f.setNodes(kOutline);
    f.addPage({{"A", "1"}, {"C", "3"}});
    f.excel.SetTagValue("A", a);
    f.excel.SetTagValue("C", c);
    for (int i = 0; i < f.project.TreeView->count(); ++i)
        if (f.node(i)->Name == "B")
            f.node(i)->Value = b;
    const TqzRunResult r = f.run.runProject();
    EXPECT_FALSE(r.aborted) << r.abortMessage.toStdString();
    QStringList values;
    for (const QString &name : names())
        for (int i = 0; i < f.project.TreeView->count(); ++i)
            if (f.node(i)->Name == name) {
                values << f.node(i)->Value;
                break;
            }
    return {values, r.failedSteps};
}

TEST(CaseRunner, GivesWhatTheLoggedRunGivesForEveryKindOfValue)
{
    RunFixture f;
    f.setNodes(kOutline);
    f.addPage({{"A", "1"}, {"C", "3"}});
    TqzCaseRunner runner(f.project, f.excel.workbook(), f.codes, {"A", "B", "C"}, names());
    const QStringList typed = {"4",
                               "-4",
                               "0",
                               "2.5",
                               "-0.0",
                               "1e308",
                               "abc",
                               "",
                               " 7 ",
                               "1E-7",
                               "-2E-9",
                               "3.0000000000000004",
                               "123456789012",
                               "+5",
                               "0.1",
                               "-1",
                               "1e-320"};
    std::mt19937 pick(7);
    // Every value for A with a few for B, then random pairs, C changing seldom: each case after
    // others, so no state may leak from one case into the next.
    std::vector<std::pair<QString, QString>> cases;
    for (const QString &a : typed)
        for (const QString &b : {QString("2"), QString("-0.5"), QString("x")})
            cases.emplace_back(a, b);
    for (int k = 0; k < 60; ++k)
        cases.emplace_back(typed[pick() % typed.size()], typed[pick() % typed.size()]);
    cases.emplace_back("2.5", "2.5"); // numbers of an earlier case's kinds, folding to 1/0
    cases.emplace_back("0.1", "0.1");
    std::set<int> failures;
    for (size_t k = 0; k < cases.size(); ++k) {
        const auto &[a, b] = cases[k];
        const QString c = k % 40 < 20 ? "3" : "-0.5";
        const auto [values, failed] = loggedRun(a, b, c);
        const TqzCaseOutcome out = runner.runCase({a, b, c});
        EXPECT_EQ(out.values, values) << "A=" << a.toStdString() << " B=" << b.toStdString();
        EXPECT_EQ(out.failedSteps, failed) << "A=" << a.toStdString() << " B=" << b.toStdString();
        failures.insert(failed);
    }
    EXPECT_GE(failures.size(), 4u);
    // Most steps ran as compiled shapes; the glued names and text values took the text path,
    // and so did the division in a branch, once a case.
    EXPECT_GT(runner.shapedSteps(), runner.textSteps() - qint64(cases.size()));
    EXPECT_GT(runner.textSteps(), 0);
}

// A result's text is what every later step reads, so its form is part of every value: the
// interpreter's fast writer must give exactly printf's "%.15g" (".0" added to a whole number).
TEST(CaseRunner, ResultsAreWrittenAsPrintfWritesThem)
{
    TqzComplier complier;
    ASSERT_TRUE(complier.isBound()) << complier.bindError().toStdString();
    std::mt19937_64 random(11);
    for (int k = 0; k < 3000; ++k) {
        const double mantissa = std::uniform_real_distribution<double>(-10, 10)(random);
        const int exponent = int(random() % 601) - 300;
        // Every fourth value has few digits, so that rounding to 15 digits meets ties and zeros.
        const double v = k % 4 ? std::ldexp(mantissa, exponent) : std::round(mantissa * 1e3) / 8;
        char literal[40];
        std::snprintf(literal, sizeof literal, "%.17g", std::fabs(v));
        const QString text = QString::fromLatin1(literal);
        const QString formula
            = (v < 0 ? "-" : "") + text + (text.contains('.') || text.contains('e') ? "" : ".0");
        char expected[40];
        std::snprintf(expected, sizeof expected, "%.15g", v);
        QString want = QString::fromLatin1(expected);
        if (!want.contains('.') && !want.contains('e'))
            want += ".0";
        ASSERT_EQ(complier.Evaluate(formula), want) << formula.toStdString();
    }
}

// Typed numbers reach the compiled formulas as the exact values the logged run reads from their
// text. The runner reads short decimals its own faster way: V is typed short, W the same decimal
// with zeros enough to take the general reader, so V-W is 0 exactly when both readers agree.
TEST(CaseRunner, ReadsTypedNumbersExactly)
{
    const std::vector<NodeRow> outline
        = {{0, "总", "", ""}, {1, "R", "V-W", ""}, {1, "V", "", "1"}, {1, "W", "", "1"}};
    RunFixture f;
    f.setNodes(outline);
    TqzCaseRunner runner(f.project, f.excel.workbook(), f.codes, {"V", "W"}, {"R", "V"});
    std::mt19937_64 random(5);
    for (int c = 0; c < 3000; ++c) {
        QString digits = QString::number(random() % 1000000000000000ull);
        digits.truncate(1 + int(random() % 15));
        const int point = int(random() % digits.size()) + 1;
        const QString mantissa = digits.left(point) + "." + digits.mid(point);
        const QString exponent
            = random() % 4 ? QString("e%1").arg(int(random() % 45) - 22) : QString();
        const QString v = mantissa + (mantissa.endsWith('.') ? "0" : "") + exponent;
        const QString w = mantissa + "00000000000000000" + exponent;
        const TqzCaseOutcome out = runner.runCase({v, w});
        ASSERT_EQ(out.values.value(0), "0.0") << v.toStdString() << " " << w.toStdString();
        ASSERT_EQ(out.failedSteps, 0);
    }
    // And the logged run agrees on a sample of them.
    RunFixture logged;
    logged.setNodes(outline);
    logged.node(2)->Value = "0.3";
    logged.node(3)->Value = "0.30000000000000000";
    logged.run.runProject();
    EXPECT_EQ(logged.node(1)->Value, "0.0");
    EXPECT_GT(runner.shapedSteps(), 2900);
}

TEST(CaseRunner, RefusesUnknownNames)
{
    RunFixture f;
    f.setNodes(kOutline);
    f.addPage({{"A", "1"}});
    for (const auto &[inputs, reports] :
         std::vector<std::pair<QStringList, QStringList>>{{{"无此"}, {"A"}}, {{"A"}, {"无此"}}})
        EXPECT_THROW(TqzCaseRunner(f.project, f.excel.workbook(), f.codes, inputs, reports), Error);
    RunFixture empty;
    EXPECT_THROW(TqzCaseRunner(empty.project, empty.excel.workbook(), empty.codes, {}, {}), Error);
}

} // namespace
