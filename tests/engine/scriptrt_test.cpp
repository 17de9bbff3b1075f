// The interpreter library through its exported entry points, as the engine binds it.

#include "dynlib.h"
#include "programdir.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

using namespace tessarin;

namespace {

using InitFn = int (*)(int, int);
using FinisFn = void (*)();
using IncludeFn = int (*)(const char *);
using EvalFn = int (*)(const char *, char *, int);
using ImportFn = int (*)(const char *, void *);
using RunFn = int (*)();
using ExecFn = int (*)(const char *);
using ErrorFn = int (*)(char *, int);
using ErrorPosFn = int (*)(char *);
using LoadFn = int (*)(const char *);

class ScriptRuntime : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(lib.load(QStringLiteral("scriptrt.dll"))) << lib.errorString().toStdString();
        init = entry<InitFn>("_uc_init@8");
        finis = entry<FinisFn>("_uc_finis@0");
        include = entry<IncludeFn>("_uc_include@4");
        eval = entry<EvalFn>("_uc_eval@12");
        evalPlain = entry<EvalFn>("_uc_eval_exp@12");
        import = entry<ImportFn>("_uc_import@8");
        run = entry<RunFn>("_uc_run@0");
        exec = entry<ExecFn>("_uc_exec@4");
        error = entry<ErrorFn>("_uc_error@8");
        errorPos = entry<ErrorPosFn>("_uc_error_pos@4");
        ASSERT_TRUE(init && finis && include && eval && evalPlain && import && run && exec && error
                    && errorPos);
        ASSERT_TRUE(init(0, 0));
    }

    void TearDown() override
    {
        if (finis)
            finis();
    }

    template <typename F> F entry(const char *name)
    {
        return reinterpret_cast<F>(lib.resolve(QByteArray(name)));
    }

    void includeProjectHeader()
    {
        ASSERT_TRUE(include(programPath(QStringLiteral("project.h")).toLocal8Bit().constData()));
    }

    // The value of an expression; fails the test when it does not evaluate.
    double value(const std::string &expression)
    {
        char out[64] = {};
        EXPECT_TRUE(eval(expression.c_str(), out, sizeof out)) << expression << ": " << out;
        return std::strtod(out, nullptr);
    }

    std::string lastError(int *pos = nullptr)
    {
        char buffer[250] = {};
        error(buffer, sizeof buffer);
        const int p = errorPos(buffer);
        if (pos)
            *pos = p;
        return buffer;
    }

    DynamicLibrary lib;
    InitFn init = nullptr;
    FinisFn finis = nullptr;
    IncludeFn include = nullptr;
    EvalFn eval = nullptr;
    EvalFn evalPlain = nullptr;
    ImportFn import = nullptr;
    RunFn run = nullptr;
    ExecFn exec = nullptr;
    ErrorFn error = nullptr;
    ErrorPosFn errorPos = nullptr;
};

// --- the cached path against compiling every text as written -------------------------------------

class FormulaMaker
{
public:
    explicit FormulaMaker(quint32 seed)
        : m_rng(seed)
    {}

    // A formula with "#" where a number goes.
    std::string shape(int depth = 0)
    {
        const int pick = static_cast<int>(m_rng.bounded(depth > 3 ? 3 : 13));
        switch (pick) {
        case 0:
        case 1:
            return "#";
        case 2: {
            static const char *const names[] = {"pi", "gn", "atm", "psi"};
            return names[m_rng.bounded(4)];
        }
        case 3:
        case 4:
        case 5:
        case 6: {
            static const char *const ops[] = {"+", "-", "*", "/", "%"};
            return "(" + shape(depth + 1) + ops[m_rng.bounded(5)] + shape(depth + 1) + ")";
        }
        case 7:
            return "-" + shape(depth + 1);
        case 8: {
            static const char *const unary[] = {"sqrt", "fabs", "floor", "log", "exp", "int",
                                                "double", "ctok"};
            return std::string(unary[m_rng.bounded(8)]) + "(" + shape(depth + 1) + ")";
        }
        case 9: {
            static const char *const binary[] = {"pow", "fmod", "fmin", "atan2", "churchill"};
            return std::string(binary[m_rng.bounded(5)]) + "(" + shape(depth + 1) + ","
                   + shape(depth + 1) + ")";
        }
        case 10:
            return "(" + shape(depth + 1) + ">" + shape(depth + 1) + "?" + shape(depth + 1) + ":"
                   + shape(depth + 1) + ")";
        case 11:
            return "(" + shape(depth + 1) + "==" + shape(depth + 1) + ")";
        default:
            return shape(depth + 1) + "*" + shape(depth + 1);
        }
    }

