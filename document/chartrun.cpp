#include "chartrun.h"

#include "caserunner.h"
#include "error.h"
#include "projectdocument.h"
#include "projectfile.h"
#include "qzchart.h"
#include "numbertext.h"
#include "qzproject.h"
#include "qzworkbook.h"

#include <QHash>

#include <cmath>
#include <limits>
#include <memory>

namespace tessarin {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const TqzNode *nodeNamed(const TqzProject &project, const QString &name)
{
    const TqzProjectTree &tree = *project.TreeView;
    for (int i = 0; i < tree.count(); ++i)
        if (tree.nodeAt(i)->Name == name)
            return tree.nodeAt(i);
    return nullptr;
}

QString unitOf(const TqzProject &project, const QString &name)
{
    const TqzNode *node = nodeNamed(project, name);
    return node ? node->Unit : QString();
}

// Whether `text` is a finite number as the run reads numbers (textToFloatDef); its value, or
// NaN, into `value`.
bool numberIn(const QString &text, double *value = nullptr)
{
    const double v = textToFloatDef(text, kNaN);
    if (value)
        *value = std::isfinite(v) ? v : kNaN;
    return std::isfinite(v);
}

// The names a chart's data and relative range read from the project as it stands.
QStringList namesRead(const TqzChart &chart)
{
    QStringList names;
    const auto add = [&names](const QString &name) {
        if (!name.isEmpty() && !numberIn(name) && !names.contains(name))
            names.append(name);
    };
    add(chart.rangeNode);
    for (const TqzChartData &data : chart.data) {
        add(data.count);
        for (const auto &[x, y] : data.points) {
            add(x);
            add(y);
        }
    }
    return names;
}

// One curve or point from the values of the base case. A point the project gave no number for
// is left out (its node failed, and the run says why); a curve whose points are not numbers or
// whose x does not rise is refused with what is wrong and where.
TqzChartSeries dataSeries(const TqzChartData &data,
                          const QHash<QString, QString> &values,
                          const TqzProject &project,
                          QStringList &problems)
{
    TqzChartSeries series{data.name, QString(), {}, data.kind, {}};
    if (!data.points.isEmpty() && !numberIn(data.points.front().second))
        series.unit = unitOf(project, data.points.front().second);
    const auto valueOf = [&values](const QString &ref) {
        double v = kNaN;
        if (!numberIn(ref, &v))
            numberIn(values.value(ref), &v);
        return v;
    };
    const auto refused = [&](const QString &why) {
        problems.append(QStringLiteral("\"%1\": %2").arg(data.name, why));
        series.xs.clear();
        series.values.clear();
        return series;
    };
    qsizetype n = data.points.size();
    if (!data.count.isEmpty()) {
        const double count = valueOf(data.count);
        if (!(count >= 0 && count <= double(n) && count == std::floor(count)))
            return refused(QStringLiteral("点数 %1 = \"%2\" 不是 0 到 %3 的整数")
                               .arg(data.count, values.value(data.count, data.count))
                               .arg(n));
        n = static_cast<qsizetype>(count);
    }
    for (qsizetype i = 0; i < n; ++i) {
        const auto &[xRef, yRef] = data.points[i];
        const double x = valueOf(xRef);
        const double y = valueOf(yRef);
        if (data.kind == TqzChartKind::Point) {
            if (std::isfinite(x) && std::isfinite(y)) {
                series.xs.push_back(x);
                series.values.push_back(y);
            }
            continue;
        }
        for (const auto &[ref, v] : {std::pair{xRef, x}, std::pair{yRef, y}})
            if (!std::isfinite(v))
                return refused(QStringLiteral("第 %1 点的 %2 没有数值 (\"%3\")")
                                   .arg(i + 1)
                                   .arg(ref, values.value(ref)));
        if (i > 0 && !(x > series.xs.back()))
            return refused(QStringLiteral("第 %1 点的 %2 = %3 不大于第 %4 点的 %5, x 须逐点增大")
                               .arg(i + 1)
                               .arg(xRef)
                               .arg(x)
                               .arg(i)
                               .arg(series.xs.back()));
        series.xs.push_back(x);
        series.values.push_back(y);
    }
    if (data.kind == TqzChartKind::Curve && n == 1)
        return refused(QStringLiteral("一条曲线至少要 2 点, 只给了 1 点"));
    return series;
}

// The input's text as the project holds it: its first tagged cell with text, else its node.
QString currentText(ProjectDocument &copy, const QString &name)
{
    const QString typed = copy.workbook().GetTagValue(name);
    if (!typed.isEmpty())
        return typed;
    const TqzNode *node = nodeNamed(copy.project(), name);
    return node ? node->Value : QString();
}

} // namespace

