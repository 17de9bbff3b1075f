#pragma once
// A chart on a workbook page: outputs of the project plotted against one input varied over a
// range, placed over a rectangle of the page's cells and drawn with the page, so that screen,
// print and PDF show the same vector drawing. Its definition and its last computed values are
// stored in the project document's "TqzCharts" element, beside the workbook.

#include "reportpage.h"

#include <QDomElement>
#include <QList>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <vector>

class QPainter;

namespace tessarin {

struct XmlElement;

// One plotted output: a value per input point, NaN where the case gave no number.
struct TqzChartSeries
{
    QString name;
    QString unit;
    std::vector<double> values;
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
    QList<TqzChartSeries> series; // as last computed, beside `outputs`

    // The input values: `points` values evenly from `from` to `to`.
    std::vector<double> inputValues() const;
    bool operator==(const TqzChart &) const = default;
};

inline constexpr int kMaxChartPoints = 1000;
inline constexpr int kMaxChartOutputs = 8;
// The largest magnitude of a range's ends: every value between them, and their distance, stay
// finite.
inline constexpr double kMaxChartInput = 1e300;

inline constexpr char16_t ChartsElementName[] = u"TqzCharts";

// Draws `chart` into `area` (page pixels): frame, title, grid, axes with their names and units,
// one line with markers per output and a legend. A chart without values draws its frame, its
// title and "尚未计算".
void paintChart(const TqzChart &chart, QPainter &painter, const QRectF &area);

// Reads the "TqzChart" children of a "TqzCharts" element, all or nothing: an attribute that is
// missing or out of range throws Error naming the chart and the line of its element.
QList<TqzChart> readChartsElement(const XmlElement &element);
// Writes one "TqzChart" child per chart (with a "Series" child per computed output).
void writeChartsElement(QDomElement &element, const QList<TqzChart> &charts);

} // namespace tessarin