    std::string number()
    {
        switch (m_rng.bounded(12)) {
        case 0:
            return "0";
        case 1:
            return std::to_string(m_rng.bounded(10));
        case 2:
            return std::to_string(m_rng.bounded(100000));
        case 3: {
            static const char *const edges[] = {"2147483647", "2147483646", "2147483648",
                                                "4294967296", "0.0", "00", "1.", "0x1f"};
            return edges[m_rng.bounded(8)];
        }
        case 4:
        case 5:
        case 6: {
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.*f", 1 + static_cast<int>(m_rng.bounded(8)),
                          m_rng.generateDouble() * std::pow(10.0, m_rng.bounded(7)));
            return buf;
        }
        case 7: {
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.15g", m_rng.generateDouble() * 1e-6);
            return buf; // mostly with an exponent, as results come back
        }
        case 8: {
            char buf[40];
            std::snprintf(buf, sizeof buf, "%de%s%d", 1 + static_cast<int>(m_rng.bounded(9)),
                          m_rng.bounded(2) ? "-" : "+", static_cast<int>(m_rng.bounded(30)));
            return buf;
        }
        case 9: {
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.17g", m_rng.generateDouble());
            return buf; // 17 digits: the last bit depends on how the literal is read
        }
        case 10:
            return std::to_string(m_rng.bounded(3)) + "." + std::to_string(m_rng.bounded(1000))
                   + "e-" + std::to_string(m_rng.bounded(12));
        default:
            return std::to_string(1 + m_rng.bounded(999)) + ".5";
        }
    }

    std::string fill(const std::string &shape)
    {
        std::string out;
        for (char c : shape)
            out += c == '#' ? number() : std::string(1, c);
        return out;
    }

private:
    QRandomGenerator m_rng;
};

TEST_F(ScriptRuntime, CachedPathGivesExactlyThePlainResults)
{
    includeProjectHeader();
    FormulaMaker maker(12345);
    int compared = 0;
    int succeeded = 0;
    for (int s = 0; s < 600; ++s) {
        const std::string shape = maker.shape();
        for (int k = 0; k < 8; ++k) { // the same shape with other numbers: the cache at work
            const std::string formula = maker.fill(shape);
            char fast[64] = {};
            char plain[64] = {};
            const int a = eval(formula.c_str(), fast, sizeof fast);
            const int b = evalPlain(formula.c_str(), plain, sizeof plain);
            ASSERT_EQ(a, b) << formula << "\n cached: " << fast << "\n plain: " << plain;
            ASSERT_STREQ(fast, plain) << formula;
            ++compared;
            succeeded += a;
        }
    }
    // The comparison means something only when both outcomes occur often.
    EXPECT_GT(succeeded, compared / 5);
    EXPECT_LT(succeeded, compared - compared / 20);
}

// --- project.h against published values ----------------------------------------------------------

