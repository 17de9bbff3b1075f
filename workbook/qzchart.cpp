#include "qzchart.h"

#include "error.h"
#include "xmltree.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <limits>

namespace tessarin {

namespace {

const QString kChart = QStringLiteral("TqzChart");
const QString kSeries = QStringLiteral("Series");
const QString kData = QStringLiteral("Data");
const QColor kGrid(0xd8, 0xd8, 0xd8);
const QColor kPalette[] = {QColor(0x1f, 0x4e, 0xa8),
                           QColor(0xc0, 0x2a, 0x2a),
                           QColor(0x2a, 0x8a, 0x3a),
                           QColor(0xd0, 0x7a, 0x10),
                           QColor(0x7a, 0x3a, 0xa8),
                           QColor(0x10, 0x8a, 0x9a),
                           QColor(0x80, 0x60, 0x30),
                           QColor(0x50, 0x50, 0x50)};

QFont chartFont(double pixels, bool bold = false)
{
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(pixels))));
    font.setBold(bold);
    return font;
}

// Tick values for [lo, hi]: steps of 1, 2 or 5 times a power of ten, about `count` of them.
std::vector<double> ticks(double lo, double hi, int count)
{
    std::vector<double> out;
    if (!(hi > lo))
        return out;
    const double raw = (hi - lo) / std::max(1, count);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = power;
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        step = m * power;
        if (step >= raw)
            break;
    }
    if (!std::isfinite(step) || step <= 0)
        return out;
    // Counted, not summed: a step too small to change a large value would never end a sum.
    const double first = std::ceil(lo / step - 1e-9) * step;
    for (int i = 0; i <= 4 * count + 2; ++i) {
        const double v = first + i * step;
        if (!(v <= hi + step * 1e-9))
            break;
        if (!out.empty() && v == out.back())
            return {};
        out.push_back(std::abs(v) < step * 1e-9 ? 0.0 : v);
    }
    return out;
}

QString tickText(double v)
{
    return QString::number(v, 'g', 6);
}

void drawMarker(QPainter &painter, int kind, const QPointF &at, double size)
{
    const double h = size / 2;
    switch (kind % 3) {
    case 0:
        painter.drawEllipse(at, h, h);
        break;
    case 1:
        painter.drawRect(QRectF(at.x() - h, at.y() - h, size, size));
        break;
    default: {
        QPainterPath triangle;
        triangle.moveTo(at.x(), at.y() - h);
        triangle.lineTo(at.x() + h, at.y() + h);
        triangle.lineTo(at.x() - h, at.y() + h);
        triangle.closeSubpath();
        painter.drawPath(triangle);
    }
    }
}

QString withUnit(const QString &name, const QString &unit)
{
    return unit.isEmpty() ? name : name + QStringLiteral(" (") + unit + QLatin1Char(')');
}

// The number of attribute `name` of `e`, or Error naming the chart and its line.
double number(const XmlElement &e, const QString &name, int chart)
{
    QString text;
    bool ok = false;
    const double value = readAttribute(e, name, text) ? text.trimmed().toDouble(&ok) : 0;
    if (!ok || !std::isfinite(value))
        throw Error(QStringLiteral("chart %1 (line %2): attribute \"%3\" is not a number: \"%4\"")
                        .arg(chart)
                        .arg(e.line)
                        .arg(name, text));
    return value;
}

QString kindName(TqzChartKind kind)
{
    switch (kind) {
    case TqzChartKind::Curve:
        return QStringLiteral("curve");
    case TqzChartKind::Point:
        return QStringLiteral("point");
    default:
        return QStringLiteral("swept");
    }
}

bool kindOf(const QString &name, TqzChartKind &kind)
{
    for (TqzChartKind k : {TqzChartKind::Swept, TqzChartKind::Curve, TqzChartKind::Point})
        if (name == kindName(k)) {
            kind = k;
            return true;
        }
    return false;
}

// Numbers separated by blanks; "-" (or anything else that is no finite number) is NaN.
std::vector<double> numbersOf(const QString &text)
{
    std::vector<double> out;
    for (const QString &v : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        bool isNumber = false;
        const double d = v.toDouble(&isNumber);
        out.push_back(isNumber && std::isfinite(d) ? d : std::numeric_limits<double>::quiet_NaN());
    }
    return out;
}

} // namespace

