// Texts a careless or hostile user can hand the engine: nesting that would exhaust the stack,
// number literals at the edges of the double range, and error messages longer than the buffers.

#include "qzcomplier.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace tessarin;

namespace {

QString repeated(const char *piece, int count)
{
    return QString::fromUtf8(piece).repeated(count);
}

QString program(const QString &body)
{
    return QStringLiteral("void main()\n{\n    int x = 0;\n") + body
           + QStringLiteral("\n    ExportDouble(\"x\", x);\n}\n");
}

struct DeepText
{
    const char *name;
    QString text;
    bool isProgram;
    const char *outcome; // a part of the error text, or "x=N" for a program that must run
};

// Each of these crashed the interpreter through its recursive parser or compiler; the ones at
// the edge of the limit must still compile, which needs more stack than the caller's 8 MB.
std::vector<DeepText> deepTexts()
{
    return {
        {"AssignmentChainInFormula",
         repeated("gn=", 15000) + QStringLiteral("gn"),
         false,
         "read-only"},
        {"AssignmentChainBeyondLimit",
         repeated("gn=", 21000) + QStringLiteral("gn"),
         false,
         "nested more than 20000 deep"},
        {"ElseIfChain",
         program(QStringLiteral("if (x == 0) x = 1;")
                 + repeated(" else if (x == 1) x = 2;", 20000)),
         true,
         "nested more than 20000 deep"},
        {"NestedIfs",
         program(repeated("if (true) ", 20000) + QStringLiteral("x = 1;")),
         true,
         "nested more than 20000 deep (line 4"},
        {"NestedIfsAtTheLimit",
         program(repeated("if (true) ", 19000) + QStringLiteral("x = 7;")),
         true,
         "x=7"},
        {"NestedWhiles",
         program(repeated("while (false) ", 30000) + QStringLiteral("x = 1;")),
         true,
         "nested more than 20000 deep"},
        {"IfElseInARow",
         program(repeated("if (x == 1) x = 2; else x = 3;", 30000)),
         true,
         "jump labels"},
        {"ChainedAssignments",
         program(repeated("x = ", 30000) + QStringLiteral("1;")),
         true,
         "nested more than 20000 deep"},
        // A comma starts a new declarator, still inside the statements around it.
        {"DeclaratorAfterNestedStatements",
         program(repeated("if (true) ", 15000) + QStringLiteral("{ int a = 0, b = ")
                 + repeated("a = ", 15000) + QStringLiteral("1; }")),
         true,
         "nested more than 20000 deep"},
        {"ChainedAssignmentsAtTheLimit",
         program(repeated("x = ", 19000) + QStringLiteral("5;")),
         true,
         "x=5"},
        {"LongSumAtTheLimit",
         program(QStringLiteral("x = ") + repeated("1+", 19000) + QStringLiteral("1;")),
         true,
         "x=19001"},
        // Closing brackets in a block the preprocessor removes must not pay for real ones.
        {"BracketsHiddenInFalseIf",
         program(QStringLiteral("#if NEVER\n") + repeated(")", 30000)
                 + QStringLiteral("\n#endif\nx = ") + repeated("(", 20000) + QStringLiteral("1")
                 + repeated(")", 20000) + QStringLiteral(";")),
         true,
         "brackets nested more than 256 deep"},
        // A lambda's braces do not end the chain of conditionals around it.
        {"ConditionalsAroundLambdas",
         QStringLiteral("funcdef void F();\nvoid main()\n{\n    F@ f = ")
             + repeated("true ? function(){} : ", 20000) + QStringLiteral("null;\n}\n"),
         true,
         "conditional operators"},
    };
}

TEST(HostileText, DeepNestingIsRefusedOrCompiledNeverCrashes)
{
    TqzComplier complier;
    for (const DeepText &c : deepTexts()) {
        SCOPED_TRACE(c.name);
        if (c.isProgram) {
            complier.Source = c.text;
            complier.Compile();
        } else {
            complier.Evaluate(c.text);
        }
        const QString outcome = QString::fromUtf8(c.outcome);
        if (outcome.startsWith(QLatin1String("x="))) {
            ASSERT_TRUE(complier.Succeeded) << complier.ErrorText.toStdString();
            ASSERT_EQ(complier.Exports.size(), 1u);
            EXPECT_EQ(complier.Exports[0].Name + QLatin1Char('=') + complier.Exports[0].Value,
                      outcome);
        } else {
            EXPECT_FALSE(complier.Succeeded);
            EXPECT_TRUE(complier.ErrorText.contains(outcome)) << complier.ErrorText.toStdString();
        }
    }
}

// The text of the correctly rounded value as the library writes a double.
std::string libraryText(double v)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
}