TEST_F(ScriptRuntime, HeaderHelpersMatchPublishedValues)
{
    includeProjectHeader();
    struct Check
    {
        const char *expression;
        double expected;
        double relTol;
        const char *source;
    };
    const Check checks[] = {
        {"gn", 9.80665, 0, "CGPM 1901 standard gravity"},
        {"atm", 101325.0, 0, "ISO 2533 standard atmosphere"},
        {"psi", 6894.757293168, 1e-12, "NIST SP 811"},
        {"bar / psi", 14.503773773, 1e-9, "NIST SP 811"},
        {"inch * 12.0", 0.3048, 1e-12, "international foot"},
        {"usgpm", 3.785411784 * 60.0 / 1000.0, 1e-12, "US gallon 231 in3"},
        {"hp", 745.69987158227022, 1e-12, "550 ft lbf/s"},
        {"ctok(25.0)", 298.15, 1e-12, "ITS-90"},
        {"ftoc(212.0)", 100.0, 1e-12, "boiling point of water"},
        {"mh2o / kpa", 9.80665, 1e-12, "conventional metre of water"},
        {"reynolds(998.2, 2.0, 0.1, 1.002e-3)", 199241.5, 1e-6, "Re = rho v d / mu"},
        {"velocity(28.274333882308138, 0.1)", 1.0, 1e-12, "q / A"},
        {"hydpower(100.0, 50.0, 1000.0)", 13.6203472, 1e-7, "rho g Q H"},
        // Laminar flow: f = 64/Re (Hagen-Poiseuille), which Churchill reproduces.
        {"churchill(1000.0, 0.0)", 0.064, 2e-3, "64/Re"},
        // Smooth turbulent pipe at Re = 1e5: Prandtl's smooth-pipe law gives f = 0.017993.
        {"colebrook(1.0e5, 0.0)", 0.017993, 5e-4, "Prandtl 1935 smooth pipe"},
        {"churchill(1.0e5, 0.0)", 0.017993, 0.03, "Churchill within 3% of the smooth law"},
        // Fully rough: 1/sqrt(f) = -2 log10(rr/3.7) (von Karman), rr = 0.01 gives f = 0.03790.
        {"churchill(1.0e8, 0.01)", 0.037904, 0.01, "von Karman rough pipe"},
        {"colebrook(1.0e6, 1.0e-4)", 0.013435, 1e-3, "Moody chart, Re 1e6, e/D 1e-4"},
        {"swameejain(1.0e6, 1.0e-4)", 0.013435, 0.015, "Swamee-Jain within 1.5% of Colebrook"},
        {"darcydp(0.02, 100.0, 0.1, 1000.0, 2.0)", 40000.0, 1e-12, "Darcy-Weisbach"},
        {"head(98066.5, 1000.0)", 10.0, 1e-12, "h = dp / (rho g)"},
    };
    for (const Check &c : checks) {
        const double v = value(c.expression);
        const double tol = c.relTol == 0 ? 0.0 : c.relTol * std::fabs(c.expected);
        EXPECT_NEAR(v, c.expected, tol) << c.expression << " (" << c.source << ")";
    }
}

// --- programs, imports and errors ----------------------------------------------------------------

std::vector<std::pair<std::string, double>> g_exported;

void exportHook(char *name, double value)
{
    g_exported.push_back({name, value});
}

double hostScale(double v)
{
    return v * 3.0;
}

int hostCount(const char *text, int extra)
{
    return static_cast<int>(std::strlen(text)) + extra;
}

