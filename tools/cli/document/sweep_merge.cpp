// tessarin-cli sweep-merge FILES... [--summary] [--format csv|jsonl]: the outputs of the slices
// of one sweep ("sweep --shard K/N") joined in case order. The slices are contiguous, so the
// files are ordered by their first case and copied through, each row checked to carry the next
// case index: a missing, repeated or foreign slice is an error, never a silent gap. With
// --summary the statistics are computed from all rows (JSON lines, as "sweep --summary --shard"
// writes them), exactly as one whole sweep computes them.

#include "sweepplan.h"

#include "error.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace tessarin::cli {
namespace {

struct Part
{
    QString fileName;
    bool jsonl = false;
    QByteArray header;
    qint64 first = -1; // case index of the first row; -1 when the part has no rows
    qint64 total = -1; // cases of the whole sweep; -1 when an empty part does not say
};

qint64 caseIndex(const QByteArray &line, bool jsonl, bool &ok)
{
    if (jsonl) {
        const QByteArray mark = "{\"case\":";
        if (!line.startsWith(mark)) {
            ok = false;
            return -1;
        }
        const qsizetype comma = line.indexOf(',');
        return line.mid(mark.size(), comma - mark.size()).toLongLong(&ok);
    }
    return line.left(line.indexOf(',')).toLongLong(&ok);
}

QByteArray nextLine(QFile &file)
{
    QByteArray line = file.readLine();
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return line;
}

void open(QFile &file, const QString &name)
{
    file.setFileName(name);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("%1: %2").arg(name, file.errorString()));
}

Part inspect(const QString &name)
{
    QFile file;
    open(file, name);
    Part part;
    part.fileName = name;
    QByteArray line = nextLine(file);
    part.jsonl = line.startsWith('{');
    if (!part.jsonl) {
        bool ok = false;
        if (line.startsWith("case/"))
            part.total = line.mid(5, line.indexOf(',') - 5).toLongLong(&ok);
        if (!ok || part.total < 1)
            throw Error(QStringLiteral("%1: not the output of a slice (the CSV header does not "
                                       "start with \"case/N\")")
                            .arg(name));
        part.header = line;
        line = nextLine(file);
    }
    if (!line.isEmpty()) {
        bool ok = false;
        part.first = caseIndex(line, part.jsonl, ok);
        if (part.jsonl)
            part.total = static_cast<qint64>(
                QJsonDocument::fromJson(line).object().value(QStringLiteral("cases")).toDouble(-1));
        if (!ok || part.total < 1)
            throw Error(QStringLiteral("%1: the first row does not give its case and the cases "
                                       "of the sweep (not the output of sweep --shard)")
                            .arg(name));
    }
    return part;
}