std::vector<double> TqzChart::inputValues() const
{
    std::vector<double> out;
    const int n = std::clamp(points, 2, kMaxChartPoints);
    const double lo = lowEnd();
    const double hi = highEnd();
    out.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        out.push_back(i == n - 1 ? hi : lo + (hi - lo) * i / (n - 1));
    return out;
}

double TqzChart::lowEnd() const
{
    return rangeNode.isEmpty() ? from : from * rangeValue;
}

double TqzChart::highEnd() const
{
    return rangeNode.isEmpty() ? to : to * rangeValue;
}

bool TqzChart::operator==(const TqzChart &o) const
{
    const bool sameRange = rangeValue == o.rangeValue
                           || (std::isnan(rangeValue) && std::isnan(o.rangeValue));
    return sameRange && page == o.page && first == o.first && last == o.last && title == o.title
           && input == o.input && inputUnit == o.inputUnit && from == o.from && to == o.to
           && points == o.points && outputs == o.outputs && rangeNode == o.rangeNode
           && xName == o.xName && yName == o.yName && data == o.data && series == o.series;
}

namespace {

struct LegendEntry
{
    QString label;
    QColor color;
    TqzChartKind kind;
    int index; // the series' place, which picks its marker
};

QString pointText(double v)
{
    return QString::number(v, 'g', 4);
}

// A point's marker: a diamond larger than the markers of lines, outlined in black.
void drawPointMarker(QPainter &painter, const QColor &color, const QPointF &at, double size)
{
    const double h = size / 2;
    QPainterPath diamond;
    diamond.moveTo(at.x(), at.y() - h);
    diamond.lineTo(at.x() + h, at.y());
    diamond.lineTo(at.x(), at.y() + h);
    diamond.lineTo(at.x() - h, at.y());
    diamond.closeSubpath();
    painter.setPen(QPen(Qt::black, std::max(1.0, size / 10)));
    painter.setBrush(color);
    painter.drawPath(diamond);
}

// Lines take the palette in their order, points theirs from a second sequence that starts
// where the lines' usually end, so that a chart's points keep their colours whatever lines it
// has.
QList<QColor> seriesColors(const TqzChart &chart)
{
    QList<TqzChartKind> kinds;
    if (chart.series.isEmpty()) {
        for (qsizetype k = 0; k < chart.outputs.size(); ++k)
            kinds.append(TqzChartKind::Swept);
        for (const TqzChartData &d : chart.data)
            kinds.append(d.kind);
    } else {
        for (const TqzChartSeries &s : chart.series)
            kinds.append(s.kind);
    }
    QList<QColor> colors;
    size_t lines = 0;
    size_t points = 2;
    for (TqzChartKind kind : kinds)
        colors.append(kind == TqzChartKind::Point ? kPalette[points++ % std::size(kPalette)]
                                                   : kPalette[lines++ % std::size(kPalette)]);
    return colors;
}

// Ticks for [lo, hi] whose range is widened out to whole steps, with `lo` and `hi` moved there.
std::vector<double> roundedOut(double &lo, double &hi, int count)
{
    std::vector<double> out = ticks(lo, hi, count);
    if (out.size() >= 2) {
        const double step = out[1] - out[0];
        const double a = std::floor(lo / step + 1e-9) * step;
        const double b = std::ceil(hi / step - 1e-9) * step;
        const double n = std::round((b - a) / step);
        if (std::isfinite(a) && std::isfinite(b) && b > a && n >= 1 && n <= 4 * count + 2) {
            std::vector<double> wider;
            for (int i = 0; i <= int(n); ++i) {
                const double v = a + i * step;
                wider.push_back(std::abs(v) < step * 1e-9 ? 0.0 : v);
            }
            lo = a;
            hi = b;
            return wider;
        }
    }
    if (!out.empty()) {
        lo = std::min(lo, out.front());
        hi = std::max(hi, out.back());
    }
    return out;
}

// Whether value i of `s` has an x: its input point, or for data its own finite x.
bool hasX(const TqzChartSeries &s, size_t i)
{
    return s.kind == TqzChartKind::Swept || (i < s.xs.size() && std::isfinite(s.xs[i]));
}

// The place of the first value of `s` that can be drawn, or -1.
qsizetype firstNumber(const TqzChartSeries &s)
{
    for (size_t i = 0; i < s.values.size(); ++i)
        if (std::isfinite(s.values[i]) && hasX(s, i))
            return qsizetype(i);
    return -1;
}

} // namespace

