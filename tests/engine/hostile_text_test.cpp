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
         repeated("1=", 15000) + QStringLiteral("1"),
         false,
         "not an l-value"},
        {"AssignmentChainBeyondLimit",
         repeated("1=", 21000) + QStringLiteral("1"),
         false,
         "nested more than 20000 deep"},
        {"ElseIfChain",
         program(QStringLiteral("if (x == 0) x = 1;") + repeated(" else if (x == 1) x = 2;", 1000)),
         true,
         "more than 512 branches in one if-else chain (line 4"},
        {"NestedIfs",
         program(repeated("if (true) ", 20000) + QStringLiteral("x = 1;")),
         true,
         "nested more than 20000 deep (line 4"},
        {"NestedIfsAtTheLimit",
         program(repeated("if (true) ", 19000) + QStringLiteral("x = 7;")),
         true,
         "x=7"},
        {"NestedWhiles",
         program(repeated("while(x>0)", 21000) + QStringLiteral("x = 1;")),
         true,
         "more than 256 loops in one function"},
        {"IfElseInARow", program(repeated("if(x>0){}else{}", 17400)), true, "jump labels"},
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
             + repeated("true ? function(){} : ", 10000) + QStringLiteral("null;\n}\n"),
         true,
         "conditional operators"},
    };
}