TEST(HostileText, LiteralsReadCorrectlyRoundedOnEveryPath)
{
    QRandomGenerator rng(1207);
    TqzComplier complier;
    for (int i = 0; i < 300; ++i) {
        // Random bit patterns cover every exponent, subnormal numbers included; short decimals
        // near 1 are the literals formulas hold.
        char literal[40];
        if (i % 2 == 0) {
            double v = 0.0;
            do {
                const quint64 bits = rng.generate64() & ~(quint64(1) << 63);
                std::memcpy(&v, &bits, sizeof v);
            } while (!std::isfinite(v) || v == 0.0);
            std::snprintf(literal, sizeof literal, "%.17g", v);
        } else {
            const double v = rng.generateDouble() * std::pow(10.0, rng.bounded(50) - 25.0);
            std::snprintf(literal, sizeof literal, "%.*e", static_cast<int>(rng.bounded(15)), v);
        }
        const double exact = std::strtod(literal, nullptr);
        // Shaped (numbers as parameters), as written (a comment keeps it from being shaped) and
        // inside a program.
        for (const char *form : {"%s*1.0", "%s*1.0/*as written*/", "0>1 ? 2/3 : %s*1.0"}) {
            char formula[120];
            std::snprintf(formula, sizeof formula, form, literal);
            const QString result = complier.Evaluate(QString::fromLatin1(formula));
            ASSERT_TRUE(complier.Succeeded) << formula << ": " << complier.ErrorText.toStdString();
            EXPECT_EQ(std::strtod(result.toLatin1().constData(), nullptr),
                      std::strtod(libraryText(exact).c_str(), nullptr))
                << formula << " gave " << result.toStdString();
        }
        complier.Source = QStringLiteral("void main() { ExportDouble(\"v\", %1); }")
                              .arg(QString::fromLatin1(literal));
        ASSERT_TRUE(complier.Compile()) << literal << ": " << complier.ErrorText.toStdString();
        EXPECT_EQ(complier.Exports.at(0).Value.toDouble(),
                  QString::fromStdString(libraryText(exact)).toDouble())
            << literal;
    }
}

struct EdgeLiteral
{
    const char *formula;
    bool succeeds;
    const char *expected; // the result text, or a part of the error
};

TEST(HostileText, EdgeLiteralsAndConstantFoldsAgreeWithTheRunTime)
{
    const EdgeLiteral cases[] = {
        {"9.292658946181226e+21*1.0", true, "9.29265894618123e+21"},
        {"4.9e-324*1.0", true, "4.94065645841247e-324"},
        {"1.7976931348623157e308", true, "1.7976931348623157e+308"},
        {"2.2250738585072014e-308/*plain*/", true, "2.2250738585072e-308"},
        {"1e-400", true, "0.0"},
        {"1.5e", false, "malformed number '1.5e'"},
        {"2e+*3", false, "malformed number '2e+'"},
        {"0x+1", false, "malformed number '0x'"},
        {"1e309", false, "number too large '1e309'"},
        {"4294967296*2", true, "8589934592"},
        {"9223372036854775807+0", true, "9223372036854775807"},
        // The fold of a constant division must fail as running it does; like a division by a
        // constant zero, also in a branch that is not taken.
        {"(-9223372036854775807-1)/-1", false, "Overflow in integer division"},
        {"(-9223372036854775807-1)%-1", false, "Overflow in integer division"},
        {"1<2 ? (-9223372036854775807-1)/-1 : 7", false, "Overflow in integer division"},
        {"1>2 ? (-9223372036854775807-1)/-1 : 7", false, "Overflow in integer division"},
        {"(-2147483647-1)/-1", false, "Overflow in integer division"},
        {"-2147483648/-1", true, "2147483648"},
        // A bitwise operator on a text constant aborted the interpreter while folding it.
        {"2&'a'", false, "the bitwise operator '&' does not apply to a text"},
        {"((\"a\" \"b\"))>>>2", false, "the bitwise operator '>>>' does not apply to a text"},
        {"6&3|1<<4", true, "18"},
        {"true|7", false, "the bitwise operator '|' does not apply to a text or a truth value"},
        {"(1<2)<<1", false, "the bitwise operator '<<' does not apply"},
        // Bitwise operators bind tighter than comparisons: these operands are numbers.
        {"1<2|7", true, "1"},
        {"(7&1)!=0 ? 5 : 6", true, "5"},
    };
    TqzComplier complier;
    for (const EdgeLiteral &c : cases) {
        const QString result = complier.Evaluate(QString::fromLatin1(c.formula));
        EXPECT_EQ(complier.Succeeded, c.succeeds)
            << c.formula << ": " << result.toStdString() << complier.ErrorText.toStdString();
        if (c.succeeds)
            EXPECT_EQ(result.toStdString(), c.expected) << c.formula;
        else
            EXPECT_TRUE(complier.ErrorText.contains(QString::fromLatin1(c.expected)))
                << c.formula << ": " << complier.ErrorText.toStdString();
    }
}

