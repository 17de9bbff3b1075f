// The "性能曲线" page of the packaged project: its charts computed from the project as the user
// holds it, with the range following the rated flow, the vendor's points drawn as curves, the
// operating point where the pump's head meets the system curve, and bad points refused with
// what is wrong and where.

#include "chartrun.h"
#include "packagedproject.h"
#include "projectdocument.h"
#include "qzchart.h"
#include "qzworkbook.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

namespace tessarin {
namespace {

const QString kHead = QStringLiteral("扬程-流量");
const QString kEfficiency = QStringLiteral("效率-流量");
const QString kNpsh = QStringLiteral("汽蚀余量-流量");

// The packaged project with `typed` typed into its cells, its charts then computed.
using Typed = std::map<QString, QString>;

struct Curves
{
    ProjectDocument document;
    QStringList problems;
    QList<TqzChart> charts;

    explicit Curves(const Typed &typed = {})
    {
        document.loadBytes(LoadPackagedProject(), QStringLiteral("packaged"));
        for (const auto &[name, value] : typed)
            document.workbook().SetTagValue(name, value);
        problems = computeCharts(document);
        charts = document.workbook().charts();
    }
    const TqzChart &chart(const QString &title) const
    {
        for (const TqzChart &c : charts)
            if (c.title == title)
                return c;
        ADD_FAILURE() << "no chart " << title.toStdString();
        return charts.front();
    }
    const TqzChartSeries &series(const QString &title, const QString &name) const
    {
        for (const TqzChartSeries &s : chart(title).series)
            if (s.name == name)
                return s;
        ADD_FAILURE() << "no series " << name.toStdString();
        return chart(title).series.front();
    }
};

// y of the straight lines through (xs, ys) at x, as a checker reads a curve by hand.
double between(const std::vector<double> &xs, const std::vector<double> &ys, double x)
{
    for (size_t i = 1; i < xs.size(); ++i)
        if (x <= xs[i])
            return ys[i - 1] + (ys[i] - ys[i - 1]) * (x - xs[i - 1]) / (xs[i] - xs[i - 1]);
    return NAN;
}

TEST(PumpCurves, TheRangeFollowsTheRatedFlow)
{
    const struct
    {
        const char *normal;
        const char *margin;
        double rated;
    } rows[] = {{"50", "1.1", 55}, {"100", "1.1", 110}, {"30", "1.2", 36}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.normal);
        const Curves c(Typed{{QStringLiteral("正常流量"), QString::fromLatin1(row.normal)},
                             {QStringLiteral("流量裕量系数"), QString::fromLatin1(row.margin)}});
        EXPECT_TRUE(c.problems.isEmpty()) << c.problems.join('\n').toStdString();
        for (const QString &title : {kHead, kEfficiency, kNpsh}) {
            const TqzChart &chart = c.chart(title);
            EXPECT_EQ(chart.rangeNode, QStringLiteral("额定流量"));
            EXPECT_NEAR(chart.rangeValue, row.rated, 1e-9 * row.rated);
            EXPECT_DOUBLE_EQ(chart.highEnd(), 1.3 * chart.rangeValue);
        }
        // The system curve from no flow to 130 %: a parabola Hst + k Q² over 14 flows.
        const TqzChart &head = c.chart(kHead);
        const std::vector<double> q = head.inputValues();
        const std::vector<double> &h = c.series(kHead, QStringLiteral("系统曲线扬程")).values;
        ASSERT_EQ(q.size(), 14u);
        ASSERT_EQ(h.size(), 14u);
        EXPECT_EQ(q.front(), 0);
        EXPECT_NEAR(q[10], row.rated, 1e-9 * row.rated);
        const double k = (h[10] - h[0]) / (q[10] * q[10]);
        EXPECT_GT(k, 0);
        for (size_t i = 1; i < q.size(); ++i)
            EXPECT_NEAR(h[i], h[0] + k * q[i] * q[i], 1e-9 * h[i]) << i;
        const TqzChartSeries &rated = c.series(kHead, QStringLiteral("额定点"));
        ASSERT_EQ(rated.xs.size(), 1u);
        EXPECT_NEAR(rated.xs[0], row.rated, 1e-9 * row.rated);
        EXPECT_GT(rated.values[0], h[10]); // the rated head carries the margin
    }
    // No rated flow, no range: the charts say so and keep no lines of other inputs.
    const Curves none(Typed{{QStringLiteral("正常流量"), QStringLiteral("-5")}});
    EXPECT_EQ(none.problems.size(), 3);
    EXPECT_TRUE(none.problems.value(0).startsWith(
        QStringLiteral("图表 1 (扬程-流量): 范围所依的 额定流量 没有可用的数值")))
        << none.problems.value(0).toStdString();
    for (const TqzChart &chart : none.charts) {
        EXPECT_TRUE(std::isnan(chart.rangeValue));
        for (const TqzChartSeries &s : chart.series)
            for (double v : s.values)
                EXPECT_TRUE(std::isnan(v)) << s.name.toStdString();
    }
}

TEST(PumpCurves, VendorPointsGiveTheCurvesAndTheOperatingPoint)
{
    const Curves c; // the project's five points
    EXPECT_TRUE(c.problems.isEmpty()) << c.problems.join('\n').toStdString();
    const std::vector<double> q = {0, 20, 40, 60, 80};
    const struct
    {
        QString title, curve, point;
        std::vector<double> values;
    } curves[] = {
        {kHead, "泵扬程", "运行点", {110, 108, 103, 94, 80}},
        {kEfficiency, "泵效率", "运行点", {0, 40, 60, 67, 63}},
        {kNpsh, "NPSHr", "运行点 NPSHr", {1.8, 2.0, 2.4, 3.0, 4.2}},
    };
    for (const auto &curve : curves) {
        const TqzChartSeries &s = c.series(curve.title, curve.curve);
        EXPECT_EQ(s.kind, TqzChartKind::Curve);
        EXPECT_EQ(s.xs, q);
        EXPECT_EQ(s.values, curve.values);
    }

    // By hand: the system curve through its values at no flow and at the rated flow, the pump's
    // head by straight lines between the points; on the segment where they cross solve
    // Hst + k Q² = Ha + s (Q - Qa).
    const TqzChart &head = c.chart(kHead);
    const std::vector<double> sq = head.inputValues();
    const std::vector<double> &sh = c.series(kHead, QStringLiteral("系统曲线扬程")).values;
    const double hst = sh[0];
    const double k = (sh[10] - hst) / (sq[10] * sq[10]);
    double qop = NAN;
    for (size_t i = 1; i < q.size() && std::isnan(qop); ++i) {
        const double ha = curves[0].values[i - 1];
        const double slope = (curves[0].values[i] - ha) / (q[i] - q[i - 1]);
        const double cc = hst - ha + slope * q[i - 1];
        const double root = (slope + std::sqrt(slope * slope - 4 * k * cc)) / (2 * k);
        if (root >= q[i - 1] && root <= q[i])
            qop = root;
    }
    ASSERT_FALSE(std::isnan(qop));
    EXPECT_GT(qop, sq[10]); // the pump gives more than the rated flow's head at the rated flow
    const double hop = hst + k * qop * qop;
    const TqzChartSeries &op = c.series(kHead, QStringLiteral("运行点"));
    ASSERT_EQ(op.xs.size(), 1u);
    EXPECT_NEAR(op.xs[0], qop, 1e-6);
    EXPECT_NEAR(op.values[0], hop, 1e-6);
    EXPECT_NEAR(op.values[0], between(q, curves[0].values, qop), 1e-6);
    // It lies on the drawn system curve too (straight lines between its 14 points).
    EXPECT_NEAR(between(sq, sh, qop), hop, 0.05);
    // The other charts mark the same flow, their value read off their curve.
    for (int i = 1; i < 3; ++i) {
        const TqzChartSeries &p = c.series(curves[i].title, curves[i].point);
        ASSERT_EQ(p.xs.size(), 1u);
        EXPECT_NEAR(p.xs[0], qop, 1e-6);
        EXPECT_NEAR(p.values[0], between(q, curves[i].values, qop), 1e-6);
    }
}

TEST(PumpCurves, WithoutVendorPointsOnlyTheSystemCurveAndTheRatedPoint)
{
    const Curves c(Typed{{QStringLiteral("曲线点数"), QStringLiteral("0")}});
    EXPECT_TRUE(c.problems.isEmpty()) << c.problems.join('\n').toStdString();
    const struct
    {
        QString title, name;
        size_t points;
    } expected[] = {
        {kHead, "系统曲线扬程", 14}, {kHead, "泵扬程", 0},       {kHead, "额定点", 1},
        {kHead, "运行点", 0},        {kEfficiency, "泵效率", 0}, {kEfficiency, "额定点", 1},
        {kEfficiency, "运行点", 0},  {kNpsh, "NPSHr", 0},        {kNpsh, "运行点 NPSHr", 0},
    };
    for (const auto &e : expected) {
        const TqzChartSeries &s = c.series(e.title, e.name);
        size_t numbers = 0;
        for (double v : s.values)
            numbers += std::isfinite(v);
        EXPECT_EQ(numbers, e.points) << e.title.toStdString() << " " << e.name.toStdString();
    }
}

TEST(PumpCurves, BadVendorPointsAreRefusedSayingWhatAndWhere)
{
    const struct
    {
        const char *name;
        const char *value;
        const char *message; // for the head curve
        size_t efficiencyPoints;
    } rows[] = {
        {"曲线流量3", "20", "\"泵扬程\": 第 3 点的 曲线流量3 = 20 不大于第 2 点的 20", 0},
        {"曲线点数", "9", "\"泵扬程\": 点数 曲线点数 = \"9.0\" 不是 0 到 7 的整数", 0},
        {"曲线点数", "2.5", "\"泵扬程\": 点数 曲线点数 = \"2.5\" 不是 0 到 7 的整数", 0},
        {"曲线点数", "1", "\"泵扬程\": 一条曲线至少要 2 点", 0},
        {"曲线扬程2", "abc", "\"泵扬程\": 第 2 点的 曲线扬程2 没有数值", 5},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.message);
        const Curves c(Typed{{QString::fromUtf8(row.name), QString::fromUtf8(row.value)}});
        const QString all = c.problems.join('\n');
        EXPECT_TRUE(all.contains(QStringLiteral("图表 1 (扬程-流量): ") + QString::fromUtf8(row.message)))
            << all.toStdString();
        EXPECT_TRUE(c.series(kHead, QStringLiteral("泵扬程")).values.empty());
        EXPECT_EQ(c.series(kEfficiency, QStringLiteral("泵效率")).values.size(),
                  row.efficiencyPoints);
        // The rest of the chart stands.
        EXPECT_EQ(c.series(kHead, QStringLiteral("系统曲线扬程")).values.size(), 14u);
        EXPECT_EQ(c.series(kHead, QStringLiteral("额定点")).values.size(), 1u);
    }
}

} // namespace
} // namespace tessarin