// Runs each text and checks its outcome: "x=N" (a program's one export), "=V" (a formula's
// value) or a part of the error text.
void expectOutcomes(const std::vector<DeepText> &texts)
{
    TqzComplier complier;
    for (const DeepText &c : texts) {
        SCOPED_TRACE(c.name);
        QString value;
        if (c.isProgram) {
            complier.Source = c.text;
            complier.Compile();
        } else {
            value = complier.Evaluate(c.text);
        }
        const QString outcome = QString::fromUtf8(c.outcome);
        if (outcome.startsWith(QLatin1Char('='))) {
            ASSERT_TRUE(complier.Succeeded) << complier.ErrorText.toStdString();
            EXPECT_EQ(QLatin1Char('=') + value, outcome);
        } else if (outcome.startsWith(QLatin1String("x="))) {
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

TEST(HostileText, DeepNestingIsRefusedOrCompiledNeverCrashes)
{
    expectOutcomes(deepTexts());
}

// Comma-separated names: "v0,v1,...".
QString nameList(const char *prefix, int count)
{
    QStringList names;
    for (int i = 0; i < count; ++i)
        names << QString::fromLatin1(prefix) + QString::number(i);
    return names.join(QLatin1Char(','));
}

// A formula that leaves the function it is compiled in wrote past the interpreter's variable
// space (4,200 texts), and locals, global reads, conditionals and else-if branches beyond what
// the compiler handles in linear time took it seconds to minutes: each is refused before
// compiling, with the bound it breaks, and what stays within the bounds runs.
TEST(HostileText, FormulasStayExpressionsAndCompilingStaysBounded)
{
    QString manyLocals;
    for (int i = 0; i < 1023; ++i)
        manyLocals += QStringLiteral("double d%1 = %1;").arg(i);
    expectOutcomes({
        {"TextsDeclaredPastTheWrapper",
         QStringLiteral("1);string ") + nameList("s", 4200) + QStringLiteral(";(1"),
         false,
         "closes a bracket it did not open (line 1, column 2)"},
        {"Statements", QStringLiteral("1;2"), false, "';' is not allowed in it"},
        {"Block", QStringLiteral("(1)+{2}"), false, "'{' is not allowed in it (line 1, column 5)"},
        {"ClosedThenOpened", QStringLiteral("1]+[2"), false, "closes a bracket"},
        {"ListOfSums",
         QStringLiteral("0") + repeated("+pi", 250)
             + repeated(QString(QStringLiteral(",0") + repeated("+pi", 250)).toUtf8().constData(),
                        80),
         false,
         "',' is allowed only between brackets"},
        {"BracketsBalanced", QStringLiteral("((1+2)*(3))"), false, "=9"},
        {"CommentedBracket", QStringLiteral("2 /* ) ; { */"), false, "=2"},
        {"GlobalReadsAtTheBound", QStringLiteral("0") + repeated("+pi-pi", 128), false, "=0.0"},
        {"GlobalReadsBeyond",
         QStringLiteral("0") + repeated("+pi-pi", 129),
         false,
         "more than 256 names in one statement"},
        {"CompoundAssignmentChain",
         repeated("pi-=", 600) + QStringLiteral("1"),
         false,
         "more than 256 names"},
        {"ConditionalsInBrackets",
         repeated("(1<2?1:0)+", 300) + QStringLiteral("1"),
         false,
         "more than 256 names"},
        {"CallsInOneSum",
         QStringLiteral("0") + repeated("+sqrt(4.0)", 300),
         false,
         "more than 256 names"},
        {"SixteenThousandLocals",
         program(repeated("double d = 1;", 16400)),
         true,
         "more than 1024 local variables in one function (line 4, column 13309)"},
        {"LocalsAtTheBound",
         program(manyLocals + QStringLiteral("x = int(d1022);")),
         true,
         "x=1022"},
        {"LocalsOfBlocksCountTogether",
         program(repeated("{ double a = 1; }", 1100)),
         true,
         "more than 1024 local variables"},
        {"DeclaratorList",
         program(QStringLiteral("string ") + nameList("s", 1100) + ";"),
         true,
         "more than 1024 local variables"},
        {"LocalReadsAreNotCounted",
         program(QStringLiteral("double y = 1; x = int(0") + repeated("+y", 2000)
                 + QStringLiteral(");")),
         true,
         "x=2000"},
        {"GlobalReadsInAProgram",
         QStringLiteral("double g = 1;\n")
             + program(QStringLiteral("x = int(0") + repeated("+g", 300) + QStringLiteral(");")),
         true,
         "more than 256 names in one statement (line 5"},
        {"GlobalReadsAcrossDeclarators",
         QStringLiteral("double g = 1;\n")
             + program(QStringLiteral("double a = 0") + repeated("+g", 150)
                       + QStringLiteral(", b = 0") + repeated("+g", 150) + QStringLiteral(";")),
         true,
         "more than 256 names in one statement (line 5"},
        {"GlobalReadBehindAnEndedLocal",
         QStringLiteral("double g = 1;\n")
             + program(QStringLiteral("{ double g = 2; } for (int g = 0; g < 0; g++) {} g g; x = 0")
                       + repeated("+g", 300) + QStringLiteral(";")),
         true,
         "more than 256 names in one statement (line 5"},
        {"DeclaredNamesAreNotCounted",
         QStringLiteral("double ") + nameList("g", 300) + QStringLiteral(";\n")
             + program(QStringLiteral("double ") + nameList("v", 300) + QStringLiteral("; x = 3;")),
         true,
         "x=3"},
        {"ElseIfAtTheBound",
         program(QStringLiteral("if (x == 0) x = 1;") + repeated(" else if (x == 1) x = 2;", 511)),
         true,
         "x=1"},
        {"ProgramTooLong", program(repeated("x = 1;", 50000)), true, "the text is too long"},
        {"ForLoops",
         program(repeated("for(;x<0;){x++;}", 300)),
         true,
         "more than 256 loops in one function (line 4"},
        {"SwitchCases",
         program(QStringLiteral("switch (x) {") + repeated("case 1: break;", 1100)
                 + QStringLiteral("}")),
         true,
         "more than 1024 switch cases in one function"},
        {"Namespaces",
         repeated("namespace n { }", 300) + program({}),
         true,
         "more than 256 namespaces"},
    });
}

// A program that exports without end is stopped by the memory budget, which counts what the
// host keeps of the exports, long before the time budget.
TEST(HostileText, ExportsCountInTheMemoryBudget)
{
    TqzComplier complier;
    complier.Source = QStringLiteral(
        "void main() { while (true) ExportDouble(\"a_rather_long_name_for_one_export\", 1); }");
    EXPECT_FALSE(complier.Compile());
    EXPECT_TRUE(complier.ErrorText.contains(QStringLiteral("MB of memory")))
        << complier.ErrorText.toStdString();
    EXPECT_TRUE(complier.Exports.empty());
}

// A stop check ends a script in progress; it is asked on the calling thread while the script
// runs, and is not left behind for compilers that pass none.
TEST(HostileText, StopCheckEndsAScriptInProgress)
{
    TqzComplier complier;
    int asked = 0;
    complier.setStopCheck([&asked] { return ++asked >= 2; });
    complier.Source = QStringLiteral("void main() { int i = 0; while (true) i++; }");
    EXPECT_FALSE(complier.Compile());
    EXPECT_TRUE(complier.ErrorText.contains(QStringLiteral("stopped on request")))
        << complier.ErrorText.toStdString();
    EXPECT_EQ(asked, 2);
    TqzComplier other;
    EXPECT_EQ(other.Evaluate(QStringLiteral("1+1")), QStringLiteral("2"));
    complier.setStopCheck({});
    EXPECT_EQ(complier.Evaluate(QStringLiteral("2+1")), QStringLiteral("3"));
    EXPECT_EQ(asked, 2);
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
        // Exponents at the ends of the int range.
        {"0.0001e-2147483647", true, "0.0"},
        {"1e-2147483648*1.0", true, "0.0"},
        {"0.0001e2147483647", false, "number too large"},
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