QStringList computeCharts(ProjectDocument &document)
{
    QList<TqzChart> charts = document.workbook().charts();
    if (charts.isEmpty())
        return {};
    QStringList problems;
    const QByteArray bytes = document.file().documentBytes(document.workbook());

    // The project as it stands gives every chart its range and its data: the first case of the
    // first chart with outputs, typed with its input's own text, or else a run of its own. (A
    // runner costs more than its cases: it compiles every formula once.)
    ProjectDocument base;
    QString baseError;
    QHash<QString, QString> values;
    qsizetype host = -1;
    ProjectDocument hostCopy;
    std::unique_ptr<TqzCaseRunner> hostRunner;
    try {
        base.loadBytes(bytes, QStringLiteral("charts"));
        QStringList read;
        for (const TqzChart &chart : charts)
            for (const QString &name : namesRead(chart))
                if (!read.contains(name) && nodeNamed(base.project(), name))
                    read.append(name);
        for (qsizetype k = 0; k < charts.size() && host < 0; ++k)
            if (!charts[k].outputs.isEmpty())
                host = k;
        if (host >= 0) {
            const TqzChart &chart = charts[host];
            try {
                hostCopy.loadBytes(bytes, QStringLiteral("chart %1").arg(host + 1));
                // Taken before the runner, which marks the input's cells to find them.
                const QString typed = currentText(hostCopy, chart.input);
                hostRunner = std::make_unique<TqzCaseRunner>(hostCopy.project(),
                                                             hostCopy.workbook(),
                                                             hostCopy.codeTable(),
                                                             QStringList{chart.input},
                                                             chart.outputs + read);
                const TqzCaseOutcome outcome = hostRunner->runCase({typed});
                for (qsizetype i = 0; i < read.size(); ++i)
                    values.insert(read[i], outcome.values.value(chart.outputs.size() + i));
            } catch (const Error &) {
                // The chart's own runner below says what is wrong with it.
                hostRunner.reset();
                host = -1;
            }
        }
        if (host < 0 && !read.isEmpty()) {
            TqzCaseRunner runner(base.project(), base.workbook(), base.codeTable(), {}, read);
            const TqzCaseOutcome outcome = runner.runCase({});
            for (qsizetype i = 0; i < read.size(); ++i)
                values.insert(read[i], outcome.values.value(i));
        }
    } catch (const Error &e) {
        baseError = e.message();
    }

    for (qsizetype k = 0; k < charts.size(); ++k) {
        TqzChart &chart = charts[k];
        const auto problem = [&](const QString &what) {
            problems.append(QStringLiteral("图表 %1 (%2): %3").arg(k + 1).arg(chart.title, what));
        };
        try {
            const QStringList read = namesRead(chart);
            if (!read.isEmpty() && !baseError.isEmpty())
                throw Error(baseError);
            for (const QString &name : read)
                if (!nodeNamed(base.project(), name))
                    throw Error(QStringLiteral("%1: the project has no node of that name").arg(name));
            TqzChart next = chart;
            if (!chart.rangeNode.isEmpty()) {
                double rangeValue = kNaN;
                if (!numberIn(values.value(chart.rangeNode), &rangeValue)
                    || !chartRangeFits(chart.from, chart.to, rangeValue)) {
                    // No range, no chart: its old lines would belong to other inputs.
                    problem(QStringLiteral("范围所依的 %1 没有可用的数值 (\"%2\"), 图中不画线")
                                .arg(chart.rangeNode, values.value(chart.rangeNode)));
                    next.rangeValue = kNaN;
                    next.series.clear();
                    for (const QString &output : chart.outputs)
                        next.series.append(TqzChartSeries(
                            output,
                            unitOf(base.project(), output),
                            std::vector<double>(static_cast<size_t>(chart.points), kNaN)));
                    for (const TqzChartData &data : chart.data)
                        next.series.append(TqzChartSeries(data.name, QString(), {}, data.kind));
                    chart = next;
                    continue;
                }
                next.rangeValue = rangeValue;
            }

            QList<TqzChartSeries> series;
            if (!chart.outputs.isEmpty()) {
                // A fresh copy per swept chart: every case starts from the values the user holds.
                ProjectDocument copy;
                std::unique_ptr<TqzCaseRunner> own;
                TqzCaseRunner *runner = hostRunner.get();
                if (k != host) {
                    copy.loadBytes(bytes, QStringLiteral("chart %1").arg(k + 1));
                    own = std::make_unique<TqzCaseRunner>(copy.project(),
                                                          copy.workbook(),
                                                          copy.codeTable(),
                                                          QStringList{chart.input},
                                                          chart.outputs);
                    runner = own.get();
                }
                for (const QString &output : chart.outputs)
                    series.append(TqzChartSeries(output, unitOf(base.project(), output)));
                for (double x : next.inputValues()) {
                    const TqzCaseOutcome outcome = runner->runCase({QString::number(x, 'g', 15)});
                    for (qsizetype s = 0; s < chart.outputs.size(); ++s) {
                        double y = kNaN;
                        numberIn(outcome.values.value(s), &y);
                        series[s].values.push_back(y);
                    }
                }
                next.inputUnit = unitOf(base.project(), chart.input);
            }
            QStringList refused;
            for (const TqzChartData &data : chart.data)
                series.append(dataSeries(data, values, base.project(), refused));
            for (const QString &why : refused)
                problem(why);
            next.series = series;
            chart = next;
        } catch (const Error &e) {
            problem(e.message());
        }
    }
    document.workbook().setCharts(charts);
    return problems;
}

} // namespace tessarin
