// Evaluation and translation speed, as a run uses them: formulas whose numbers change on every
// call, and a large dictionary applied to a formula of typical length.

#include "programdir.h"
#include "qzcomplier.h"
#include "qztranslate.h"

#include <QRandomGenerator>
#include <QString>
#include <QStringList>

#include <benchmark/benchmark.h>

#include <vector>

using namespace tessarin;

namespace {

QString randomNumber(QRandomGenerator &rng)
{
    return QString::number(rng.generateDouble() * 100.0 + 0.001, 'g', 6 + rng.bounded(6));
}

// The pump formula with fresh numbers in every copy (written with a "." so they stay floating).
std::vector<QString> pumpFormulas(int count)
{
    QRandomGenerator rng(1);
    std::vector<QString> out;
    for (int i = 0; i < count; ++i) {
        QStringList n;
        for (int k = 0; k < 5; ++k) {
            QString v = randomNumber(rng);
            if (!v.contains(QLatin1Char('.')) && !v.contains(QLatin1Char('e')))
                v += QStringLiteral(".0");
            n << v;
        }
        out.push_back(QStringLiteral("%1*%2*%3*pow(%4,2)/pow(%5,5)")
                          .arg(n[0], n[1], n[2], n[3], n[4]));
    }
    return out;
}

void BM_EvaluatePumpFormula(benchmark::State &state)
{
    TqzComplier complier;
    const std::vector<QString> formulas = pumpFormulas(4096);
    size_t i = 0;
    for (auto _ : state) {
        QString r = complier.Evaluate(formulas[i++ % formulas.size()]);
        benchmark::DoNotOptimize(r);
    }
    if (!complier.Succeeded)
        state.SkipWithError(complier.ErrorText.toStdString().c_str());
}
BENCHMARK(BM_EvaluatePumpFormula);

// A formula whose numbers are in forms that are compiled as written (upper-case exponent text
// is lowered first, so this is the path of texts with comments): the cost without the cache.
void BM_EvaluateWithoutCache(benchmark::State &state)
{
    TqzComplier complier;
    const std::vector<QString> formulas = pumpFormulas(4096);
    size_t i = 0;
    for (auto _ : state) {
        QString r = complier.Evaluate(formulas[i++ % formulas.size()] + QStringLiteral("/*x*/"));
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_EvaluateWithoutCache);

QString randomName(QRandomGenerator &rng)
{
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_");
    QString s;
    const int len = 2 + static_cast<int>(rng.bounded(9));
    for (int i = 0; i < len; ++i)
        s += letters[static_cast<int>(rng.bounded(letters.size()))];
    return s;
}

void BM_Translate10000Entries200Chars(benchmark::State &state)
{
    QRandomGenerator rng(2);
    TqzTranslate dict;
    QStringList names;
    while (dict.count() < 10000) {
        const QString name = randomName(rng);
        if (dict.valueOf(name).isNull()) {
            dict.AddWord(name, randomNumber(rng));
            names << name;
        }
    }
    // About 200 characters: names used by the formula, operators, numbers and one literal.
    QString formula = QStringLiteral("\"note\"+");
    while (formula.size() < 190) {
        formula += names[static_cast<int>(rng.bounded(names.size()))];
        formula += QStringLiteral("*1.5+");
    }
    formula += QStringLiteral("2.0");
    state.counters["chars"] = static_cast<double>(formula.size());
    benchmark::DoNotOptimize(dict.Translate(formula)); // the key index is built once
    for (auto _ : state) {
        QString r = dict.Translate(formula);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_Translate10000Entries200Chars);

} // namespace

int main(int argc, char **argv)
{
    setProgramDirectory(QStringLiteral(TESSARIN_BIN_DIR));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