void paintChart(const TqzChart &chart, QPainter &painter, const QRectF &area)
{
    if (area.width() < 20 || area.height() < 20)
        return;
    painter.save();
    painter.setClipRect(area);
    painter.fillRect(area, Qt::white);
    // One text size for charts of one page whatever their height, smaller only when a chart is
    // too small for it.
    const double em = std::clamp(std::min(area.height() / 18, area.width() / 60), 8.0, 11.0);
    const QFont text = chartFont(em);
    const QFont title = chartFont(em * 1.15, true);
    const QFontMetricsF fm(text);
    const bool computed = !chart.series.isEmpty();
    const QList<QColor> colors = seriesColors(chart);

    // Title, then the legend under it, in as many rows as it needs.
    QRectF rest = area.adjusted(em * 0.5, em * 0.4, -em * 0.5, -em * 0.4);
    painter.setPen(Qt::black);
    painter.setFont(title);
    const double titleHeight = QFontMetricsF(title).height();
    painter.drawText(QRectF(rest.left(), rest.top(), rest.width(), titleHeight),
                     Qt::AlignHCenter | Qt::AlignVCenter,
                     chart.title);
    rest.setTop(rest.top() + titleHeight + em * 0.3);
    painter.setFont(text);

    QList<LegendEntry> legend;
    if (computed) {
        for (qsizetype k = 0; k < chart.series.size(); ++k) {
            const TqzChartSeries &s = chart.series[k];
            const qsizetype at = firstNumber(s);
            if (at < 0)
                continue; // a curve or point the project did not give
            QString label = withUnit(s.name, s.unit);
            if (s.kind == TqzChartKind::Point)
                label = s.name + QStringLiteral(" (") + pointText(s.xs[size_t(at)])
                        + QStringLiteral(", ") + pointText(s.values[size_t(at)]) + QLatin1Char(')');
            legend.append({label, colors.value(k), s.kind, int(k)});
        }
    } else {
        int k = 0;
        for (const QString &output : chart.outputs) {
            legend.append({output, colors.value(k), TqzChartKind::Swept, k});
            ++k;
        }
        for (const TqzChartData &d : chart.data) {
            legend.append({d.name, colors.value(k), d.kind, k});
            ++k;
        }
    }
    double x = rest.left();
    double rowTop = rest.top();
    for (const LegendEntry &entry : legend) {
        const double width = em * 3.4 + fm.horizontalAdvance(entry.label);
        if (x > rest.left() && x + width - em > rest.right()) {
            x = rest.left();
            rowTop += fm.height() + em * 0.2;
        }
        const double y = rowTop + fm.height() / 2;
        if (entry.kind == TqzChartKind::Point) {
            drawPointMarker(painter, entry.color, QPointF(x + em, y), em * 0.9);
        } else {
            painter.setPen(QPen(entry.color, std::max(1.0, em / 8)));
            painter.setBrush(entry.color);
            painter.drawLine(QPointF(x, y), QPointF(x + em * 2, y));
            drawMarker(painter, entry.index, QPointF(x + em, y), em * 0.5);
        }
        painter.setPen(Qt::black);
        painter.setBrush(Qt::NoBrush);
        painter.drawText(QPointF(x + em * 2.4, rowTop + fm.ascent()), entry.label);
        x += width;
    }
    if (!legend.isEmpty())
        rowTop += fm.height();
    // Room for half the top tick's label above the plot.
    rest.setTop(rowTop + em * 0.4 + fm.height() / 2);

    // The ranges of every number computed; the x range holds the input's range and every point.
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    double xlo = std::min(chart.lowEnd(), chart.highEnd());
    double xhi = std::max(chart.lowEnd(), chart.highEnd());
    if (!std::isfinite(xlo) || !std::isfinite(xhi)) {
        xlo = std::numeric_limits<double>::infinity();
        xhi = -xlo;
    }
    for (const TqzChartSeries &s : chart.series)
        for (size_t i = 0; i < s.values.size(); ++i) {
            const double v = s.values[i];
            if (s.kind != TqzChartKind::Swept) {
                if (!hasX(s, i) || !std::isfinite(v))
                    continue;
                xlo = std::min(xlo, s.xs[i]);
                xhi = std::max(xhi, s.xs[i]);
            }
            if (std::isfinite(v)) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        }
    if (!(xlo <= xhi)) {
        xlo = 0;
        xhi = 1;
    }
    const bool hasValues = lo <= hi;
    if (hasValues && hi - lo < 1e-12 * std::max(1.0, std::abs(hi))) {
        lo -= std::max(1.0, std::abs(lo) * 0.1);
        hi += std::max(1.0, std::abs(hi) * 0.1);
    }
    // As many ticks as their labels have room for: a chart over a few lines stays readable.
    const int yCount = std::clamp(int((rest.height() - fm.height() * 2.4) / (fm.height() * 1.8)), 2, 5);
    const int xCount
        = std::clamp(int(rest.width() / (fm.horizontalAdvance(QStringLiteral("0000000")))), 2, 6);
    const std::vector<double> yTicks
        = hasValues ? roundedOut(lo, hi, yCount) : std::vector<double>{};
    const std::vector<double> xTicks = roundedOut(xlo, xhi, xCount);

    // At least three digits wide, so that charts stacked on a page line up their plots.
    double labelWidth = fm.horizontalAdvance(QStringLiteral("000"));
    for (double v : yTicks)
        labelWidth = std::max(labelWidth, fm.horizontalAdvance(tickText(v)));
    const QRectF plot(rest.left() + fm.height() * 1.3 + labelWidth + em * 0.4,
                      rest.top(),
                      rest.width() - (fm.height() * 1.3 + labelWidth + em * 0.4) - em * 0.6,
                      rest.height() - fm.height() * 2.4);
    if (plot.width() < 10 || plot.height() < 10) {
        painter.restore();
        return;
    }
    // In halves, so that a range from near the lowest double to near the highest stays finite.
    const auto share = [](double v, double a, double b) {
        return (v * 0.5 - a * 0.5) / (b * 0.5 - a * 0.5);
    };
    const auto px = [&](double v) {
        return xhi > xlo ? plot.left() + share(v, xlo, xhi) * plot.width() : plot.center().x();
    };
    const auto py = [&](double v) {
        return hi > lo ? plot.bottom() - share(v, lo, hi) * plot.height() : plot.center().y();
    };

    // Grid and tick labels.
    painter.setPen(QPen(kGrid, 1));
    for (double v : xTicks)
        painter.drawLine(QPointF(px(v), plot.top()), QPointF(px(v), plot.bottom()));
    for (double v : yTicks)
        painter.drawLine(QPointF(plot.left(), py(v)), QPointF(plot.right(), py(v)));
    painter.setPen(Qt::black);
    // A label that would run into the one drawn before it is left out.
    double xFree = -std::numeric_limits<double>::infinity();
    for (double v : xTicks) {
        const QString t = tickText(v);
        const double left = px(v) - fm.horizontalAdvance(t) / 2;
        if (left < xFree)
            continue;
        painter.drawText(QPointF(left, plot.bottom() + fm.ascent() + 2), t);
        xFree = left + fm.horizontalAdvance(t) + em * 0.5;
    }
    double yFree = std::numeric_limits<double>::infinity();
    for (double v : yTicks) {
        const QString t = tickText(v);
        const double baseline = py(v) + fm.ascent() / 2 - 1;
        if (baseline > yFree)
            continue;
        painter.drawText(QPointF(plot.left() - em * 0.3 - fm.horizontalAdvance(t), baseline), t);
        yFree = baseline - fm.height();
    }
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot);

    // Axis names.
    painter.drawText(QRectF(plot.left(), plot.bottom() + fm.height() + 2, plot.width(), fm.height()),
                     Qt::AlignHCenter | Qt::AlignTop,
                     chart.xName.isEmpty() ? withUnit(chart.input, chart.inputUnit) : chart.xName);
    QString yName = chart.yName;
    if (yName.isEmpty()) {
        QStringList units;
        for (const TqzChartSeries &s : chart.series)
            if (!s.unit.isEmpty() && !units.contains(s.unit))
                units.append(s.unit);
        yName = chart.outputs.size() == 1 && chart.data.isEmpty()
                    ? withUnit(chart.outputs.first(), units.value(0))
                    : units.join(QStringLiteral(", "));
    }
    painter.save();
    painter.translate(rest.left() + fm.ascent(), plot.center().y());
    painter.rotate(-90);
    painter.drawText(QRectF(-plot.height() / 2, -fm.ascent(), plot.height(), fm.height()),
                     Qt::AlignHCenter | Qt::AlignTop,
                     yName);
    painter.restore();

    if (!hasValues) {
        painter.drawText(plot,
                         Qt::AlignCenter,
                         computed ? QStringLiteral("无数据") : QStringLiteral("尚未计算"));
        painter.restore();
        return;
    }

    // The lines, broken where a case gave no number, and their markers; points last, on top.
    const std::vector<double> swept = chart.inputValues();
    painter.setClipRect(plot.adjusted(-em, -em, em, em));
    for (int pass = 0; pass < 2; ++pass)
        for (qsizetype k = 0; k < chart.series.size(); ++k) {
            const TqzChartSeries &s = chart.series[k];
            if ((s.kind == TqzChartKind::Point) != (pass == 1))
                continue;
            const QColor color = colors.value(k);
            const std::vector<double> &xs = s.kind == TqzChartKind::Swept ? swept : s.xs;
            const std::vector<double> &ys = s.values;
            const size_t n = std::min(xs.size(), ys.size());
            const auto at = [&](size_t i) { return QPointF(px(xs[i]), py(ys[i])); };
            const auto valid = [&](size_t i) {
                return std::isfinite(xs[i]) && std::isfinite(ys[i]);
            };
            if (s.kind == TqzChartKind::Point) {
                for (size_t i = 0; i < n; ++i) {
                    if (!valid(i))
                        continue;
                    // Guide lines down to the flow axis and across to the value axis.
                    painter.setPen(QPen(color.darker(130), 1, Qt::DashLine));
                    painter.drawLine(at(i), QPointF(at(i).x(), plot.bottom()));
                    painter.drawLine(at(i), QPointF(plot.left(), at(i).y()));
                    drawPointMarker(painter, color, at(i), em * 0.9);
                }
                continue;
            }
            QPainterPath path;
            bool open = false;
            for (size_t i = 0; i < n; ++i) {
                if (!valid(i)) {
                    open = false;
                    continue;
                }
                if (open)
                    path.lineTo(at(i));
                else
                    path.moveTo(at(i));
                open = true;
            }
            painter.setPen(QPen(color, std::max(1.0, em / 8)));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(path);
            painter.setBrush(color);
            // The points given as data in full size; computed ones smaller, and none when dense.
            const double size = s.kind == TqzChartKind::Curve ? em * 0.55 : em * 0.4;
            if (s.kind == TqzChartKind::Curve || n <= 60)
                for (size_t i = 0; i < n; ++i)
                    if (valid(i))
                        drawMarker(painter, int(k), at(i), size);
        }
    painter.restore();
}

