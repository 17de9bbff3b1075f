// tessarin-cli sweep-worker [sweep options] -- FILE: the worker process of "sweep", not listed
// in the help. It loads the project once, prepares the compiled cases, then reads requests
// "FIRST COUNT" on standard input and answers each with "#FIRST COUNT BYTES" and that many
// bytes: the rows of those cases (or, for a summary, one line of reported numbers per case, NaN
// for a failed value). A case that cannot be run at all is answered "!why" and ends the worker.

#include "headlessproject.h"
#include "sweepplan.h"

#include "atomicfile.h"
#include "caserunner.h"

#include <QFile>

#include <charconv>
#include <cstdio>

namespace tessarin::cli {
namespace {

int run(const QCommandLineParser &parser)
{
    const SweepPlan plan = parseSweepPlan(parser);
    const bool numbers = plan.summary && !plan.sharded;
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        throw Error(QStringLiteral("standard input cannot be read"));
    try {
        HeadlessProject p;
        p.load(plan.fileName, QStringLiteral("sweep-worker"));
        for (const auto &[name, value] : plan.sets)
            p.set(name, value);
        TqzCaseRunner runner(p.project, p.workbook, p.codes, plan.inputNames(), plan.reports);
        while (true) {
            const QByteArray line = in.readLine();
            if (line.isEmpty())
                break;
            const QList<QByteArray> request = line.trimmed().split(' ');
            bool a = false;
            bool b = false;
            const qint64 first = request.value(0).toLongLong(&a);
            const qint64 count = request.value(1).toLongLong(&b);
            if (request.size() != 2 || !a || !b || first < 0 || count < 0)
                throw Error(QStringLiteral("a request is not \"FIRST COUNT\": %1")
                                .arg(QString::fromUtf8(line).trimmed()));
            QByteArray block;
            for (qint64 c = first; c < first + count; ++c) {
                const QStringList inputs = plan.caseValues(c);
                const TqzCaseOutcome out = runner.runCase(inputs);
                if (numbers) {
                    // Shortest round-trip form, whatever the locale; "nan" for a failed value.
                    for (qsizetype k = 0; k < out.values.size(); ++k) {
                        if (k)
                            block += '\t';
                        if (!isNumberText(out.values[k])) {
                            block += "nan";
                            continue;
                        }
                        char text[40];
                        const auto end = std::to_chars(
                            text, text + sizeof text, textToFloatDef(out.values[k], kNotANumber));
                        block.append(text, end.ptr - text);
                    }
                    block += '\n';
                } else {
                    block += sweepRow(plan, c, inputs, out.values, out.failedSteps).toUtf8();
                    block += '\n';
                }
            }
            printRaw(QByteArray("#") + QByteArray::number(first) + ' ' + QByteArray::number(count)
                     + ' ' + QByteArray::number(block.size()) + '\n' + block);
            std::fflush(stdout);
        }
    } catch (const Error &e) {
        printRaw("!" + e.message().simplified().toUtf8() + '\n');
        std::fflush(stdout);
        return 1;
    }
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("sweep-worker"),
    QString(), // serves "sweep"; not listed
    [](QCommandLineParser &parser) {
        addProjectFileArgument(parser);
        addSweepOptions(parser);
    },
    run,
});

} // namespace
} // namespace tessarin::cli
