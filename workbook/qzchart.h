#pragma once
// A chart on a workbook page: outputs of the project plotted against one input varied over a
// range, curves through points the project holds as data and single marked points, placed over
// a rectangle of the page's cells and drawn with the page, so that screen, print and PDF show
// the same vector drawing. Its definition and its last computed values are stored in the
// project document's "TqzCharts" element, beside the workbook.

#include "reportpage.h"

#include <QDomElement>
#include <QList>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <limits>
#include <utility>
#include <vector>

class QPainter;

namespace tessarin {

struct XmlElement;

// What a series is. Swept: an output of the project, one value per input point. Curve: a line
// through points given as data, x rising. Point: one marked point.
enum class TqzChartKind { Swept, Curve, Point };

// One plotted series as last computed: for a swept output a value per input point (NaN where
// the case gave no number); for a curve or a point its points, `xs` beside `values` (none when
// the project gave none).
struct TqzChartSeries
{
    TqzChartSeries(QString name = {},
                   QString unit = {},
                   std::vector<double> values = {},
                   TqzChartKind kind = TqzChartKind::Swept,
                   std::vector<double> xs = {})
        : name(std::move(name))
        , unit(std::move(unit))
        , values(std::move(values))
        , kind(kind)
        , xs(std::move(xs))
    {}
    QString name;
    QString unit;
    std::vector<double> values;
    TqzChartKind kind = TqzChartKind::Swept;
    std::vector<double> xs;
    bool operator==(const TqzChartSeries &) const = default;
};

// A curve or a point whose coordinates the project holds: each of `points` is an x and a y, each
// a node name or a number. A curve takes the first `count` points when `count` names a node (its
// value a whole number), else all of them.
struct TqzChartData
{
    TqzChartKind kind = TqzChartKind::Curve;
    QString name;
    QString count;
    QList<std::pair<QString, QString>> points;
    bool operator==(const TqzChartData &) const = default;
};

struct TqzChart
{
    int page = 0;     // the page's position in the workbook
    TCellPos first;   // the top-left cell it covers
    TCellPos last;    // the bottom-right cell it covers
    QString title;
    QString input;    // the node varied
    QString inputUnit;
    double from = 0;
    double to = 1;
    int points = 11;  // 2 .. kMaxChartPoints
    QStringList outputs;
    // When set, `from` and `to` are fractions of this node's value, taken when the chart is
    // computed and kept in `rangeValue` (NaN until then).
    QString rangeNode;
    double rangeValue = std::numeric_limits<double>::quiet_NaN();
    QString xName; // axis names with their units; empty: from the input and the outputs
    QString yName;
    QList<TqzChartData> data;
    // As last computed: one per output, then one per data item, in their order.
    QList<TqzChartSeries> series;

    // The input values: `points` values evenly from `from` to `to` (times `rangeValue` for a
    // range relative to a node).
    std::vector<double> inputValues() const;
    // The ends of the input range as values of the input.
    double lowEnd() const;
    double highEnd() const;
    bool operator==(const TqzChart &other) const;
};

inline constexpr int kMaxChartPoints = 1000;
inline constexpr int kMaxChartDataPoints = 100; // points of one curve given as data
inline constexpr int kMaxChartOutputs = 8;
// The largest magnitude of a range's ends: every value between them, and their distance, stay
// finite.
inline constexpr double kMaxChartInput = 1e300;

inline constexpr char16_t ChartsElementName[] = u"TqzCharts";

// Draws `chart` into `area` (page pixels): frame, title, grid, axes with their names and units,
// one line with markers per output and per curve, a marker per point, and a legend that gives
// each point's coordinates. A chart without values draws its frame, its title and "尚未计算".
void paintChart(const TqzChart &chart, QPainter &painter, const QRectF &area);

// Reads the "TqzChart" children of a "TqzCharts" element, all or nothing: an attribute that is
// missing or out of range throws Error naming the chart and the line of its element.
QList<TqzChart> readChartsElement(const XmlElement &element);
// Writes one "TqzChart" child per chart (with a "Data" child per curve or point it defines and a
// "Series" child per computed series). The attributes of a relative range and of axis names are
// written only when set, so a chart that uses neither, nor data, keeps the bytes of its file.
void writeChartsElement(QDomElement &element, const QList<TqzChart> &charts);

// Whether a range relative to a node of value `rangeValue` has finite ends within the bounds.
bool chartRangeFits(double from, double to, double rangeValue);
// Fills `data.points` from "X,Y;X,Y..." and checks them against `data`'s kind and name; returns
// what is wrong (which point, and why), or an empty text.
QString parseChartPoints(const QString &text, TqzChartData &data);

} // namespace tessarin
