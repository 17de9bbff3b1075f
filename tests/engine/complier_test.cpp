#include "numbertext.h"
#include "programdir.h"
#include "qzcomplier.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace tessarin;

namespace {

// --- expressions ---------------------------------------------------------------------------------

struct EvalCase
{
    const char *name;
    const char *expression;
    bool succeeds;
    const char *expected; // the exact result text, or a part of the error text
};

class Evaluate : public ::testing::TestWithParam<EvalCase>
{
};

TEST_P(Evaluate, GivesLibraryTextOrError)
{
    const EvalCase &c = GetParam();
    TqzComplier complier;
    ASSERT_TRUE(complier.isBound()) << complier.bindError().toStdString();
    const QString result = complier.Evaluate(QString::fromUtf8(c.expression));
    EXPECT_EQ(complier.Succeeded, c.succeeds)
        << result.toStdString() << " / " << complier.ErrorText.toStdString();
    if (c.succeeds) {
        EXPECT_EQ(result.toStdString(), c.expected);
        EXPECT_EQ(complier.ErrorPos, -1);
        EXPECT_TRUE(complier.ErrorText.isEmpty());
    } else {
        EXPECT_TRUE(result.isEmpty());
        EXPECT_EQ(complier.ErrorPos, 0);
        EXPECT_TRUE(complier.ErrorText.contains(QString::fromUtf8(c.expected)))
            << complier.ErrorText.toStdString();
    }
}

const EvalCase kEvalCases[] = {
    {"FloatingDivision", "12.0/5", true, "2.4"},
    {"IntegerDivision", "12/5", true, "2"},
    {"IntegerDivisionTruncatesTowardZero", "-7/2", true, "-3"},
    {"MixedDivisionIsFloating", "7/2.0", true, "3.5"},
    {"IntegerRemainder", "17%5", true, "2"},
    {"FloatResultStaysFloatingLiteral", "6.0/2", true, "3.0"},
    {"IntegerOverflowWrapsLikeC", "2147483647+1", true, "-2147483648"},
    {"SmallValueKeptAsLibraryWroteIt", "1E-7", true, "1e-07"},
    {"LargeValue", "POW(10,20)", true, "1e+20"},
    {"FifteenDigits", "1.0/3", true, "0.333333333333333"},
    {"UpperCaseFunctionsLowered", "SQRT(16.0)+FABS(-1)", true, "5.0"},
    {"PiConstant", "PI", true, "3.14159265358979"},
    {"HeaderConstant", "Gn", true, "9.80665"},
    {"StringLiteralsLoweredToo", "\"ABC\"==\"abc\"", true, "1"},
    {"ComparisonIsInteger", "3.0>2", true, "1"},
    {"TypicalPumpFormula", "0.0826*0.025*120.0*pow(0.0125,2)/pow(0.1,5)", true, "3.871875"},
    {"IntegerDivisionByZero", "1/0", false, "Divide by zero"},
    {"FloatingDivisionByZero", "1.0/0.0", false, "error"},
    {"NotFiniteResult", "sqrt(-1.0)", false, "not a finite number"},
    {"Overflow", "1e300*1e300", false, "not a finite number"},
    {"UnknownName", "xyz*2", false, "'xyz' is not declared"},
    {"UnknownChineseName", "流量*2", false, "'流量' is not declared"},
    {"SyntaxError", "1+*", false, "error"},
    {"UnbalancedParenthesis", "(1+2", false, "error"},
    {"EmptyExpression", "", false, "error"},
    {"TextIsNotANumber", "\"12\"", false, "text"},
    {"MarkerValueCountsAsFailure", "-0.1010101", false, "-0.1010101"},
    {"NoFileAccess", "fopen(\"/etc/passwd\",\"r\")", false, "not declared"},
    {"SmuggledStatementsRefused",
     "1); while(true){}; (1",
     false,
     "closes a bracket it did not open"},
};

INSTANTIATE_TEST_SUITE_P(Expressions,
                         Evaluate,
                         ::testing::ValuesIn(kEvalCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(TqzComplier, FailureTextsNeverReadAsNumbers)
{
    TqzComplier complier;
    for (const char *bad : {"1/0", "q", "1+", "sqrt(-1.0)", "\"x\"", "pow(", "1e400"}) {
        EXPECT_TRUE(complier.Evaluate(QString::fromUtf8(bad)).isEmpty()) << bad;
        EXPECT_FALSE(complier.Succeeded) << bad;
        EXPECT_FALSE(isNumberText(complier.ErrorText)) << complier.ErrorText.toStdString();
    }
    // A success after a failure clears the error again.
    EXPECT_EQ(complier.Evaluate(QStringLiteral("1+1")), QStringLiteral("2"));
    EXPECT_TRUE(complier.Succeeded);
    EXPECT_EQ(complier.ErrorPos, -1);
    EXPECT_TRUE(complier.ErrorText.isEmpty());
}

TEST(TqzComplier, PathologicalTextsAreRefusedNotCrashedOn)
{
    TqzComplier complier;
    // Deep brackets would overflow the parser's stack; chained conditionals take the compiler
    // time cubic in their depth.
    const QString deep
        = QString(10000, QLatin1Char('(')) + QLatin1Char('1') + QString(10000, QLatin1Char(')'));
    QString chained;
    for (int i = 0; i < 2000; ++i)
        chained += QStringLiteral("x==0?1:");
    chained += QLatin1Char('2');
    const QString longText = QStringLiteral("1+").repeated(40000) + QLatin1Char('1');
    // The library reads up to the first NUL: this would otherwise give 3.
    const QString withNul = QStringLiteral("1+2") + QChar(u'\0') + QStringLiteral("*10");
    for (const QString &text : {deep, chained, longText, withNul}) {
        EXPECT_TRUE(complier.Evaluate(text).isEmpty());
        EXPECT_FALSE(complier.Succeeded);
        EXPECT_TRUE(complier.ErrorText.startsWith(QStringLiteral("error: ")))
            << complier.ErrorText.toStdString();
    }
    EXPECT_TRUE(complier.ErrorText.contains(QStringLiteral("NUL character at position 4")))
        << complier.ErrorText.toStdString();
    complier.Source = QStringLiteral("void main() { double x = %1; }").arg(deep);
    EXPECT_FALSE(complier.Compile());
    EXPECT_TRUE(complier.ErrorText.contains(QStringLiteral("nested")))
        << complier.ErrorText.toStdString();
    // A program cut short at a NUL would run its first part and report success.
    complier.Source = QStringLiteral("void main() { ExportDouble(\"a\", 1); }") + QChar(u'\0')
                      + QStringLiteral("void other() { ExportDouble(\"b\", 2); }");
    EXPECT_FALSE(complier.Compile());
    EXPECT_TRUE(complier.Exports.empty());
    EXPECT_TRUE(complier.ErrorText.startsWith(QStringLiteral("the text holds a NUL")))
        << complier.ErrorText.toStdString();
    // Many numbers in one formula (a function of thousands of parameters would compile for
    // minutes) still evaluate at once.
    EXPECT_EQ(complier.Evaluate(QStringLiteral("1.5+").repeated(5000) + QStringLiteral("1")),
              QStringLiteral("7501.0"));
    // Brackets inside literals and comments do not count.
    const QString quoted
        = QStringLiteral("\"") + QString(300, QLatin1Char('(')) + QStringLiteral("\"");
    EXPECT_EQ(complier.Evaluate(QStringLiteral("/*") + QString(300, QLatin1Char('('))
                                + QStringLiteral("*/ (") + quoted + QStringLiteral("==") + quoted
                                + QStringLiteral(" ? 2 : 0)")),
              QStringLiteral("2"));
}

TEST(TqzComplier, ResultPutBackKeepsFloatingSemantics)
{
    TqzComplier complier;
    const QString third = complier.Evaluate(QStringLiteral("1.0/3"));
    const QString six = complier.Evaluate(QStringLiteral("12.0/2"));
    ASSERT_EQ(six, QStringLiteral("6.0"));
    // 6.0/4 must stay a floating division when the value of one node feeds the next formula.
    EXPECT_EQ(complier.Evaluate(six + QStringLiteral("/4")), QStringLiteral("1.5"));
    EXPECT_EQ(complier.Evaluate(complier.Evaluate(QStringLiteral("1e-7")) + QStringLiteral("*10")),
              QStringLiteral("1e-06"));
    EXPECT_EQ(complier.Evaluate(third + QStringLiteral("*3")), QStringLiteral("0.999999999999999"));
}

TEST(TqzComplier, HasMainLooksForTheTextAnywhere)
{
    TqzComplier complier;
    const std::pair<const char *, bool> cases[] = {
        {"void main() {}", true},
        {"domain*2", true},
        {"remainder", true},
        {"Main()", false},
        {"MAIN", false},
        {"", false},
    };
    for (const auto &[source, expected] : cases) {
        complier.Source = QString::fromUtf8(source);
        EXPECT_EQ(complier.HasMain(), expected) << source;
    }
}

// --- exports -------------------------------------------------------------------------------------

TEST(TqzComplier, ParseExportsStopsAtMalformedItems)
{
    struct Case
    {
        const char *text;
        std::vector<std::pair<const char *, const char *>> pairs;
    };
    const Case cases[] = {
        {"", {}},
        {"no bar at all", {}},
        {"H=1|", {{"H", "1"}}},
        {"H=1|Q=2.5|", {{"H", "1"}, {"Q", "2.5"}}},
        {"H=1|tail=3", {{"H", "1"}}},
        {"H=1|broken|Q=2|", {{"H", "1"}}},
        {"a=b=c|", {{"a", "b=c"}}},
        {"=5||", {{"", "5"}}},
        {"名称=1E-7|", {{"名称", "1E-7"}}},
    };
    TqzComplier complier;
    for (const Case &c : cases) {
        ExportBuffer() = QStringLiteral("left over");
        complier.ParseExports(QString::fromUtf8(c.text));
        ASSERT_EQ(complier.Exports.size(), c.pairs.size()) << c.text;
        for (size_t i = 0; i < c.pairs.size(); ++i) {
            EXPECT_EQ(complier.Exports[i].Name.toStdString(), c.pairs[i].first) << c.text;
            EXPECT_EQ(complier.Exports[i].Value.toStdString(), c.pairs[i].second) << c.text;
        }
        EXPECT_TRUE(ExportBuffer().isEmpty());
    }
}

TEST(TqzComplier, ExportDoubleAppendsNameValuePairs)
{
    ExportBuffer().clear();
    char h[] = "H";
    char eps[] = "eps";
    char big[] = "big";
    ExportDouble(h, 0.5);
    ExportDouble(eps, 1e-7);
    ExportDouble(big, 123456789012345678.0);
    EXPECT_EQ(ExportBuffer(), QStringLiteral("H=0.5|eps=1E-7|big=1.23456789012346E17|"));
    ExportBuffer().clear();
}

// --- programs ------------------------------------------------------------------------------------

std::vector<std::pair<QString, QString>> pairs(const TqzComplier &c)
{
    std::vector<std::pair<QString, QString>> out;
    for (const auto &e : c.Exports)
        out.push_back({e.Name, e.Value});
    return out;
}

TEST(TqzComplier, CompileRunsProgramsWithSubstitutedNames)
{
    TqzComplier complier;
    // Names are replaced wherever they stand, so these must not occur inside "ExportDouble".
    complier.Dictionary.AddWord(QStringLiteral("FLOW"), QStringLiteral("1.5"));
    complier.Dictionary.AddWord(QStringLiteral("DIAM"), QStringLiteral("0.1"));
    complier.Source = QStringLiteral("void main()\n{\n"
                                     "    double v = velocity(FLOW * 3600.0 * area(DIAM), DIAM);\n"
                                     "    ExportDouble(\"FLOW\", FLOW);\n"
                                     "    ExportDouble(\"v\", v);\n"
                                     "    ExportDouble(\"tiny\", 1e-7);\n"
                                     "    ExportDouble(\"流量\", 2.0 / 3.0);\n"
                                     "}\n");
    ASSERT_TRUE(complier.Compile()) << complier.ErrorText.toStdString();
    const std::vector<std::pair<QString, QString>> expected
        = {{QStringLiteral("FLOW"), QStringLiteral("1.5")},
           {QStringLiteral("v"), QStringLiteral("1.5")},
           {QStringLiteral("tiny"), QStringLiteral("1E-7")},
           {QStringLiteral("流量"), QStringLiteral("0.666666666666667")}};
    EXPECT_EQ(pairs(complier), expected);
    EXPECT_EQ(complier.ErrorPos, -1);
    EXPECT_TRUE(ExportBuffer().isEmpty());
}

TEST(TqzComplier, CompileEvaluatesExpressionsWithoutMain)
{
    TqzComplier complier;
    complier.Dictionary.AddWord(QStringLiteral("L"), QStringLiteral("12"));
    complier.Source = QStringLiteral("L/5");
    EXPECT_TRUE(complier.Compile());
    complier.Source = QStringLiteral("L/0");
    EXPECT_FALSE(complier.Compile());
    EXPECT_EQ(complier.ErrorPos, 0);
}

struct ProgramFailure
{
    const char *name;
    const char *program;
    int position;
    const char *message;
};

class FailingProgram : public ::testing::TestWithParam<ProgramFailure>
{
};

TEST_P(FailingProgram, FailsWithPositionAndDropsExports)
{
    const ProgramFailure &c = GetParam();
    TqzComplier complier;
    complier.Source = QString::fromUtf8(c.program);
    complier.Exports.push_back({QStringLiteral("stale"), QStringLiteral("1")});
    EXPECT_FALSE(complier.Compile());
    EXPECT_FALSE(complier.Succeeded);
    EXPECT_EQ(complier.ErrorPos, c.position) << complier.ErrorText.toStdString();
    EXPECT_TRUE(complier.ErrorText.contains(QString::fromUtf8(c.message)))
        << complier.ErrorText.toStdString();
    EXPECT_TRUE(complier.Exports.empty());
    EXPECT_TRUE(ExportBuffer().isEmpty());
    // A program's error is shown after its position: it carries no "error" mark of its own.
    EXPECT_FALSE(complier.ErrorText.startsWith(QStringLiteral("error")))
        << complier.ErrorText.toStdString();
}

const ProgramFailure kProgramFailures[] = {
    {"UndeclaredName",
     "void main()\n{\n    ExportDouble(\"a\", 1);\n    y = 2;\n}\n",
     4,
     "'y' is not declared"},
    {"SyntaxError", "void main()\n{\n    double x = ;\n}\n", 3, "line 3"},
    {"NoMainFunction", "void domain() {}\n", 0, "main"},
    {"RuntimeDivisionByZero",
     "int z = 0;\nvoid main()\n{\n    ExportDouble(\"a\", 1);\n    int q = 5 / z;\n}\n",
     5,
     "Divide by zero"},
    {"EndlessLoopIsStopped",
     "void main()\n{\n    ExportDouble(\"a\", 1);\n    while (true) {}\n}\n",
     4,
     "ran too long"},
    {"EndlessRecursionIsStopped",
     "int f(int n) { return f(n + 1) + 1; }\nvoid main() { f(0); }\n",
     1,
     "Stack overflow"},
    {"EndlessLoopInGlobalInitialiser",
     "int f() { while (true) {} return 1; }\nint x = f();\nvoid main() {}\n",
     0,
     "ran too long"},
    {"ClassesRefused", "class A { A@ next; }\nvoid main() { A a; }\n", 0, "classes"},
    {"IncludeRefused", "#include \"/etc/passwd\"\nvoid main() {}\n", 0, "#include"},
    // An export that cannot stand in a "name=value|" record would cut off every later one.
    {"ExportNameWithBar",
     "void main()\n{\n    ExportDouble(\"a\", 1);\n    ExportDouble(\"b|c\", 2);\n"
     "    ExportDouble(\"d\", 3);\n}\n",
     0,
     "export \"b|c\" refused: the name holds \"|\""},
    {"ExportNameWithEquals",
     "void main() { ExportDouble(\"a=b\", 2); }",
     0,
     "export \"a=b\" refused: the name holds \"=\""},
    {"ExportNameEmpty",
     "void main() { ExportDouble(\"\", 2); }",
     0,
     "export \"\" refused: the name is empty"},
    {"ExportNameWithLineBreak",
     "void main() { ExportDouble(\"a\\nb\", 2); }",
     0,
     "control character U+000A"},
    {"ExportNameWithTab",
     "void main() { ExportDouble(\"a\\tb\", 2); }",
     0,
     "control character U+0009"},
    {"ExportNotANumber",
     "void main() { ExportDouble(\"a\", 1); ExportDouble(\"x\", sqrt(-1.0)); }",
     0,
     "export \"x\" refused: the value is not a finite number"},
    {"ExportInfinite",
     "void main() { ExportDouble(\"x\", pow(10.0, 400.0)); }",
     0,
     "export \"x\" refused: the value is not a finite number"},
    {"BitwiseOperatorOnText",
     "void main()\n{\n    int x = 1 | (\"a\");\n}\n",
     3,
     "the bitwise operator '|' does not apply to a text or a truth value (line 3, column 15)"},
    {"BitwiseOperatorOnConstantTruth",
     "const bool on = true;\nvoid main()\n{\n    int x = 1 | on;\n}\n",
     4,
     "does not apply to a text or a truth value (line 4, column 15)"},
    {"MalformedNumberLiteral",
     "void main()\n{\n    double x = 1.5e;\n}\n",
     3,
     "malformed number '1.5e' (line 3, column 16)"},
};

INSTANTIATE_TEST_SUITE_P(Programs,
                         FailingProgram,
                         ::testing::ValuesIn(kProgramFailures),
                         [](const auto &info) { return std::string(info.param.name); });

// --- the library binding -------------------------------------------------------------------------

class ProgramDirectory
{
public:
    explicit ProgramDirectory(const QString &dir)
        : m_saved(programDirectory())
    {
        setProgramDirectory(dir);
    }
    ~ProgramDirectory() { setProgramDirectory(m_saved); }

private:
    QString m_saved;
};

TEST(TqzComplier, MissingLibraryFailsThroughTheErrorPath)
{
    QTemporaryDir empty;
    ProgramDirectory dir(empty.path());
    TqzComplier complier;
    EXPECT_FALSE(complier.isBound());
    EXPECT_TRUE(complier.Evaluate(QStringLiteral("1+1")).isEmpty());
    EXPECT_FALSE(complier.Succeeded);
    EXPECT_EQ(complier.ErrorPos, 0);
    EXPECT_TRUE(complier.ErrorText.contains(QStringLiteral("script library")));
    EXPECT_TRUE(complier.ErrorText.contains(empty.path())) << complier.ErrorText.toStdString();
    complier.Source = QStringLiteral("void main() { ExportDouble(\"a\", 1); }");
    EXPECT_FALSE(complier.Compile());
    EXPECT_FALSE(complier.ErrorText.isEmpty());
}

TEST(TqzComplier, LibraryLackingEntriesIsNotUsed)
{
    ProgramDirectory dir(QStringLiteral(TESSARIN_PARTIAL_SCRIPTRT_DIR));
    TqzComplier complier;
    EXPECT_FALSE(complier.isBound());
    EXPECT_TRUE(complier.bindError().contains(QStringLiteral("_uc_import@8")))
        << complier.bindError().toStdString();
    EXPECT_FALSE(complier.bindError().contains(QStringLiteral("_uc_eval@12")));
    EXPECT_TRUE(complier.Evaluate(QStringLiteral("1+1")).isEmpty());
    EXPECT_FALSE(complier.Succeeded);
    EXPECT_EQ(complier.ErrorText, complier.bindError());
}

TEST(TqzComplier, OverlappingCompliersShareTheInterpreterSafely)
{
    auto first = std::make_unique<TqzComplier>();
    TqzComplier second;
    EXPECT_EQ(first->Evaluate(QStringLiteral("2*2")), QStringLiteral("4"));
    first.reset();
    EXPECT_EQ(second.Evaluate(QStringLiteral("gn*2")), QStringLiteral("19.6133"));
    EXPECT_TRUE(second.Succeeded);
}

} // namespace