// Programs fold constants too, through casts, shifts and named constants; the walk that finds
// an overflowing fold must follow the compiler's types and leave variables alone.
TEST(HostileText, ProgramsRefuseOverflowingConstantDivisions)
{
    struct Case
    {
        const char *body;    // statements of main(), before "ExportDouble(\"x\", double(x));"
        const char *outcome; // "x=N" when it runs, else a part of the error
    } const cases[] = {
        {"int64 x = (-9223372036854775807-1) / -1;",
         "Overflow in integer division (line 4, column 36)"},
        {"int64 x = (-9223372036854775807-1) % int64(-1);", "(line 4, column 36)"},
        {"int64 x = (int64(1) << 63) / -(1);", "(line 4, column 28)"},
        {"int x = (-2147483647-1) / -1;", "(line 4, column 25)"},
        {"int64 x = 1 > 2 ? 3 : -9223372036854775808 / -1;", "(line 4, column 44)"},
        {"const int64 m = -9223372036854775807-1, n = -1;\n int64 x = m / n;",
         "(line 5, column 14)"},
        {"int64 x = LOW\n / -1;", "(line 5, column 2)"},
        // Unsigned and widened divisions, a wrapped product, variables and a shadowing local.
        {"int64 x = (-9223372036854775807-1) / uint64(-1);", "x=0"},
        {"int64 x = -2147483648 / -1;", "x=2147483648"},
        {"int64 x = 2 * (-2147483647-1) / -1;", "x=0"},
        {"int64 x = (-9223372036854775807-1) / -3;", "x=3.07445734561826E18"},
        {"int64 LOW = 6; int64 x = LOW / -1;", "x=-6"},
        {"int64 x = f(4);", "x=-4"},
        {"int64 x = 1; x = x * (-9223372036854775807-1) / -1;",
         "Overflow in integer division (line 4)"},
    };
    TqzComplier complier;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.body);
        complier.Source = QStringLiteral("const int64 LOW = -9223372036854775807 - 1;\n"
                                         "int64 f(const int64 a = LOW) { return a / -1; }\n"
                                         "void main() {\n%1\n ExportDouble(\"x\", double(x)); }\n")
                              .arg(QString::fromLatin1(c.body));
        complier.Compile();
        const QString outcome = QString::fromLatin1(c.outcome);
        if (outcome.startsWith(QLatin1String("x="))) {
            ASSERT_TRUE(complier.Succeeded) << complier.ErrorText.toStdString();
            ASSERT_EQ(complier.Exports.size(), 1u);
            EXPECT_EQ(QStringLiteral("x=") + complier.Exports[0].Value, outcome);
        } else {
            EXPECT_FALSE(complier.Succeeded);
            EXPECT_TRUE(complier.ErrorText.contains(outcome)) << complier.ErrorText.toStdString();
        }
    }
}

TEST(HostileText, ErrorMessagesComeBackWhole)
{
    TqzComplier complier;
    // A Chinese text cut at a character boundary before byte 63 of the result buffer, and
    // messages longer than the 250-byte error buffer.
    const QString name = QStringLiteral("流量").repeated(12);
    complier.Evaluate(name + QStringLiteral("*2"));
    EXPECT_EQ(complier.ErrorText,
              QStringLiteral("error: '") + name + QStringLiteral("' is not declared"));
    complier.Source = QStringLiteral("void main()\n{\n    %1 = 1;\n}\n").arg(name);
    EXPECT_FALSE(complier.Compile());
    EXPECT_EQ(complier.ErrorPos, 3);
    EXPECT_TRUE(complier.ErrorText.startsWith(QStringLiteral("'") + name
                                              + QStringLiteral("' is not declared (line 3")))
        << complier.ErrorText.toStdString();
    const QString call
        = QStringLiteral("sqrt(") + QStringLiteral("1,").repeated(46) + QStringLiteral("1)");
    const QString signature = QStringLiteral("'sqrt(") + QStringLiteral("const int, ").repeated(46)
                              + QStringLiteral("const int)'");
    complier.Evaluate(call);
    EXPECT_TRUE(complier.ErrorText.endsWith(signature)) << complier.ErrorText.toStdString();
    complier.Source = QStringLiteral("void main()\n{\n    %1;\n}\n").arg(call);
    EXPECT_FALSE(complier.Compile());
    EXPECT_TRUE(complier.ErrorText.contains(signature)) << complier.ErrorText.toStdString();
    // Longer names, literals and lists would overflow the interpreter's own message buffer.
    for (const QString &text :
         {QString(101, QLatin1Char('q')),
          QStringLiteral("流量").repeated(17),
          QStringLiteral("\"%1\"").arg(QString(400, QLatin1Char('a'))),
          QStringLiteral("sqrt(") + QStringLiteral("1,").repeated(48) + QStringLiteral("1)")}) {
        complier.Evaluate(text);
        EXPECT_TRUE(complier.ErrorText.contains(QStringLiteral(" bytes"))
                    || complier.ErrorText.contains(QStringLiteral("more than 48 arguments")))
            << complier.ErrorText.toStdString();
    }
}

} // namespace
