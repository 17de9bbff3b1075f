#include "chartrun.h"

#include "caserunner.h"
#include "error.h"
#include "projectdocument.h"
#include "projectfile.h"
#include "qzchart.h"
#include "qzproject.h"
#include "qzworkbook.h"

#include <cmath>
#include <limits>

namespace tessarin {

namespace {

QString unitOf(const TqzProject &project, const QString &name)
{
    const TqzProjectTree &tree = *project.TreeView;
    for (int i = 0; i < tree.count(); ++i)
        if (tree.nodeAt(i)->Name == name)
            return tree.nodeAt(i)->Unit;
    return QString();
}

} // namespace

QStringList computeCharts(ProjectDocument &document)
{
    QList<TqzChart> charts = document.workbook().charts();
    if (charts.isEmpty())
        return {};
    QStringList problems;
    const QByteArray bytes = document.file().documentBytes(document.workbook());
    for (qsizetype k = 0; k < charts.size(); ++k) {
        TqzChart &chart = charts[k];
        try {
            // A fresh copy per chart: every chart starts from the values the user holds.
            ProjectDocument copy;
            copy.loadBytes(bytes, QStringLiteral("chart %1").arg(k + 1));
            TqzCaseRunner runner(copy.project(),
                                 copy.workbook(),
                                 copy.codeTable(),
                                 {chart.input},
                                 chart.outputs);
            const std::vector<double> xs = chart.inputValues();
            QList<TqzChartSeries> series;
            for (const QString &output : chart.outputs)
                series.append({output, unitOf(copy.project(), output), {}});
            for (double x : xs) {
                const TqzCaseOutcome outcome = runner.runCase({QString::number(x, 'g', 15)});
                for (qsizetype s = 0; s < series.size(); ++s) {
                    bool ok = false;
                    const double y = outcome.values.value(s).toDouble(&ok);
                    series[s].values.push_back(ok && std::isfinite(y)
                                                   ? y
                                                   : std::numeric_limits<double>::quiet_NaN());
                }
            }
            chart.inputUnit = unitOf(copy.project(), chart.input);
            chart.series = series;
        } catch (const Error &e) {
            problems.append(QStringLiteral("图表 %1 (%2): %3").arg(k + 1).arg(chart.title, e.message()));
        }
    }
    document.workbook().setCharts(charts);
    return problems;
}

} // namespace tessarin