TEST_F(ScriptRuntime, ImportedHostFunctionsAreCalledSynchronously)
{
    includeProjectHeader();
    ASSERT_TRUE(import("void ExportDouble(char*,double)", reinterpret_cast<void *>(&exportHook)));
    ASSERT_TRUE(import("double hostScale(double v)", reinterpret_cast<void *>(&hostScale)));
    ASSERT_TRUE(
        import("int hostCount(const char *text, int extra)", reinterpret_cast<void *>(&hostCount)));
    EXPECT_FALSE(import("void bad(float)", reinterpret_cast<void *>(&hostScale)));
    EXPECT_FALSE(import("not a declaration", reinterpret_cast<void *>(&hostScale)));
    g_exported.clear();
    ASSERT_TRUE(run());
    ASSERT_TRUE(exec("void main()\n{\n"
                     "    ExportDouble(\"scaled\", hostScale(1.5));\n"
                     "    ExportDouble(\"count\", hostCount(\"abcd\", 2));\n"
                     "    for (int i = 0; i < 3; i++) ExportDouble(\"i\", i);\n"
                     "}\n"))
        << lastError();
    const std::vector<std::pair<std::string, double>> expected = {
        {"scaled", 4.5}, {"count", 6.0}, {"i", 0.0}, {"i", 1.0}, {"i", 2.0}};
    EXPECT_EQ(g_exported, expected);
}

TEST_F(ScriptRuntime, ErrorBuffersAreNeverOverrun)
{
    includeProjectHeader();
    ASSERT_FALSE(exec("void main()\n{\n    名称 = 1;\n}\n"));
    int pos = -1;
    const std::string full = lastError(&pos);
    EXPECT_EQ(pos, 3) << full;
    char small[8];
    std::memset(small, 'x', sizeof small);
    error(small, 5);
    EXPECT_LT(std::strlen(small), 5u);
    EXPECT_EQ(small[5], 'x');
    EXPECT_EQ(full.compare(0, std::strlen(small), small), 0);
    // An expression's message into a tiny result buffer.
    char tiny[4];
    std::memset(tiny, 'x', sizeof tiny);
    EXPECT_FALSE(eval("nosuchname", tiny, 3));
    EXPECT_EQ(tiny[3], 'x');
    EXPECT_LT(std::strlen(tiny), 3u);
}

TEST_F(ScriptRuntime, UnsupportedEntriesChangeNothing)
{
    includeProjectHeader();
    auto load = entry<LoadFn>("_uc_load@4");
    ASSERT_TRUE(load);
    EXPECT_EQ(load("/etc/passwd"), 0);
    EXPECT_NE(lastError().find("not supported"), std::string::npos);
    EXPECT_DOUBLE_EQ(value("1.5*2"), 3.0);
}

TEST_F(ScriptRuntime, HeaderIncludesStayInTheHeaderFolder)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("inc"));
    auto write = [](const QString &path, const QByteArray &text) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    };
    write(dir.filePath(QStringLiteral("inc/outside.h")), "const double outside = 1.0;\n");
    QDir(dir.filePath(QStringLiteral("inc"))).mkdir(QStringLiteral("sub"));
    write(dir.filePath(QStringLiteral("inc/sub/units.h")), "const double twice = 2.0;\n");
    write(dir.filePath(QStringLiteral("inc/sub/good.h")), "#include \"units.h\"\n");
    write(dir.filePath(QStringLiteral("inc/sub/bad.h")), "#include \"../outside.h\"\n");

    ASSERT_TRUE(include(dir.filePath(QStringLiteral("inc/sub/good.h")).toLocal8Bit().constData()));
    EXPECT_DOUBLE_EQ(value("twice*3"), 6.0);
    EXPECT_TRUE(run());
    EXPECT_FALSE(include(dir.filePath(QStringLiteral("inc/sub/bad.h")).toLocal8Bit().constData()));
    EXPECT_FALSE(run());
    EXPECT_NE(lastError().find("outside the header folder"), std::string::npos) << lastError();
    // Every formula now reports the broken header instead of a misleading result.
    char out[64] = {};
    EXPECT_FALSE(eval("1+1", out, sizeof out));
}

TEST_F(ScriptRuntime, MissingHeaderIsReported)
{
    EXPECT_FALSE(include("/nonexistent/project.h"));
    char out[64] = {};
    EXPECT_FALSE(eval("1+1", out, sizeof out));
    EXPECT_NE(std::string(out).find("header"), std::string::npos) << out;
}

} // namespace
