// Compile and translation time of the hostile shapes a formula or program can take: chains of
// assignments, many global reads, calls and conditionals in one statement, many locals, long
// else-if chains, the longest admitted program, and a long run of one name to translate. Each
// is timed once at the size that was slow and at the largest the checks admit; the label says
// whether the text ran or was refused.

#include "programdir.h"
#include "qzcomplier.h"
#include "qztranslate.h"

#include <QString>

#include <benchmark/benchmark.h>

#include <functional>

using namespace tessarin;

namespace {

QString times(const char *piece, int count)
{
    return QString::fromUtf8(piece).repeated(count);
}

QString program(const QString &body)
{
    return QStringLiteral("double g = 1;\nvoid main()\n{\n    double x = 0;\n") + body
           + QStringLiteral("\n    ExportDouble(\"x\", x);\n}\n");
}

QString locals(int count)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += QStringLiteral("double d%1 = 1;").arg(i);
    return text;
}

// Times one evaluation (formula) or compilation (program) of `text`.
void timeText(benchmark::State &state, const std::function<QString()> &make, bool isProgram)
{
    const QString text = make();
    TqzComplier complier;
    for (auto _ : state) {
        if (isProgram) {
            complier.Source = text;
            complier.Compile();
        } else {
            benchmark::DoNotOptimize(complier.Evaluate(text));
        }
    }
    state.counters["bytes"] = static_cast<double>(text.toUtf8().size());
    state.SetLabel(complier.Succeeded ? "ran"
                                      : "refused: " + complier.ErrorText.left(60).toStdString());
}

void registerShapes()
{
    struct Shape
    {
        const char *name;
        std::function<QString()> make;
        bool isProgram;
    };
    const Shape shapes[] = {
        {"CompoundChain255", [] { return times("pi-=", 255) + QStringLiteral("1"); }, false},
        {"CompoundChain600", [] { return times("pi-=", 600) + QStringLiteral("1"); }, false},
        {"GlobalReads256", [] { return QStringLiteral("0") + times("+pi", 256); }, false},
        {"GlobalReads1000", [] { return QStringLiteral("0") + times("+pi", 1000); }, false},
        {"Calls256", [] { return QStringLiteral("0") + times("+sqrt(2.0)", 256); }, false},
        {"Calls6400", [] { return QStringLiteral("0") + times("+sqrt(2.0)", 6400); }, false},
        {"Conditionals6500", [] { return times("(1<2?1:0)+", 6500) + QStringLiteral("1"); }, false},
        {"ListOf80SumsOf250Reads",
         [] {
             const QString sum = QStringLiteral("0") + times("+pi", 250);
             return sum + QString(QLatin1Char(',') + sum).repeated(79);
         },
         false},
        {"LiteralSum64KB", [] { return QStringLiteral("1") + times("+1.5", 16000); }, false},
        {"ProgramGlobalReads256",
         [] { return program(QStringLiteral("x = 0") + times("+g", 256) + QStringLiteral(";")); },
         true},
        {"ProgramGlobalReads2000",
         [] { return program(QStringLiteral("x = 0") + times("+g", 2000) + QStringLiteral(";")); },
         true},
        {"DeclaratorsOf250GlobalReads",
         [] {
             QString list;
             for (int i = 0; i < 80; ++i)
                 list += QStringLiteral(", a%1 = 0").arg(i) + times("+g", 250);
             return program(QStringLiteral("double z") + list + QStringLiteral(";"));
         },
         true},
        {"ProgramLocals1023", [] { return program(locals(1023)); }, true},
        {"ProgramLocals8000", [] { return program(locals(8000)); }, true},
        {"ElseIf511",
         [] {
             return program(QStringLiteral("if (x == 0) x = 1;")
                            + times(" else if (x == 1) x = 2;", 511));
         },
         true},
        {"ElseIf6600",
         [] {
             return program(QStringLiteral("if (x == 0) x = 1;")
                            + times(" else if (x == 1) x = 2;", 6600));
         },
         true},
        {"ForLoops256", [] { return program(times("for(;x<0;){x++;}", 256)); }, true},
        {"ForLoops4000", [] { return program(times("for(;x<0;){x++;}", 4000)); }, true},
        {"SwitchCases8000",
         [] {
             QString cases;
             for (int i = 0; i < 8000; ++i)
                 cases += QStringLiteral("case %1: x = 1; break;").arg(i);
             return program(QStringLiteral("switch (int(x)) {") + cases + QStringLiteral("}"));
         },
         true},
        {"Program256KBOfStatements", [] { return program(times("x+=1;", 52400)); }, true},
        {"Program4MBOfStatements", [] { return program(times("x+=1;", 800000)); }, true},
    };
    for (const Shape &s : shapes) {
        const auto make = s.make;
        const bool isProgram = s.isProgram;
        benchmark::RegisterBenchmark(
            s.name,
            [make, isProgram](benchmark::State &state) { timeText(state, make, isProgram); })
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
}

// One name repeated over the whole formula: every match used to look back over the whole run
// of letters for a number literal it might belong to.
void BM_TranslateRunOfOneName(benchmark::State &state)
{
    TqzTranslate dict;
    dict.AddWord(QStringLiteral("a"), QStringLiteral("b"));
    const QString formula(static_cast<qsizetype>(state.range(0)), QLatin1Char('a'));
    for (auto _ : state) {
        QString r = dict.Translate(formula);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_TranslateRunOfOneName)
    ->Arg(6000)
    ->Arg(60000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    setProgramDirectory(QStringLiteral(TESSARIN_BIN_DIR));
    registerShapes();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