QList<TqzChart> readChartsElement(const XmlElement &element)
{
    QList<TqzChart> charts;
    int index = 0;
    forEachChildElement(element, [&](const XmlElement &e) {
        if (e.name != kChart)
            return;
        ++index;
        TqzChart chart;
        const auto bad = [&](const QString &what, int line = 0) {
            return Error(QStringLiteral("chart %1 (line %2): %3")
                             .arg(index)
                             .arg(line > 0 ? line : e.line)
                             .arg(what));
        };
        chart.page = static_cast<int>(number(e, QStringLiteral("Page"), index));
        QString text;
        readAttribute(e, QStringLiteral("Cells"), text);
        const QStringList cells = text.split(QLatin1Char(','));
        bool ok = cells.size() == 4;
        int c[4] = {0, 0, 0, 0};
        for (int i = 0; ok && i < 4; ++i)
            c[i] = cells[i].trimmed().toInt(&ok);
        if (!ok || chart.page < 0 || c[0] < 0 || c[1] < 0 || c[2] < c[0] || c[3] < c[1])
            throw bad(QStringLiteral("\"Page\" and \"Cells\" (first line, cell, last line, "
                                     "cell) do not name a rectangle of cells: \"%1\"")
                          .arg(text));
        chart.first = {c[0], c[1]};
        chart.last = {c[2], c[3]};
        readAttribute(e, QStringLiteral("Title"), chart.title);
        readAttribute(e, QStringLiteral("Input"), chart.input);
        readAttribute(e, QStringLiteral("InputUnit"), chart.inputUnit);
        readAttribute(e, QStringLiteral("XName"), chart.xName);
        readAttribute(e, QStringLiteral("YName"), chart.yName);
        chart.from = number(e, QStringLiteral("From"), index);
        chart.to = number(e, QStringLiteral("To"), index);
        if (std::abs(chart.from) > kMaxChartInput || std::abs(chart.to) > kMaxChartInput)
            throw bad(QStringLiteral("\"From\" and \"To\" must lie within ±%1")
                          .arg(kMaxChartInput));
        readAttribute(e, QStringLiteral("Range"), chart.rangeNode);
        if (QString rv; readAttribute(e, QStringLiteral("RangeValue"), rv)) {
            chart.rangeValue = number(e, QStringLiteral("RangeValue"), index);
            if (chart.rangeNode.isEmpty() || !chartRangeFits(chart.from, chart.to, chart.rangeValue))
                throw bad(QStringLiteral("\"RangeValue\" needs a \"Range\" node, and \"From\" and "
                                         "\"To\" times it must lie within ±%1")
                              .arg(kMaxChartInput));
        }
        const double points = number(e, QStringLiteral("Points"), index);
        if (points < 2 || points > kMaxChartPoints || points != std::floor(points))
            throw bad(QStringLiteral("\"Points\" must be a whole number from 2 to %1")
                          .arg(kMaxChartPoints));
        chart.points = static_cast<int>(points);
        text.clear();
        readAttribute(e, QStringLiteral("Outputs"), text);
        chart.outputs = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
        forEachChildElement(e, [&](const XmlElement &d) {
            if (d.name != kData)
                return;
            TqzChartData data;
            QString kind;
            readAttribute(d, QStringLiteral("Kind"), kind);
            if (!kindOf(kind, data.kind) || data.kind == TqzChartKind::Swept)
                throw bad(QStringLiteral("data \"Kind\" must be \"curve\" or \"point\", not \"%1\"")
                              .arg(kind),
                          d.line);
            readAttribute(d, QStringLiteral("Name"), data.name);
            readAttribute(d, QStringLiteral("Count"), data.count);
            QString list;
            readAttribute(d, QStringLiteral("Points"), list);
            const QString why = parseChartPoints(list, data);
            if (!why.isEmpty())
                throw bad(QStringLiteral("data \"%1\": %2").arg(data.name, why), d.line);
            chart.data.append(data);
        });
        if ((!chart.outputs.isEmpty() && chart.input.isEmpty())
            || chart.outputs.size() + chart.data.size() < 1
            || chart.outputs.size() + chart.data.size() > kMaxChartOutputs)
            throw bad(QStringLiteral("a chart needs 1 to %1 \"Outputs\" and data, and an "
                                     "\"Input\" for its outputs")
                          .arg(kMaxChartOutputs));
        forEachChildElement(e, [&](const XmlElement &s) {
            if (s.name != kSeries)
                return;
            TqzChartSeries series;
            readAttribute(s, QStringLiteral("Name"), series.name);
            readAttribute(s, QStringLiteral("Unit"), series.unit);
            QString kind;
            if (readAttribute(s, QStringLiteral("Kind"), kind) && !kindOf(kind, series.kind))
                throw bad(QStringLiteral("series \"%1\": unknown \"Kind\" \"%2\"")
                              .arg(series.name, kind),
                          s.line);
            QString values;
            readAttribute(s, QStringLiteral("Values"), values);
            series.values = numbersOf(values);
            if (series.kind == TqzChartKind::Swept) {
                if (series.values.size() != static_cast<size_t>(chart.points))
                    throw bad(QStringLiteral("series \"%1\" holds %2 values for %3 points")
                                  .arg(series.name)
                                  .arg(series.values.size())
                                  .arg(chart.points),
                              s.line);
            } else {
                QString xs;
                readAttribute(s, QStringLiteral("X"), xs);
                series.xs = numbersOf(xs);
                const size_t most = series.kind == TqzChartKind::Point ? 1 : kMaxChartDataPoints;
                if (series.xs.size() != series.values.size() || series.values.size() > most)
                    throw bad(QStringLiteral("series \"%1\" holds %2 x and %3 values (at most %4)")
                                  .arg(series.name)
                                  .arg(series.xs.size())
                                  .arg(series.values.size())
                                  .arg(most),
                              s.line);
            }
            chart.series.append(series);
        });
        charts.append(chart);
    });
    return charts;
}

