// libFuzzer target for formula translation and evaluation. An input is lines of "KEY=VALUE"
// dictionary entries followed by one formula (or program) line; "\n" inside it is written "\\n",
// and "$$N$PIECE$$" stands for PIECE written N times, so that short inputs reach the shapes whose
// size matters (thousands of declarations, long chains of assignments or else-if branches).
// For every input: translation either gives a text within the formula limit or refuses with an
// Error; evaluation either succeeds with a number text or fails with a message that is not one;
// a program fails with a message or exports only well-formed pairs. Nothing may crash or hang.

#include "error.h"
#include "numbertext.h"
#include "qzcomplier.h"
#include "qztranslate.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace tessarin;

namespace {

[[noreturn]] void fault(const char *what, const QString &detail)
{
    std::fprintf(stderr, "formula_fuzzer: %s: %s\n", what, detail.left(400).toUtf8().constData());
    std::abort();
}

TqzComplier *g_complier = nullptr;

// Writes out every "$$N$PIECE$$" of `text`; the whole stays below twice the program limit.
QString expandRepeats(const QString &text)
{
    const QLatin1String mark("$$");
    QString out;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype open = text.indexOf(mark, pos);
        if (open < 0)
            break;
        qsizetype k = open + 2;
        qsizetype count = 0;
        while (k < text.size() && text.at(k).isDigit() && count < 100000)
            count = count * 10 + text.at(k++).digitValue();
        const qsizetype close = text.indexOf(mark, k + 1);
        if (k >= text.size() || text.at(k) != QLatin1Char('$') || close < 0) {
            out += QStringView(text).mid(pos, open + 2 - pos);
            pos = open + 2;
            continue;
        }
        out += QStringView(text).mid(pos, open - pos);
        const QStringView piece = QStringView(text).mid(k + 1, close - k - 1);
        for (qsizetype i = 0; i < count && out.size() + piece.size() <= 2 * kMaxProgramLength; ++i)
            out += piece;
        pos = close + 2;
    }
    out += QStringView(text).mid(pos);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static int argc = 1;
    static char name[] = "formula_fuzzer";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
    // One interpreter for the whole run, as one run of the program keeps one per calculation.
    g_complier = new TqzComplier;
    if (!g_complier->isBound())
        fault("the script library is not bound", g_complier->bindError());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 5 * 1024 * 1024)
        return 0;
    const QStringList lines
        = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size))
              .split(QLatin1Char('\n'));
    TqzComplier &complier = *g_complier;
    complier.Dictionary.Clear();
    for (qsizetype i = 0; i + 1 < lines.size() && i < 64; ++i) {
        const qsizetype eq = lines[i].indexOf(QLatin1Char('='));
        if (eq > 0)
            complier.Dictionary.AddWord(lines[i].left(eq), lines[i].mid(eq + 1));
    }
    QString source = expandRepeats(lines.last());
    source.replace(QLatin1String("\\n"), QLatin1String("\n"));

    QString text;
    try {
        text = complier.Translate(complier.Dictionary, source);
    } catch (const Error &e) {
        if (!e.message().startsWith(QLatin1String("formula \"")))
            fault("translation refused without naming the formula", e.message());
        return 0;
    }
    if (text.size() > kMaxFormulaLength && text.size() > source.size())
        fault("translation grew past the limit", text);

    complier.Source = source;
    if (complier.HasMain()) {
        complier.Execute(text);
        if (complier.Succeeded) {
            for (const TqzExportValue &pair : complier.Exports)
                if (pair.Name.isEmpty() || pair.Name.contains(QLatin1Char('='))
                    || pair.Name.contains(QLatin1Char('|')) || !isNumberText(pair.Value))
                    fault("malformed export", pair.Name + QLatin1Char('=') + pair.Value);
        } else if (complier.ErrorText.isEmpty() || !complier.Exports.empty()) {
            fault("failed program without message or with exports", text);
        }
        return 0;
    }
    const QString result = complier.Evaluate(text);
    if (complier.Succeeded != isNumberText(result))
        fault("success and result disagree", text + QStringLiteral(" -> ") + result);
    if (!complier.Succeeded && (complier.ErrorText.isEmpty() || isNumberText(complier.ErrorText)))
        fault("failure without a message", text + QStringLiteral(" -> ") + complier.ErrorText);
    return 0;
}