int run(const QCommandLineParser &parser)
{
    const QStringList names = positional(parser, 1, false);
    const bool summary = parser.isSet(QStringLiteral("summary"));
    const QString format = parser.value(QStringLiteral("format"));
    if (parser.isSet(QStringLiteral("format")) && format != QLatin1String("csv")
        && format != QLatin1String("jsonl"))
        throw UsageError(QStringLiteral("--format \"%1\": expected csv or jsonl").arg(format));
    std::vector<Part> parts;
    for (const QString &name : names)
        parts.push_back(inspect(name));
    for (const Part &p : parts) {
        if (p.jsonl != parts.front().jsonl || p.header != parts.front().header)
            throw Error(QStringLiteral("%1: its rows are not those of %2 (another format or "
                                       "other columns)")
                            .arg(p.fileName, parts.front().fileName));
        if (summary && !p.jsonl)
            throw Error(QStringLiteral("%1: --summary needs the slices as JSON lines (sweep "
                                       "--summary --shard writes them so)")
                            .arg(p.fileName));
    }
    qint64 total = -1;
    for (const Part &p : parts) {
        if (p.total >= 0 && total >= 0 && p.total != total)
            throw Error(QStringLiteral("%1: a slice of a sweep of %2 cases, not of %3")
                            .arg(p.fileName)
                            .arg(p.total)
                            .arg(total));
        if (p.total >= 0)
            total = p.total;
    }
    if (total < 0)
        throw Error(QStringLiteral("no part holds a row: the slices of the sweep are missing"));
    std::stable_sort(
        parts.begin(), parts.end(), [](const Part &a, const Part &b) { return a.first < b.first; });
    if (!summary && !parts.front().jsonl)
        printRaw(parts.front().header + '\n');

    QStringList reports;
    std::vector<std::vector<double>> values;
    qint64 expected = 0;
    for (const Part &p : parts) {
        QFile file;
        open(file, p.fileName);
        if (!p.jsonl)
            nextLine(file);
        QByteArray out;
        for (qint64 row = 1;; ++row) {
            const QByteArray line = nextLine(file);
            if (line.isEmpty()) {
                if (file.atEnd())
                    break;
                continue;
            }
            bool ok = false;
            const qint64 index = caseIndex(line, p.jsonl, ok);
            if (!ok || index != expected)
                throw Error(QStringLiteral("%1, row %2: case %3 where case %4 was expected (a "
                                           "slice is missing, repeated or from another sweep)")
                                .arg(p.fileName)
                                .arg(row)
                                .arg(ok ? QString::number(index) : QStringLiteral("?"))
                                .arg(expected));
            ++expected;
            if (!summary) {
                out += line;
                out += '\n';
                if (out.size() > (1 << 20)) {
                    printRaw(out);
                    out.clear();
                }
                continue;
            }
            const QJsonObject doc = QJsonDocument::fromJson(line).object();
            const QJsonObject v = doc.value(QStringLiteral("values")).toObject();
            if (reports.isEmpty()) {
                // The reported names in the order the row gives them.
                const QString text = QString::fromUtf8(line.mid(line.indexOf("\"values\":")));
                reports = v.keys();
                std::sort(reports.begin(), reports.end(), [&](const QString &a, const QString &b) {
                    return text.indexOf(jsonString(a)) < text.indexOf(jsonString(b));
                });
                values.resize(size_t(reports.size()));
            }
            if (v.size() != reports.size())
                throw Error(QStringLiteral("%1, row %2: other reported values than the first row")
                                .arg(p.fileName)
                                .arg(row));
            for (qsizetype k = 0; k < reports.size(); ++k) {
                const QString text = v.value(reports[k]).toString();
                values[size_t(k)].push_back(isNumberText(text) ? textToFloatDef(text, 0)
                                                               : std::nan(""));
            }
        }
        printRaw(out);
    }
    if (expected != total)
        throw Error(QStringLiteral("cases %1 to %2 of %3 are missing: a slice is missing")
                        .arg(expected)
                        .arg(total - 1)
                        .arg(total));
    if (summary)
        for (const QString &line : summaryLines(reports, values, format == QLatin1String("jsonl")))
            printLine(line);
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("sweep-merge"),
    QStringLiteral("Join the outputs of the slices of one sweep (sweep --shard K/N) in case "
                   "order, checking that every case is there once; with --summary print the "
                   "statistics of the whole sweep instead."),
    [](QCommandLineParser &parser) {
        parser.addPositionalArgument(QStringLiteral("FILES"),
                                     QStringLiteral("The slices' outputs, in any order."),
                                     QStringLiteral("FILES..."));
        parser.addOption(QCommandLineOption(
            QStringLiteral("summary"),
            QStringLiteral("Print the mean, standard deviation, 5th/50th/95th percentiles and "
                           "the share of failed cases of every reported value.")));
        parser.addOption(QCommandLineOption(QStringLiteral("format"),
                                            QStringLiteral("The summary as csv (default) or "
                                                           "jsonl."),
                                            QStringLiteral("csv|jsonl")));
    },
    run,
});

} // namespace
} // namespace tessarin::cli
