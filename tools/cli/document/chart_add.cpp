// tessarin-cli chart-add FILE --page N --cells L1,C1,L2,C2 [--input NAME] --from A --to B
//                        [--relative-to NODE] [--points N] [--plot NAME]...
//                        [--curve NAME[:COUNT]=X,Y;X,Y...]... [--point NAME=X,Y]...
//                        [--title T] [-o OUT]: places a chart on a page, computes it and
// writes the project.

#include "headlessproject.h"

#include "chartrun.h"
#include "qzchart.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cmath>

namespace tessarin::cli {
namespace {

double numberOption(const QCommandLineParser &parser, const QString &name)
{
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok || !(std::abs(value) <= kMaxChartInput))
        throw UsageError(QStringLiteral("--%1 \"%2\": expected a number within ±%3")
                             .arg(name, parser.value(name))
                             .arg(kMaxChartInput));
    return value;
}

int run(const QCommandLineParser &parser)
{
    const QString fileName = positional(parser, 1).at(0);
    for (const char *required : {"page", "cells", "from", "to"})
        if (!parser.isSet(QString::fromLatin1(required)))
            throw UsageError(QStringLiteral("--%1 is required").arg(QString::fromLatin1(required)));
    const QString out = parser.isSet(QStringLiteral("o")) ? parser.value(QStringLiteral("o"))
                                                          : fileName;
    if (out.isEmpty() || (out == QLatin1String("-") && fileName == QLatin1String("-")))
        throw UsageError(QStringLiteral("the output file name is empty"));

    TqzChart chart;
    bool ok = false;
    chart.page = parser.value(QStringLiteral("page")).toInt(&ok) - 1;
    if (!ok || chart.page < 0)
        throw UsageError(QStringLiteral("--page: expected a page number from 1"));
    const QStringList cells = parser.value(QStringLiteral("cells")).split(QLatin1Char(','));
    int c[4] = {0, 0, 0, 0};
    ok = cells.size() == 4;
    for (int i = 0; ok && i < 4; ++i)
        c[i] = cells[i].trimmed().toInt(&ok) - 1;
    if (!ok || c[0] < 0 || c[1] < 0 || c[2] < c[0] || c[3] < c[1])
        throw UsageError(QStringLiteral("--cells: expected FIRST_LINE,FIRST_CELL,LAST_LINE,"
                                        "LAST_CELL counted from 1"));
    chart.first = {c[0], c[1]};
    chart.last = {c[2], c[3]};
    chart.input = parser.value(QStringLiteral("input"));
    chart.from = numberOption(parser, QStringLiteral("from"));
    chart.to = numberOption(parser, QStringLiteral("to"));
    chart.points = parser.isSet(QStringLiteral("points"))
                       ? parser.value(QStringLiteral("points")).toInt(&ok)
                       : 21;
    if (!ok || chart.points < 2 || chart.points > kMaxChartPoints)
        throw UsageError(
            QStringLiteral("--points: expected a whole number from 2 to %1").arg(kMaxChartPoints));
    chart.outputs = parser.values(QStringLiteral("plot"));
    if (!chart.outputs.isEmpty() && chart.input.isEmpty())
        throw UsageError(QStringLiteral("--plot needs --input"));
    chart.rangeNode = parser.value(QStringLiteral("relative-to"));
    for (const char *kind : {"curve", "point"})
        for (const QString &given : parser.values(QString::fromLatin1(kind))) {
            // NAME[:COUNT]=X,Y;X,Y...
            TqzChartData data;
            data.kind = kind[0] == 'c' ? TqzChartKind::Curve : TqzChartKind::Point;
            const qsizetype equals = given.indexOf(QLatin1Char('='));
            const QString head = given.left(equals);
            data.name = head.section(QLatin1Char(':'), 0, 0);
            data.count = head.section(QLatin1Char(':'), 1);
            const QString why = equals < 0 ? QStringLiteral("expected NAME=X,Y")
                                           : parseChartPoints(given.mid(equals + 1), data);
            if (!why.isEmpty())
                throw UsageError(QStringLiteral("--%1 \"%2\": %3")
                                     .arg(QString::fromLatin1(kind), given, why));
            chart.data.append(data);
        }
    if (chart.outputs.isEmpty() && chart.data.isEmpty())
        throw UsageError(QStringLiteral("give at least one --plot, --curve or --point"));
    if (chart.outputs.size() + chart.data.size() > kMaxChartOutputs)
        throw UsageError(QStringLiteral("at most %1 series").arg(kMaxChartOutputs));
    QStringList names = chart.outputs;
    for (const TqzChartData &data : chart.data)
        names.append(data.name);
    chart.title = parser.isSet(QStringLiteral("title")) ? parser.value(QStringLiteral("title"))
                                                        : names.join(QStringLiteral("、"));

    auto p = std::make_unique<HeadlessProject>();
    p->load(fileName, QStringLiteral("chart-add"));
    if (chart.page >= p->workbook.pageCount())
        throw Error(QStringLiteral("--page %1: the workbook has %2 pages")
                        .arg(chart.page + 1)
                        .arg(p->workbook.pageCount()));
    if (p->workbook.page(chart.page)->chartArea(chart).isEmpty())
        throw Error(QStringLiteral("--cells: page %1 has no such cells").arg(chart.page + 1));
    QList<TqzChart> charts = p->workbook.charts();
    charts.append(chart);
    p->workbook.setCharts(charts);
    const QStringList problems = computeCharts(p->document);
    if (!problems.isEmpty())
        throw Error(problems.join(QStringLiteral("; ")));
    p->file.saveAs(out, p->workbook);

    QJsonArray series;
    for (const TqzChart &c2 : p->workbook.charts())
        for (const TqzChartSeries &s : c2.series) {
            QJsonArray values;
            for (double v : s.values)
                values.append(std::isfinite(v) ? QJsonValue(v) : QJsonValue());
            QJsonObject one{{QStringLiteral("name"), s.name},
                            {QStringLiteral("unit"), s.unit},
                            {QStringLiteral("values"), values}};
            if (s.kind != TqzChartKind::Swept) {
                QJsonArray xs;
                for (double v : s.xs)
                    xs.append(v);
                one.insert(QStringLiteral("x"), xs);
            }
            series.append(one);
        }
    if (out != QLatin1String("-"))
        printJson(QJsonDocument(QJsonObject{{QStringLiteral("charts"), p->workbook.charts().size()},
                                            {QStringLiteral("series"), series}}));
    return 0;
}

const bool registered = registerCommand({
    QStringLiteral("chart-add"),
    QStringLiteral("Place a chart on a page, over a rectangle of its cells: outputs against one "
                   "input varied over a range (fixed, or relative to a node), curves and points "
                   "the project holds; compute it and write the project."),
    [](QCommandLineParser &parser) {
        addProjectFileArgument(parser);
        const auto option = [&](const char *name, const char *help, const char *value) {
            parser.addOption(QCommandLineOption(QString::fromLatin1(name),
                                                QString::fromUtf8(help),
                                                QString::fromLatin1(value)));
        };
        option("page", "The page (1 for the first, in print order).", "N");
        option("cells", "The cells it covers: first line, first cell, last line, last cell, "
                        "counted from 1.", "L1,C1,L2,C2");
        option("input", "The node varied (needed with --plot).", "NAME");
        option("from", "The input's first value.", "A");
        option("to", "The input's last value.", "B");
        option("relative-to", "Take A and B as fractions of this node's value, read from the "
                              "project each time the chart is computed.", "NODE");
        option("curve", "A line through points the project holds: NAME[:COUNT]=X,Y;X,Y... "
                         "(X, Y node names or numbers; COUNT a node giving how many points to "
                         "take); repeatable.", "CURVE");
        option("point", "One marked point: NAME=X,Y; repeatable.", "POINT");
        option("points", "How many values from A to B (default 21).", "N");
        option("plot", "A node plotted against the input; repeatable.", "NAME");
        option("title", "The chart's title (default: the outputs).", "TEXT");
        parser.addOption(
            outputOption(QStringLiteral("Write the project to OUT instead of FILE.")));
    },
    run,
});

} // namespace
} // namespace tessarin::cli