void writeChartsElement(QDomElement &element, const QList<TqzChart> &charts)
{
    QDomDocument doc = element.ownerDocument();
    while (!element.firstChild().isNull())
        element.removeChild(element.firstChild());
    const auto numbers = [](const std::vector<double> &values) {
        QStringList out;
        for (double v : values)
            out.append(std::isfinite(v) ? QString::number(v, 'g', 17) : QStringLiteral("-"));
        return out.join(QLatin1Char(' '));
    };
    for (const TqzChart &chart : charts) {
        QDomElement e = doc.createElement(kChart);
        e.setAttribute(QStringLiteral("Page"), chart.page);
        e.setAttribute(QStringLiteral("Cells"),
                       QStringLiteral("%1,%2,%3,%4")
                           .arg(chart.first.line)
                           .arg(chart.first.cell)
                           .arg(chart.last.line)
                           .arg(chart.last.cell));
        e.setAttribute(QStringLiteral("Title"), chart.title);
        e.setAttribute(QStringLiteral("Input"), chart.input);
        e.setAttribute(QStringLiteral("InputUnit"), chart.inputUnit);
        e.setAttribute(QStringLiteral("From"), QString::number(chart.from, 'g', 17));
        e.setAttribute(QStringLiteral("To"), QString::number(chart.to, 'g', 17));
        e.setAttribute(QStringLiteral("Points"), chart.points);
        e.setAttribute(QStringLiteral("Outputs"), chart.outputs.join(QLatin1Char(';')));
        // Written only when used, so that a chart of the first kind keeps its bytes.
        if (!chart.rangeNode.isEmpty()) {
            e.setAttribute(QStringLiteral("Range"), chart.rangeNode);
            if (std::isfinite(chart.rangeValue))
                e.setAttribute(QStringLiteral("RangeValue"),
                               QString::number(chart.rangeValue, 'g', 17));
        }
        if (!chart.xName.isEmpty())
            e.setAttribute(QStringLiteral("XName"), chart.xName);
        if (!chart.yName.isEmpty())
            e.setAttribute(QStringLiteral("YName"), chart.yName);
        for (const TqzChartData &data : chart.data) {
            QDomElement d = doc.createElement(kData);
            d.setAttribute(QStringLiteral("Kind"), kindName(data.kind));
            d.setAttribute(QStringLiteral("Name"), data.name);
            d.setAttribute(QStringLiteral("Count"), data.count);
            QStringList points;
            for (const auto &[x, y] : data.points)
                points.append(x + QLatin1Char(',') + y);
            d.setAttribute(QStringLiteral("Points"), points.join(QLatin1Char(';')));
            e.appendChild(d);
        }
        for (const TqzChartSeries &series : chart.series) {
            QDomElement s = doc.createElement(kSeries);
            s.setAttribute(QStringLiteral("Name"), series.name);
            s.setAttribute(QStringLiteral("Unit"), series.unit);
            if (series.kind != TqzChartKind::Swept) {
                s.setAttribute(QStringLiteral("Kind"), kindName(series.kind));
                s.setAttribute(QStringLiteral("X"), numbers(series.xs));
            }
            s.setAttribute(QStringLiteral("Values"), numbers(series.values));
            e.appendChild(s);
        }
        element.appendChild(e);
    }
}

bool chartRangeFits(double from, double to, double rangeValue)
{
    return std::isfinite(rangeValue) && std::abs(rangeValue) <= kMaxChartInput
           && std::abs(from * rangeValue) <= kMaxChartInput
           && std::abs(to * rangeValue) <= kMaxChartInput;
}

QString parseChartPoints(const QString &text, TqzChartData &data)
{
    data.points.clear();
    if (data.name.trimmed().isEmpty())
        return QStringLiteral("a curve or a point needs a name");
    const QStringList pairs = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < pairs.size(); ++i) {
        const QStringList xy = pairs[i].split(QLatin1Char(','));
        if (xy.size() != 2 || xy[0].trimmed().isEmpty() || xy[1].trimmed().isEmpty())
            return QStringLiteral("point %1 \"%2\" is not \"X,Y\" (a node name or a number each)")
                .arg(i + 1)
                .arg(pairs[i].trimmed());
        data.points.append({xy[0].trimmed(), xy[1].trimmed()});
    }
    if (data.kind == TqzChartKind::Point && (data.points.size() != 1 || !data.count.isEmpty()))
        return QStringLiteral("a point is one \"X,Y\" and has no \"Count\"");
    if (data.points.isEmpty() || data.points.size() > kMaxChartDataPoints)
        return QStringLiteral("a curve lists 1 to %1 points \"X,Y;X,Y...\"")
            .arg(kMaxChartDataPoints);
    return QString();
}

} // namespace tessarin
